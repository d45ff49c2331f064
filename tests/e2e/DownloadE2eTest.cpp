// The package download as a user sees it: the Save-As dialog, the moving bar, the
// status line and Install after each outcome, and what is left in the chosen folder.
#include "CodePage.h"
#include "EndToEnd.h"

#include <vector>

using namespace e2e;

using testfiles::MakePackage;

namespace
{
const char* const kPackageRequestLine = "GET http://" SEEKWELL_UPDATE_HOST ":80/store/" SEEKWELL_UPDATE_TOKEN
                                        "/Quorvel30/" SEEKWELL_PACKAGE_NAME " HTTP/1.1";
constexpr int kSaveAsFileName = 0x47C;

void EmptyFolder(const std::string& folder)
{
    for (const std::string& name : FilesIn(folder))
        DeleteFileA((folder + "\\" + name).c_str());
}

// The request lines of the package requests in the server's log.
std::vector<std::string> PackageRequests()
{
    std::vector<std::string> lines;
    for (const std::string& line : testserver::RequestLog())
    {
        if (line.find("/Quorvel30/" SEEKWELL_PACKAGE_NAME) != std::string::npos)
            lines.push_back(line.substr(0, line.find(" | UA: ")));
    }
    return lines;
}

class Download : public EndToEnd
{
  protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        if (HasFatalFailure())
            return;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = info->name();
        for (char& c : name)
            c = (c == '/') ? '-' : c;
        m_folder = "C:\\dl-e2e\\" + name;
        MakeFolders(m_folder);
        EmptyFolder(m_folder);
        m_package = m_folder + "\\" SEEKWELL_PACKAGE_NAME;
        testserver::ServeRelease("3.0.1.3");
    }

    // Starts the updater, accepts the offered update and returns the Save-As dialog.
    HWND OpenSaveAs()
    {
        if (!m_updater.Launch(m_installation) || !ui::Click(m_updater.Dialog(), IDC_START))
            return nullptr;
        HWND box = m_updater.WaitForModal();
        if (box == nullptr || !ui::Click(box, IDYES) || !ui::WaitUntil([&] { return !IsWindow(box); }, 10000))
            return nullptr;
        return m_updater.WaitForModal();
    }

    // Waits until the status line no longer says that the download runs.
    std::string WaitForOutcome(DWORD timeoutMs)
    {
        (void)ui::WaitUntil([&] { return StatusText() != kDownloading; }, timeoutMs);
        return StatusText();
    }

    // Confirms `path` in Save-As and waits for the outcome.
    std::string DownloadVia(const std::string& path, DWORD timeoutMs = 30000)
    {
        HWND saveAs = OpenSaveAs();
        EXPECT_NE(nullptr, saveAs);
        if (saveAs == nullptr)
            return "<no Save-As>";
        EXPECT_TRUE(ui::AnswerSaveAs(saveAs, path));
        return WaitForOutcome(timeoutMs);
    }

    void ExpectInstallOffered() const
    {
        EXPECT_TRUE(ui::ItemEnabled(m_updater.Dialog(), IDC_INSTALL));
        EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_START));
    }

    std::string m_folder;
    std::string m_package;
};
} // namespace

TEST_F(Download, GoodPackageMovesTheBarAndArrivesWhole)
{
    const std::string package = MakePackage(1024 * 1024, 1);
    testserver::ServePackage(package, R"({"drip": {"bytes": 32768, "every_ms": 40}})");
    HWND saveAs = OpenSaveAs();
    ASSERT_NE(nullptr, saveAs);
    EXPECT_EQ(SEEKWELL_PACKAGE_NAME, ui::ItemText(saveAs, kSaveAsFileName));
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, m_folder + "\\any name.exe"));

    HWND dialog = m_updater.Dialog();
    std::vector<int> positions;
    ASSERT_TRUE(ui::WaitUntil(
        [&]
        {
            const int position = ui::ProgressPosition(dialog, IDC_PROGRESS);
            if (positions.empty() || positions.back() != position)
                positions.push_back(position);
            return StatusText() != kDownloading;
        },
        30000));

    EXPECT_EQ(kDownloaded, StatusText());
    ExpectInstallOffered();
    EXPECT_EQ(100, ui::ProgressPosition(dialog, IDC_PROGRESS));
    int between = 0;
    for (int position : positions)
        between += (position > 0 && position < 100) ? 1 : 0;
    EXPECT_GE(between, 2) << "the bar was seen at " << positions.size() << " positions";
    EXPECT_TRUE(ReadFileBytes(m_package) == package);
    EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
    EXPECT_EQ(std::vector<std::string>{kPackageRequestLine}, PackageRequests());
}

TEST_F(Download, DriveRootTakesThePackageUnderItsOwnName)
{
    const std::string package = MakePackage(64 * 1024, 2);
    testserver::ServePackage(package);
    DeleteFileA("C:\\" SEEKWELL_PACKAGE_NAME);

    EXPECT_EQ(kDownloaded, DownloadVia("C:\\x.exe"));

    EXPECT_TRUE(ReadFileBytes("C:\\" SEEKWELL_PACKAGE_NAME) == package);
    EXPECT_FALSE(FileExists("C:\\x.exe"));
    DeleteFileA("C:\\" SEEKWELL_PACKAGE_NAME);
}

TEST_F(Download, ConfirmingAnExistingFileAsksBeforeAndKeepsIt)
{
    const std::string package = MakePackage(64 * 1024, 3);
    testserver::ServePackage(package);
    const std::string existing = m_folder + "\\mine.exe";
    testfiles::WriteFile(existing, "mine");
    HWND saveAs = OpenSaveAs();
    ASSERT_NE(nullptr, saveAs);
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, existing));

    // The overwrite question belongs to the Save-As dialog and concerns the confirmed
    // name; the package is still saved under its own.
    HWND question = ui::WaitForOwnedDialog(saveAs, 10000);
    ASSERT_NE(nullptr, question);
    ASSERT_TRUE(ui::Click(question, IDYES));

    EXPECT_EQ(kDownloaded, WaitForOutcome(30000));
    EXPECT_EQ("mine", ReadFileBytes(existing));
    EXPECT_TRUE(ReadFileBytes(m_package) == package);
}

namespace
{
struct FailedDownload
{
    const char* name;
    bool served;
    const char* sidecar;
    bool olderPackage;
};

class DownloadFails : public Download, public ::testing::WithParamInterface<FailedDownload>
{
};
} // namespace

// None of these may leave a package behind; an older one at the same place survives.
TEST_P(DownloadFails, ShowsFailureAndLeavesNoBrokenPackage)
{
    const FailedDownload& row = GetParam();
    if (row.served)
        testserver::ServePackage(MakePackage(512 * 1024, 4), row.sidecar);
    else
        DeleteFileA((testserver::ProductFolder() + "\\" SEEKWELL_PACKAGE_NAME).c_str());
    const std::string older = MakePackage(4096, 5);
    if (row.olderPackage)
        testfiles::WriteFile(m_package, older);

    // Another name in the same folder, so that Save-As has nothing to ask about.
    EXPECT_EQ(kFailed, DownloadVia(m_folder + "\\chosen.exe"));

    ExpectInstallOffered();
    if (row.olderPackage)
    {
        EXPECT_TRUE(ReadFileBytes(m_package) == older);
        EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(m_folder));
    }
    else
    {
        EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
    }
    EXPECT_EQ(std::vector<std::string>{kPackageRequestLine}, PackageRequests());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DownloadFails,
    ::testing::Values(FailedDownload{"NotFound", false, "", false},
                      FailedDownload{"NotFoundOverOlder", false, "", true},
                      FailedDownload{"ServerError", true, R"({"status": 500, "body": "<html>oops</html>"})",
                                     false},
                      FailedDownload{"ClosedEarly", true, R"({"close_after_bytes": 200000})", false},
                      FailedDownload{"ClosedEarlyOverOlder", true, R"({"close_after_bytes": 200000})", true},
                      FailedDownload{"LengthOverstated", true, R"({"content_length": 600000})", true}),
    [](const ::testing::TestParamInfo<FailedDownload>& row) { return std::string(row.param.name); });

TEST_F(Download, FolderThatCannotBeWrittenFailsWithoutARequest)
{
    testserver::ServePackage(MakePackage(4096, 6));

    EXPECT_EQ(kFailed, DownloadVia("Z:\\proc\\" SEEKWELL_PACKAGE_NAME));

    ExpectInstallOffered();
    EXPECT_TRUE(PackageRequests().empty());
}

namespace
{
struct Dismissal
{
    const char* name;
    void (*dismiss)(HWND saveAs);
};

class SaveAsDismissed : public Download, public ::testing::WithParamInterface<Dismissal>
{
};
} // namespace

TEST_P(SaveAsDismissed, EndsTheCheckAndWritesNothing)
{
    testserver::ServePackage(MakePackage(4096, 7));
    HWND saveAs = OpenSaveAs();
    ASSERT_NE(nullptr, saveAs);
    GetParam().dismiss(saveAs);

    ASSERT_TRUE(ui::WaitUntil([&] { return StatusText() == kCheckEnded; }, 10000)) << StatusText();
    EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0, ui::ProgressPosition(m_updater.Dialog(), IDC_PROGRESS));
    EXPECT_TRUE(PackageRequests().empty());
    // Save-As opens in the updater's own folder: nothing may appear there either.
    EXPECT_FALSE(FileExists(m_installation.Directory() + SEEKWELL_PACKAGE_NAME));
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
}

INSTANTIATE_TEST_SUITE_P(Ways, SaveAsDismissed,
                         ::testing::Values(Dismissal{"CancelButton", [](HWND w) { ui::Click(w, IDCANCEL); }},
                                           Dismissal{"Escape", [](HWND w) { ui::PressKey(w, VK_ESCAPE); }},
                                           Dismissal{"CloseBox", [](HWND w) { ui::CloseBox(w); }}),
                         [](const ::testing::TestParamInfo<Dismissal>& row)
                         { return std::string(row.param.name); });

// The pump bypasses the dialog manager: Escape, Enter and Tab reach the focused button
// as plain keys and do nothing, so the transfer and the dialog carry on. The server
// holds back the last 32 KiB until the keys are pressed, so they come during the
// transfer however slow the machine is.
TEST_F(Download, DialogKeysDoNothingDuringTheTransfer)
{
    const std::string package = MakePackage(768 * 1024, 8);
    testserver::Hold lastPiece(".last-piece");
    testserver::ServePackage(package, R"({"drip": {"bytes": 32768, "every_ms": 80}, "stall_after_bytes": )" +
                                          std::to_string(package.size() - 32768) +
                                          R"(, "stall_ms": 0, "held_by": ".last-piece"})");
    HWND saveAs = OpenSaveAs();
    ASSERT_NE(nullptr, saveAs);
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, m_package));
    HWND dialog = m_updater.Dialog();
    ASSERT_TRUE(ui::WaitUntil([&] { return !PackageRequests().empty(); }, 20000)) << "no transfer began";
    const int focused = ui::FocusedControlId(dialog);

    for (UINT key : {VK_ESCAPE, VK_RETURN, VK_TAB})
        ui::PressKey(dialog, key);

    lastPiece.Release();
    EXPECT_EQ(kDownloaded, WaitForOutcome(30000));
    EXPECT_TRUE(m_updater.Running());
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(focused, ui::FocusedControlId(dialog));
    EXPECT_TRUE(ReadFileBytes(m_package) == package);
}

// Cancel stays live during the transfer and ends the dialog, but only once the
// transfer has run to its end: the package is complete when the updater exits. The
// server holds back the last 32 KiB until the updater has been watched after Cancel, so
// the transfer cannot end meanwhile however slow the machine is. (The bar is not read:
// a dialog whose transfer is held answers only every few seconds.)
TEST_F(Download, CancelDuringTheTransferEndsTheUpdaterAfterIt)
{
    const std::string package = MakePackage(768 * 1024, 9);
    testserver::Hold lastPiece(".last-piece");
    testserver::ServePackage(package, R"({"drip": {"bytes": 32768, "every_ms": 100}, "stall_after_bytes": )" +
                                          std::to_string(package.size() - 32768) +
                                          R"(, "stall_ms": 0, "held_by": ".last-piece"})");
    HWND saveAs = OpenSaveAs();
    ASSERT_NE(nullptr, saveAs);
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, m_package));
    ASSERT_TRUE(ui::WaitUntil([&] { return !PackageRequests().empty(); }, 20000)) << "no transfer began";

    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_CANCEL));
    EXPECT_EQ(static_cast<DWORD>(STILL_ACTIVE), m_updater.WaitForExit(800)) << "ended mid-transfer";
    EXPECT_FALSE(FileExists(m_package));

    lastPiece.Release();
    EXPECT_NE(static_cast<DWORD>(STILL_ACTIVE), m_updater.WaitForExit(30000));
    EXPECT_TRUE(ReadFileBytes(m_package) == package);
}

namespace
{
// Runs only through its own ctest entry (label "slow"): it takes a minute and a half.
class DownloadTimeLimit : public Download
{
};

// Milliseconds on the system clock, the clock the updater's limit counts on. Wine's
// GetTickCount is read from a value its server refreshes, which may lag on a loaded
// machine; a limit is checked against the clock it is kept by.
uint64_t SystemClockMs()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10'000;
}
} // namespace

// Data keeps flowing well past 80 seconds; the first notification after the limit
// ends the transfer, and what had arrived is removed.
TEST_F(DownloadTimeLimit, DISABLED_RealTransferPastEightySecondsIsAborted)
{
    // 16 KiB every 400 ms: 4 MiB would take about 100 s.
    testserver::ServePackage(MakePackage(4 * 1024 * 1024, 10),
                             R"({"drip": {"bytes": 16384, "every_ms": 400}})");
    HWND saveAs = OpenSaveAs();
    ASSERT_NE(nullptr, saveAs);
    const uint64_t confirmed = SystemClockMs();
    const DWORD confirmedTicks = GetTickCount();
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, m_package));

    const std::string outcome = WaitForOutcome(120000);
    const uint64_t elapsedMs = SystemClockMs() - confirmed;
    const DWORD elapsedTicks = GetTickCount() - confirmedTicks;

    EXPECT_EQ(kFailed, outcome);
    // The limit counts whole seconds from just before the transfer: the abort comes in
    // the 81st or 82nd second, well before the package could have arrived.
    EXPECT_GE(elapsedMs, 79'000u) << "tick count: " << elapsedTicks << " ms";
    EXPECT_LE(elapsedMs, 90'000u) << "tick count: " << elapsedTicks << " ms";
    ExpectInstallOffered();
    const int position = ui::ProgressPosition(m_updater.Dialog(), IDC_PROGRESS);
    EXPECT_GT(position, 50);
    EXPECT_LT(position, 100);
    EXPECT_EQ(std::vector<std::string>{}, FilesIn(m_folder));
}

namespace
{
// Runs where the test runner starts these tests with a double-byte locale (code page
// 932), which the updater started from here inherits; skipped elsewhere.
class DoubleBytePath : public Download
{
  protected:
    void SetUp() override
    {
        const std::string whyNot = codepage::WhyNotDoubleByte();
        if (!whyNot.empty())
            GTEST_SKIP() << whyNot;
        Download::SetUp();
    }
};
} // namespace

// 0x83 0x5C is one character whose trail byte is a backslash: the folder is cut at the
// last real backslash, never inside a character.
TEST_F(DoubleBytePath, FolderWithATrailByteBackslashTakesThePackage)
{
    const std::string folder = m_folder + "\\\x83\x5C";
    MakeFolders(folder);
    EmptyFolder(folder);
    const std::string package = MakePackage(128 * 1024, 11);
    testserver::ServePackage(package);

    // The confirmed name is that character too: the path then ends in a trail byte that
    // a byte-wise search would take for the last backslash.
    EXPECT_EQ(kDownloaded, DownloadVia(folder + "\\\x83\x5C"));

    EXPECT_TRUE(ReadFileBytes(folder + "\\" SEEKWELL_PACKAGE_NAME) == package);
    EXPECT_EQ(std::vector<std::string>{SEEKWELL_PACKAGE_NAME}, FilesIn(folder));
    EmptyFolder(folder);
    RemoveDirectoryA(folder.c_str());
}
