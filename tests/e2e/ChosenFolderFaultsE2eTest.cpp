// The fault matrix of the folder the user chooses: a library planted there, a folder on
// a read-only or full drive or marked read-only, and paths at the length limit.
#include "FaultMatrix.h"
#include "StandInInstaller.h"

using namespace e2e;

// Whoever can write to the folder the user chose plants libraries there under the names
// that programs load. Install counts the mail programs through Psapi.dll, loaded by name:
// where the Save-As dialog makes that folder the current directory and the platform
// searches it before the system folder, only the start-up's removal of the current
// directory from the search keeps that plant out. Wine takes its own psapi before a copy
// in the current directory in any case (the record shows it), so here the test guards
// the outcome without being able to show the removal at work. The installer, usually
// elevated, looks for the libraries it loads by name in its own folder first: the stand-in
// loads one it does not ship, planted beside the package. It runs as the checked copy,
// from the folder the updater made for it, and loads nothing from the chosen folder.
TEST_F(FaultMatrix, LibrariesPlantedInTheChosenFolderAreNotLoaded)
{
    const std::string planted = std::string(kTargetFolder) + "\\Psapi.dll";
    const std::string loadedMarker = planted + ".loaded";
    const std::string plantedForTheInstaller = std::string(kTargetFolder) + "\\" SEEKWELL_STANDIN_LIBRARY;
    ASSERT_TRUE(CopyInto(BuildDirectory() + "fixtures\\planted\\Psapi.dll", planted));
    ASSERT_TRUE(
        CopyInto(BuildDirectory() + "fixtures\\planted\\" SEEKWELL_STANDIN_LIBRARY, plantedForTheInstaller));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof previous, previous);
    SetCurrentDirectoryA(kTargetFolder);
    HMODULE probe = LoadLibraryA("Psapi.dll");
    SetCurrentDirectoryA(previous);
    Record("PlantedLibrary.platform_takes_it_from_the_current_directory",
           FileExists(loadedMarker) ? "yes" : "no");
    if (probe != nullptr)
        FreeLibrary(probe);
    DeleteFileA(loadedMarker.c_str());

    const std::string installer = ReadFileBytes(BuildDirectory() + "fake_installer.exe");
    testserver::ServeRelease("3.0.1.3");
    testserver::ServePackage(installer);
    TakeSnapshots();
    DownloadInto(kTargetFolder);
    ASSERT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs)) << StatusText();
    ASSERT_EQ(kDownloaded, StatusText());
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    const std::string package = std::string(kTargetFolder) + "\\" + kPackageName;
    ASSERT_TRUE(standin::WaitForInstallerRun(package, 20000));
    const std::string record = ReadFileBytes(standin::RunRecordOf(package));
    Record("PlantedLibrary.current_directory_at_install", standin::RecordField(record, "directory"));
    EXPECT_FALSE(FileExists(loadedMarker));
    EXPECT_FALSE(FileExists(plantedForTheInstaller + ".loaded"));
    EXPECT_EQ("none", standin::RecordField(record, "library")) << record;
    const std::vector<std::string> handOff = standin::HandOffFolders();
    ASSERT_EQ(1u, handOff.size());
    EXPECT_EQ(handOff[0] + "\\" + kPackageName, standin::RecordField(record, "path")) << record;
    EXPECT_EQ(handOff[0], standin::RecordField(record, "directory")) << record;
    EXPECT_TRUE(ReadFileBytes(handOff[0] + "\\" + kPackageName) == installer);
    EXPECT_TRUE(ReadFileBytes(package) == installer);
    ExpectNothingWrittenOutside(kTargetFolder, handOff[0]);
    ExpectSettingsKept();
}

// The target folder: on a read-only drive or a full one the download fails and the
// older package stays; the read-only attribute does not stop writing into a folder
// (on Windows it never has), so the package arrives there.
namespace
{
struct TargetRow
{
    const char* edge;
    // Drive of the runner's that the row needs, or null for C:.
    const char* driveVariable;
    size_t packageSize;
    bool readOnlyAttribute;
    bool downloads;
};

void PrintTo(const TargetRow& row, std::ostream* out)
{
    *out << row.edge;
}

class TargetFolderFault : public FaultMatrix, public ::testing::WithParamInterface<TargetRow>
{
  protected:
    void TearDown() override
    {
        if (!m_cleanup.empty())
            testfiles::RemoveFolder(m_cleanup);
        FaultMatrix::TearDown();
    }
    std::string m_cleanup;
};
} // namespace

TEST_P(TargetFolderFault, KeepsTheOlderPackageWhenItCannotWrite)
{
    const TargetRow& row = GetParam();
    std::string folder = kTargetFolder;
    std::string writablePath = folder;
    if (row.driveVariable != nullptr)
    {
        const std::string drive = testserver::Env(row.driveVariable);
        if (drive.empty())
            GTEST_SKIP() << "the runner could not mount " << row.driveVariable;
        folder = drive + "\\Updates";
        writablePath = folder;
        if (std::string(row.driveVariable) == "SEEKWELL_TEST_READONLY_DRIVE")
            writablePath = testserver::Env("SEEKWELL_TEST_READONLY_SOURCE") + "\\Updates";
        m_cleanup = writablePath;
        MakeFolders(writablePath);
    }
    const std::string package = testfiles::MakePackage(row.packageSize, 3);
    testserver::ServeRelease("3.0.1.3");
    testserver::ServePackage(package);
    WriteOlderPackage(writablePath);
    if (row.readOnlyAttribute)
    {
        ASSERT_TRUE(SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    TakeSnapshots();
    DownloadInto(folder);
    ASSERT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs)) << "the download did not end: " << StatusText();
    Record(std::string(row.edge) + ".package_requests", std::to_string(CountRequestsFor(kPackageName)));
    const std::string packagePath = folder + "\\" + kPackageName;
    if (row.downloads)
    {
        EXPECT_EQ(kDownloaded, StatusText());
        EXPECT_TRUE(ReadFileBytes(packagePath) == package);
    }
    else
    {
        EXPECT_EQ(kFailed, StatusText());
        EXPECT_TRUE(ReadFileBytes(packagePath) == kOlderPackage);
    }
    EXPECT_EQ(std::vector<std::string>{kPackageName}, FilesIn(folder));
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside(folder);
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, TargetFolderFault,
    ::testing::Values(TargetRow{"ReadOnlyDrive", "SEEKWELL_TEST_READONLY_DRIVE", 64 * 1024, false, false},
                      TargetRow{"FullDrive", "SEEKWELL_TEST_SMALL_DRIVE", 3 * 1024 * 1024, false, false},
                      TargetRow{"ReadOnlyAttribute", nullptr, 64 * 1024, true, true}),
    [](const ::testing::TestParamInfo<TargetRow>& row) { return std::string(row.param.edge); });

// A path of 259 characters, the most the Save-As dialog's buffer holds. Only its folder
// is used: when the package's own name still fits after it, the package arrives; when
// it does not, the download fails before anything is asked of the server or written.
namespace
{
struct LongPathRow
{
    const char* edge;
    size_t folderLength;
    bool downloads;
};

void PrintTo(const LongPathRow& row, std::ostream* out)
{
    *out << row.edge;
}

class LongPath : public FaultMatrix, public ::testing::WithParamInterface<LongPathRow>
{
};

// A folder under the target folder whose path is exactly `length` characters long,
// made of parts of at most 60 characters.
std::string FolderOfLength(size_t length)
{
    std::string folder = kTargetFolder;
    while (length - folder.size() > 61)
        folder += "\\" + std::string(59, 'd');
    folder += "\\" + std::string(length - folder.size() - 1, 'd');
    return folder;
}
} // namespace

TEST_P(LongPath, UsesOnlyAFolderThatLeavesRoomForThePackage)
{
    const LongPathRow& row = GetParam();
    const std::string folder = FolderOfLength(row.folderLength);
    ASSERT_EQ(row.folderLength, folder.size());
    MakeFolders(folder);
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str()))
        << "the platform made no such folder";
    const std::string confirmedName = std::string(259 - folder.size() - 1 - 4, 'n') + ".exe";
    const std::string confirmed = folder + "\\" + confirmedName;
    ASSERT_EQ(259u, confirmed.size());
    testserver::ServeRelease("3.0.1.3");
    testserver::ServePackage(kPackage);
    TakeSnapshots();
    LaunchAndStart();
    HWND saveAs = AcceptOffer();
    ASSERT_NE(nullptr, saveAs);
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, confirmed));
    ASSERT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs)) << "the download did not end: " << StatusText();
    const std::string packagePath = folder + "\\" + kPackageName;
    Record(std::string(row.edge) + ".package_path_length", std::to_string(packagePath.size()));
    if (row.downloads)
    {
        EXPECT_EQ(kDownloaded, StatusText());
        EXPECT_TRUE(ReadFileBytes(packagePath) == kPackage);
        EXPECT_EQ(std::vector<std::string>{kPackageName}, FilesIn(folder));
    }
    else
    {
        EXPECT_EQ(kFailed, StatusText());
        EXPECT_EQ(0u, CountRequestsFor(kPackageName));
        EXPECT_EQ(std::vector<std::string>{}, FilesIn(folder));
    }
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside(folder);
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(Paths, LongPath,
                         ::testing::Values(LongPathRow{"PackagePathFits", 200, true},
                                           LongPathRow{"PackagePathTooLong", 250, false}),
                         [](const ::testing::TestParamInfo<LongPathRow>& row)
                         { return std::string(row.param.edge); });
