// The installer hand-off and the whole road of one update, as a user walks it.
#include "EndToEnd.h"
#include "StandInInstaller.h"

using namespace e2e;

namespace
{
const char* const kFolder = "C:\\Updates";
const char* const kPackage = "C:\\Updates\\" SEEKWELL_PACKAGE_NAME;
const char* const kRanRecord = "C:\\Updates\\" SEEKWELL_PACKAGE_NAME ".ran.txt";
const char* const kOutlookPath = "C:\\Program Files\\Microsoft Office\\Office10\\OUTLOOK.EXE";

class Install : public EndToEnd
{
  protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        if (HasFatalFailure())
            return;
        MakeFolders(kFolder);
        DeleteFileA(kPackage);
        DeleteFileA(kRanRecord);
        testserver::ServeRelease("3.0.1.3");
    }

    void WaitGone(HWND window)
    {
        ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(window); }, 10000));
    }

    // Start, Yes, the folder chosen, and the download run to its end.
    void DownloadIntoFolder()
    {
        ASSERT_TRUE(m_updater.Launch(m_installation));
        HWND dialog = m_updater.Dialog();
        ASSERT_TRUE(ui::Click(dialog, IDC_START));
        HWND question = m_updater.WaitForModal();
        ASSERT_NE(nullptr, question);
        ASSERT_TRUE(ui::Click(question, IDYES));
        WaitGone(question);
        HWND saveAs = m_updater.WaitForModal();
        ASSERT_NE(nullptr, saveAs);
        ASSERT_TRUE(ui::AnswerSaveAs(saveAs, kPackage));
        ASSERT_TRUE(ui::WaitUntil([&] { return DownloadEnded(); }, 60000));
    }

    void ServeInstaller(const std::string& sidecar = std::string())
    {
        testserver::ServePackage(ReadFileBytes(BuildDirectory() + "fake_installer.exe"), sidecar);
    }

    // The close-applications dialog opened by Install, once its list is filled.
    HWND WaitForCloseApps(const std::vector<std::string>& listed)
    {
        HWND closeApps = m_updater.WaitForModal();
        EXPECT_NE(nullptr, closeApps);
        if (closeApps == nullptr)
            return nullptr;
        EXPECT_EQ("Installation", ui::Text(closeApps));
        std::vector<std::string> shown;
        EXPECT_TRUE(
            ui::WaitUntil([&] { return (shown = ui::ListItems(closeApps, IDC_APPLIST)) == listed; }, 10000))
            << ::testing::PrintToString(shown);
        return closeApps;
    }

    bool PackageRan() { return standin::WaitForInstallerRun(kPackage, 20000); }
};
} // namespace

TEST_F(Install, TheWholeRoadFromStartToARunningInstaller)
{
    const DWORD started = GetTickCount();
    ServeInstaller(R"({"drip": {"bytes": 8192, "every_ms": 30}})");
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    EXPECT_EQ("Quorvel Updater", ui::Text(dialog));
    EXPECT_EQ("Press Start to check for a new version of Quorvel.", StatusText());

    ASSERT_TRUE(ui::Click(dialog, IDC_START));
    HWND question = m_updater.WaitForModal();
    ASSERT_NE(nullptr, question);
    EXPECT_EQ("Checking for updates...", StatusText());
    EXPECT_EQ("Quorvel 3.0.1.3 is available.\nDo you want to download it now?",
              ui::ReadMessageBox(question).text);
    ASSERT_TRUE(ui::Click(question, IDYES));
    WaitGone(question);

    HWND saveAs = m_updater.WaitForModal();
    ASSERT_NE(nullptr, saveAs);
    EXPECT_EQ("Downloading the update...", StatusText());
    EXPECT_EQ(0, ui::ProgressPosition(dialog, IDC_PROGRESS));
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, std::string(kFolder) + "\\chosen.exe"));

    std::vector<int> positions;
    ASSERT_TRUE(ui::WaitUntil(
        [&]
        {
            const int position = ui::ProgressPosition(dialog, IDC_PROGRESS);
            if (positions.empty() || positions.back() != position)
                positions.push_back(position);
            return DownloadEnded();
        },
        60000));
    EXPECT_EQ(100, ui::ProgressPosition(dialog, IDC_PROGRESS));
    EXPECT_GE(positions.size(), 3u) << "the bar should be seen part-way";
    for (size_t i = 1; i < positions.size(); ++i)
        EXPECT_LE(positions[i - 1], positions[i]);
    EXPECT_EQ("The update has been downloaded. Press Install to install it.", StatusText());

    FakeProgram outlook(kOutlookPath);
    ASSERT_TRUE(ui::Click(dialog, IDC_INSTALL));
    HWND closeApps = WaitForCloseApps({"Outlook"});
    ASSERT_NE(nullptr, closeApps);
    EXPECT_FALSE(ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK));
    // The installation is held back while the dialog is open: a hand-off that did not
    // wait for it would show within this while.
    Sleep(300);
    EXPECT_TRUE(standin::InstallerHasNotRun(kPackage));

    outlook.Kill();
    ASSERT_TRUE(ui::Click(closeApps, IDC_RETRY));
    ASSERT_TRUE(ui::WaitUntil([&] { return ui::ItemEnabled(closeApps, IDC_CLOSEAPPS_OK); }, 10000));
    EXPECT_TRUE(ui::ListItems(closeApps, IDC_APPLIST).empty());
    ASSERT_TRUE(ui::Click(closeApps, IDC_CLOSEAPPS_OK));

    EXPECT_EQ(0u, m_updater.WaitForExit(20000)) << "the updater should be gone";
    ASSERT_TRUE(PackageRan());
    // The shell ran the checked copy, from the folder the updater made for it.
    const std::vector<std::string> handOff = standin::HandOffFolders();
    ASSERT_EQ(1u, handOff.size());
    const std::string copy = handOff[0] + "\\" SEEKWELL_PACKAGE_NAME;
    const std::string record = ReadFileBytes(standin::RunRecordOf(kPackage));
    EXPECT_EQ(copy, standin::RecordField(record, "path")) << record;
    EXPECT_EQ("\"" + copy + "\"", standin::RecordField(record, "command")) << record;
    EXPECT_EQ(handOff[0], standin::RecordField(record, "directory")) << record;
    EXPECT_TRUE(ReadFileBytes(copy) == ReadFileBytes(kPackage));
    EXPECT_FALSE(FileExists(kRanRecord));
    std::printf("the whole road took %lu ms\n", static_cast<unsigned long>(GetTickCount() - started));
}

TEST_F(Install, WithNothingRunningThePackageRunsAtOnce)
{
    ServeInstaller();
    DownloadIntoFolder();
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    EXPECT_TRUE(PackageRan());
}

TEST_F(Install, IgnoreRunsThePackageWhileOutlookRuns)
{
    ServeInstaller();
    DownloadIntoFolder();
    FakeProgram outlook(kOutlookPath);
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    HWND closeApps = WaitForCloseApps({"Outlook"});
    ASSERT_NE(nullptr, closeApps);
    ASSERT_TRUE(ui::Click(closeApps, IDC_IGNORE));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    EXPECT_TRUE(PackageRan());
    EXPECT_TRUE(outlook.Running());
}

// Install checks the file once more right before the hand-off: a file left by a failed
// download, or one swapped into the folder after a good download (here a runnable copy
// of the installer with one byte more), is never run; a message says so and the updater
// ends. Nor is an installer that the manifest names exactly (as whoever holds the
// manifest keys could make it) but that lacks the pinned code-signing key's signature.
TEST_F(Install, OnlyTheSignedPackageIsEverRun)
{
    const std::string installer = ReadFileBytes(BuildDirectory() + "fake_installer.exe");
    std::string signedThenChanged = installer;
    signedThenChanged[signedThenChanged.size() / 2] ^= 0x01;
    struct Row
    {
        const char* edge;
        std::string served;  // empty: the download fails
        std::string swapped; // written over the downloaded package; empty: none
    };
    const Row rows[] = {
        {"after a failed download", "", ""},
        {"package swapped after the download", installer, installer + "x"},
        {"an unsigned installer", ReadFileBytes(BuildDirectory() + "fake_installer-unsigned.exe"), ""},
        {"another key under the same name",
         ReadFileBytes(BuildDirectory() + "fake_installer-other-signer.exe"), ""},
        {"signed bytes changed afterwards", signedThenChanged, ""},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        DeleteFileA(kPackage);
        DeleteFileA(kRanRecord);
        testserver::ServeRelease("3.0.1.3");
        const bool downloadFails = row.served.empty();
        if (downloadFails)
            testserver::ServePackage("", R"({"status": 404})");
        else
            testserver::ServePackage(row.served);
        DownloadIntoFolder();
        HWND dialog = m_updater.Dialog();
        EXPECT_EQ(downloadFails ? kFailed : kDownloaded, StatusText());
        EXPECT_EQ(!downloadFails, FileExists(kPackage));
        if (!row.swapped.empty())
            testfiles::WriteFile(kPackage, row.swapped);

        ASSERT_TRUE(ui::Click(dialog, IDC_INSTALL));
        HWND box = m_updater.WaitForModal();
        ASSERT_NE(nullptr, box);
        const ui::MessageBoxView view = ui::ReadMessageBox(box);
        EXPECT_EQ(kInstallRefused, view.text);
        EXPECT_EQ(kCaption, view.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
        ASSERT_TRUE(ui::Click(box, IDOK));
        EXPECT_EQ(0u, m_updater.WaitForExit(20000));
        // Whatever the shell was given is running or has run by now.
        EXPECT_TRUE(standin::InstallerHasNotRun(kPackage));
        EXPECT_EQ(std::vector<std::string>{}, standin::HandOffFolders());
        m_updater.Kill();
    }
}

// Where the package cannot be made ready on this computer (the user's temporary folder is
// missing, or on a drive that is full) nothing runs, the package stays in the chosen
// folder, and a message in the module's language says that the cause lies here.
TEST_F(Install, WhereThePackageCannotBePreparedNothingRunsAndTheCauseIsSaid)
{
    const std::string installer = ReadFileBytes(BuildDirectory() + "fake_installer.exe");
    const std::string smallDrive = testserver::Env("SEEKWELL_TEST_SMALL_DRIVE");
    struct Row
    {
        const char* edge;
        const char* language;
        std::string temporary; // empty: the runner has no such drive
        const char* text;
        const char* caption;
    };
    const Row rows[] = {
        {"no temporary folder", "English", "C:\\No Such Temp\\", kHandOffNotPrepared, kCaption},
        {"no temporary folder, in German", "German", "C:\\No Such Temp\\",
         "Die Aktualisierung konnte nicht zur Installation vorbereitet werden, weil der Ordner f\xFCr "
         "tempor\xE4re Dateien fehlt, voll ist oder nicht beschrieben werden kann. Es wurde nichts "
         "gestartet. "
         "Bitte schaffen Sie freien Speicherplatz und f\xFChren Sie die Aktualisierung erneut aus.",
         "Quorvel-Aktualisierung"},
        {"a full drive", "English", smallDrive.empty() ? "" : smallDrive + "\\", kHandOffNotPrepared,
         kCaption},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.edge);
        if (row.temporary.empty())
        {
            RecordProperty(row.edge, "skipped: the runner has no small drive");
            continue;
        }
        DeleteFileA(kPackage);
        m_installation.Register(row.language);
        testserver::ServeRelease("3.0.1.3");
        ServeInstaller();
        // What the drive holds but a few kilobytes, for the folder and its marker.
        const std::string filler = row.temporary + "handoff-filler.bin";
        ULARGE_INTEGER free = {};
        if (row.temporary != "C:\\No Such Temp\\" &&
            GetDiskFreeSpaceExA(row.temporary.c_str(), &free, nullptr, nullptr) && free.QuadPart > 16384)
            testfiles::WriteFile(filler, std::string(static_cast<size_t>(free.QuadPart - 16384), 'f'));
        {
            const testfiles::ScopedVariable temporary("TMP", row.temporary);
            DownloadIntoFolder();
        }
        ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
        HWND box = m_updater.WaitForModal();
        ASSERT_NE(nullptr, box);
        const ui::MessageBoxView view = ui::ReadMessageBox(box);
        EXPECT_EQ(row.text, view.text);
        EXPECT_EQ(row.caption, view.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
        if (std::string(row.language) == "English")
            Screenshot(box, "handoff-not-prepared");
        ASSERT_TRUE(ui::Click(box, IDOK));
        EXPECT_EQ(0u, m_updater.WaitForExit(20000));
        EXPECT_TRUE(standin::InstallerHasNotRun(kPackage));
        EXPECT_TRUE(ReadFileBytes(kPackage) == installer);
        // Nothing of the hand-off is left where it was to be made.
        const std::vector<std::string> left = FilesIn(row.temporary.substr(0, row.temporary.size() - 1));
        EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"handoff-filler.bin"})
            << ::testing::PrintToString(left);
        DeleteFileA(filler.c_str());
        m_updater.Kill();
    }
}

// The vendor's bytes that no Windows can start as a program (a resource-only DLL of the
// build under the package's name): the shell refuses them, a message says so and where
// the package is, the updater ends as after any Install, and the package stays.
TEST_F(Install, APackageTheShellCannotStartIsReportedAndKept)
{
    const std::string notAProgram = ReadFileBytes(BuildDirectory() + "signed-not-a-program.exe");
    ASSERT_FALSE(notAProgram.empty());
    testserver::ServePackage(notAProgram);
    DownloadIntoFolder();
    EXPECT_EQ(kDownloaded, StatusText());

    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    HWND box = m_updater.WaitForModal();
    ASSERT_NE(nullptr, box);
    const ui::MessageBoxView view = ui::ReadMessageBox(box);
    EXPECT_EQ(kPackageNotStarted, view.text);
    EXPECT_EQ(kCaption, view.caption);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
    Screenshot(box, "package-not-started");
    ASSERT_TRUE(ui::Click(box, IDOK));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    EXPECT_TRUE(ReadFileBytes(kPackage) == notAProgram);
}
