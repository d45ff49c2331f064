#include "ModulePath.h"

#include "RowName.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
struct ComposeRow
{
    const char* edge;
    std::string appPath;
    std::string language;
    std::string modulePath;
};

const ComposeRow kComposeRows[] = {
    {"installation directory with backslash", "C:\\Program Files\\Quorvel\\", "English",
     "C:\\Program Files\\Quorvel\\Languages\\English\\Res.dll"},
    {"French module", "C:\\Program Files\\Quorvel\\", "French",
     "C:\\Program Files\\Quorvel\\Languages\\French\\Res.dll"},
    {"no backslash after AppPath, nothing inserted", "C:\\Quorvel", "English",
     "C:\\QuorvelLanguages\\English\\Res.dll"},
    {"empty AppPath gives a relative path", "", "English", "Languages\\English\\Res.dll"},
    {"empty language composed as given", "C:\\Q\\", "", "C:\\Q\\Languages\\\\Res.dll"},
};

class ComposeTest : public testing::TestWithParam<ComposeRow>
{
};

TEST_P(ComposeTest, ConcatenatesWithoutSeparator)
{
    const ComposeRow& row = GetParam();
    EXPECT_EQ(row.modulePath, ComposeModulePath(row.appPath, row.language)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, ComposeTest, testing::ValuesIn(kComposeRows), RowName());

TEST(ModulePath, LongPartsAreNotCut)
{
    const std::string appPath = "C:\\" + std::string(257, 'a') + "\\";
    const std::string language(260, 'b');
    const std::string path = ComposeModulePath(appPath, language);
    EXPECT_EQ(appPath.size() + 10 + language.size() + 8, path.size());
    EXPECT_GT(path.size(), kMaxPath);
}

struct QualifiedRow
{
    const char* edge;
    std::string path;
    bool fullyQualified;
};

const QualifiedRow kQualifiedRows[] = {
    {"drive and backslash", "C:\\Q\\Res.dll", true},
    {"lower-case drive", "z:\\Res.dll", true},
    {"network share", "\\\\srv\\share\\Res.dll", true},
    {"drive-relative", "C:Q\\Res.dll", false},
    {"drive alone", "C:", false},
    {"root of the current drive", "\\Q\\Res.dll", false},
    {"relative", "Languages\\English\\Res.dll", false},
    {"empty", "", false},
    {"digit instead of a drive letter", "1:\\Res.dll", false},
};

class QualifiedTest : public testing::TestWithParam<QualifiedRow>
{
};

TEST_P(QualifiedTest, RecognisesPathsTheLoaderTakesAsTheyAre)
{
    const QualifiedRow& row = GetParam();
    EXPECT_EQ(row.fullyQualified, IsFullyQualifiedPath(row.path)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, QualifiedTest, testing::ValuesIn(kQualifiedRows), RowName());

struct AnchorRow
{
    const char* edge;
    std::string path;
    std::string anchored;
};

// All rows anchor to the updater's own directory C:\U\.
const AnchorRow kAnchorRows[] = {
    {"relative module path", "Languages\\English\\Res.dll", "C:\\U\\Languages\\English\\Res.dll"},
    {"fully qualified unchanged", "C:\\Q\\Languages\\English\\Res.dll", "C:\\Q\\Languages\\English\\Res.dll"},
    {"network share unchanged", "\\\\srv\\q\\Res.dll", "\\\\srv\\q\\Res.dll"},
    {"drive prefix dropped", "C:Quorvel\\Languages\\English\\Res.dll",
     "C:\\U\\Quorvel\\Languages\\English\\Res.dll"},
    {"root-relative backslash dropped", "\\Quorvel\\Res.dll", "C:\\U\\Quorvel\\Res.dll"},
    {"leading forward slash dropped", "/x/Res.dll", "C:\\U\\x/Res.dll"},
    {"drive then backslashes", "D:\\", "D:\\"},
    {"drive then forward slash", "D:/Res.dll", "C:\\U\\Res.dll"},
    {"empty path", "", "C:\\U\\"},
};

class AnchorTest : public testing::TestWithParam<AnchorRow>
{
};

TEST_P(AnchorTest, NeverLeavesARelativePath)
{
    const AnchorRow& row = GetParam();
    const std::string anchored = AnchorToDirectory(row.path, "C:\\U\\");
    EXPECT_EQ(row.anchored, anchored) << row.edge;
    EXPECT_TRUE(IsFullyQualifiedPath(anchored)) << row.edge;
}

INSTANTIATE_TEST_SUITE_P(Rows, AnchorTest, testing::ValuesIn(kAnchorRows), RowName());
} // namespace
