// The fault matrix of the modules read at start-up and by the check: damaged language
// modules and a product module whose version resource is damaged.
#include <algorithm>

#include "FaultMatrix.h"

using namespace e2e;

// A damaged language module in the place of the English one. One the platform cannot
// load is reported in the resources-not-found message, and the updater goes on with
// empty texts; one that loads but whose string tables are damaged shows what it can.
// Either way the check still runs, and ends with the warning that the update
// information cannot be trusted: none of these modules names a package (string 524)
// that the signed manifest could list.
namespace
{
struct ModuleRow
{
    const char* edge;
    void (*arrange)(const Installation& installation);
    bool reported;
    const char* caption;
};

void PrintTo(const ModuleRow& row, std::ostream* out)
{
    *out << row.edge;
}

class LanguageModuleFault : public FaultMatrix, public ::testing::WithParamInterface<ModuleRow>
{
};

std::string EnglishModulePath(const Installation& installation)
{
    return installation.Directory() + "Languages\\English\\Res.dll";
}

void TruncateEnglishModule(const Installation& installation, size_t keptBytes)
{
    const std::string bytes = ReadFileBytes(EnglishModulePath(installation));
    testfiles::WriteFile(EnglishModulePath(installation), bytes.substr(0, keptBytes));
}
} // namespace

TEST_P(LanguageModuleFault, NeitherCrashesNorStopsTheCheck)
{
    const ModuleRow& row = GetParam();
    row.arrange(m_installation);
    testserver::ServeRelease("3.0.1.2");
    TakeSnapshots();
    ASSERT_TRUE(m_updater.Start(m_installation.Directory() + "Seekwell.exe", "", m_installation.Directory()));
    if (row.reported)
    {
        HWND box = ui::WaitForDialog(m_updater.Id(), "Quorvel", 20000);
        ASSERT_NE(nullptr, box);
        const ui::MessageBoxView view = ReadBox(box);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_OK), view.Style());
        EXPECT_TRUE(StartsWith(view.text, kResourcesNotFound)) << view.text;
        const size_t error = view.text.find("Error: ");
        std::string reported = view.text.substr(error, view.text.find("\nPath") - error);
        std::replace(reported.begin(), reported.end(), '\n', ' ');
        Record(std::string(row.edge) + ".reported", reported);
        Answer(box, IDOK);
    }
    HWND dialog = ui::WaitForDialog(m_updater.Id(), row.caption, 20000);
    ASSERT_NE(nullptr, dialog);
    EXPECT_TRUE(ui::Click(dialog, IDC_START));
    HWND box = ui::WaitForOwnedDialog(dialog, kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end";
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), ReadBox(box).Style());
    Answer(box, IDOK);
    ASSERT_TRUE(ui::Click(dialog, IDC_CANCEL));
    EXPECT_EQ(0u, m_updater.WaitForExit(10000));

    if (row.reported)
        ExpectSeededKeepingUserValues(ReadUserSettings());
    else
        ExpectSettingsKept();
    ExpectNothingWrittenOutside("");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LanguageModuleFault,
    ::testing::Values(
        ModuleRow{"TruncatedToHalf",
                  [](const Installation& installation) {
                      TruncateEnglishModule(installation,
                                            ReadFileBytes(EnglishModulePath(installation)).size() / 2);
                  },
                  true, ""},
        ModuleRow{"TruncatedInItsHeaders",
                  [](const Installation& installation) { TruncateEnglishModule(installation, 200); }, true,
                  ""},
        ModuleRow{"NotAModule",
                  [](const Installation& installation)
                  { testfiles::WriteFile(EnglishModulePath(installation), "This is no module.\r\n"); },
                  true, ""},
        ModuleRow{"MalformedStringTables",
                  [](const Installation& installation)
                  { installation.InstallLanguage("Malformed", "English"); },
                  false, ""},
        ModuleRow{"DamagedCatalogueBlocks",
                  [](const Installation& installation)
                  { installation.InstallLanguage("FaultyCatalogue", "English"); },
                  false, "Faulty caption"},
        ModuleRow{"SparseCatalogue",
                  [](const Installation& installation) { installation.InstallLanguage("Sparse", "English"); },
                  false, "Sparse caption"}),
    [](const ::testing::TestParamInfo<ModuleRow>& row) { return std::string(row.param.edge); });

// A Quorvel.dll whose version resource is damaged in one place. What cannot be read
// counts as version 0.0.0.0, which differs from the server's and is offered. Wine's
// version functions look neither at the fixed part's signature nor at the root block's
// length or key, so those rows still read 3.0.1.2; the version numbers themselves are
// intact there. No row may crash the updater.
namespace
{
enum class InstalledRead
{
    AsBuilt,
    AsZero,
};

struct ProductRow
{
    const char* edge;
    std::string (*corrupt)(std::string bytes);
    InstalledRead read;
};

void PrintTo(const ProductRow& row, std::ostream* out)
{
    *out << row.edge;
}

class ProductModuleFault : public FaultMatrix, public ::testing::WithParamInterface<ProductRow>
{
};

// Offset of the version resource's root block: its header comes right before the key.
size_t VersionRoot(const std::string& bytes)
{
    const std::string key("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
    const size_t at = bytes.find(key);
    return at == std::string::npos || at < 6 ? std::string::npos : at - 6;
}

size_t FixedInfo(const std::string& bytes)
{
    return bytes.find(std::string("\xBD\x04\xEF\xFE", 4));
}

void PutWord(std::string& bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}
} // namespace

TEST_P(ProductModuleFault, IsReadAsAVersionOrAsNone)
{
    const ProductRow& row = GetParam();
    const std::string built = ReadFileBytes(BuildDirectory() + "Quorvel.dll");
    ASSERT_NE(std::string::npos, VersionRoot(built));
    ASSERT_NE(std::string::npos, FixedInfo(built));
    testfiles::WriteFile(m_installation.Directory() + "Quorvel.dll", row.corrupt(built));
    testserver::ServeRelease("3.0.1.2");
    TakeSnapshots();
    LaunchAndStart();
    HWND box = m_updater.WaitForModal(kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end";
    const ui::MessageBoxView view = ReadBox(box);
    Record(std::string(row.edge) + ".outcome", view.text);
    if (row.read == InstalledRead::AsBuilt)
    {
        EXPECT_EQ("Your copy of Quorvel is up to date.", view.text);
        Answer(box, IDOK);
    }
    else
    {
        EXPECT_EQ("Quorvel 3.0.1.2 is available.\nDo you want to download it now?", view.text);
        Answer(box, IDNO);
    }
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside("");
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ProductModuleFault,
    ::testing::Values(ProductRow{"FixedInfoSignatureZeroed",
                                 [](std::string bytes)
                                 {
                                     bytes.replace(FixedInfo(bytes), 4, std::string(4, '\0'));
                                     return bytes;
                                 },
                                 InstalledRead::AsBuilt},
                      ProductRow{"FixedInfoLengthZero",
                                 [](std::string bytes)
                                 {
                                     PutWord(bytes, VersionRoot(bytes) + 2, 0);
                                     return bytes;
                                 },
                                 InstalledRead::AsZero},
                      ProductRow{"RootLengthZero",
                                 [](std::string bytes)
                                 {
                                     PutWord(bytes, VersionRoot(bytes), 0);
                                     return bytes;
                                 },
                                 InstalledRead::AsBuilt},
                      ProductRow{"RootLengthPastTheResource",
                                 [](std::string bytes)
                                 {
                                     PutWord(bytes, VersionRoot(bytes), 0xFFFF);
                                     return bytes;
                                 },
                                 InstalledRead::AsBuilt},
                      ProductRow{"KeyTextChanged",
                                 [](std::string bytes)
                                 {
                                     bytes[VersionRoot(bytes) + 6] = 'X';
                                     return bytes;
                                 },
                                 InstalledRead::AsBuilt},
                      ProductRow{"VersionBlockZeroed",
                                 [](std::string bytes)
                                 {
                                     const size_t root = VersionRoot(bytes);
                                     const size_t length =
                                         static_cast<unsigned char>(bytes[root]) |
                                         (static_cast<size_t>(static_cast<unsigned char>(bytes[root + 1]))
                                          << 8);
                                     bytes.replace(root, length, std::string(length, '\0'));
                                     return bytes;
                                 },
                                 InstalledRead::AsZero},
                      ProductRow{"TruncatedBeforeTheResource",
                                 [](std::string bytes) { return bytes.substr(0, VersionRoot(bytes)); },
                                 InstalledRead::AsZero},
                      ProductRow{"NotAModule",
                                 [](std::string) { return std::string("This is no module.\r\n"); },
                                 InstalledRead::AsZero}),
    [](const ::testing::TestParamInfo<ProductRow>& row) { return std::string(row.param.edge); });
