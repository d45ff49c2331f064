// The fault matrix, end to end: the real Seekwell.exe against a server that refuses,
// resets, stalls, drips, loops or lies about lengths, against folders it cannot write,
// and with broken settings, language modules and product modules. Every row checks
// that the updater neither crashes nor hangs, tells the user what it tells for that
// outcome, and loses nothing: the user's settings keep their values, no broken package
// lies at the package path (an older one there stays as it was), and nothing is
// written outside the chosen folder and the settings key.
#include <algorithm>
#include <cstdio>
#include <map>

#include "E2eSupport.h"

using namespace e2e;

namespace
{
const char* const kReady = "Press Start to check for a new version of Quorvel.";
const char* const kCheckEnded = "No update was downloaded.";
const char* const kDownloading = "Downloading the update...";
const char* const kDownloaded = "The update has been downloaded. Press Install to install it.";
const char* const kFailed = "The update could not be downloaded.";
const char* const kUnreachable =
    "The update server cannot be reached. Please check your Internet connection and try again later.";
const char* const kResourcesNotFound = "Critical error - Resources not found!\n\nError: ";
const char* const kPackageUrl =
    "http://" SEEKWELL_UPDATE_HOST "/store/" SEEKWELL_UPDATE_TOKEN "/Quorvel30/" SEEKWELL_PACKAGE_NAME;
const char* const kVersionUrl =
    "http://" SEEKWELL_UPDATE_HOST "/store/" SEEKWELL_UPDATE_TOKEN "/Quorvel30/version.txt";
const char* const kPackageName = SEEKWELL_PACKAGE_NAME;
const char* const kTargetFolder = "C:\\Fault Target";

// Long enough for the 500 ms time-outs of the check and any retry the platform makes,
// far below ctest's limit: a row that needs more has hung.
constexpr DWORD kCheckPatienceMs = 20000;
constexpr DWORD kDownloadPatienceMs = 40000;

// Values the user changed from the defaults; a fault must leave every one as it is.
const std::pair<const char*, const char*> kUserChoices[] = {
    {"Threshold", "0.5"}, {"SmtpServer", "mail.example.org"}, {"FirstRun", "0"}, {"DisplayBtnBounce", "1"}};

// Paths and key names compared without case; the tests' names are plain ASCII.
std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

bool StartsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// A package of `size` bytes whose content shows where a block went missing.
std::string MakePackage(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7919 + seed * 131) >> 3);
    return bytes;
}

const std::string kOlderPackage = "an older package, which only a complete new one may replace";

// Files and folders of a drive, with size and last write; folders count by name only.
struct FileState
{
    uint64_t size = 0;
    uint64_t written = 0;
    bool operator==(const FileState& other) const { return size == other.size && written == other.written; }
};
using FileList = std::map<std::string, FileState>;

// Folders the platform writes in during any run, whatever the program does: Wine's
// system folder (its services, logs and caches) and the internet cache, cookies and
// history that the platform's download call keeps in the user's profile.
const char* const kPlatformFolders[] = {
    "c:\\windows\\",
    "\\appdata\\local\\microsoft\\windows\\inetcache\\",
    "\\appdata\\local\\microsoft\\windows\\history\\",
    "\\appdata\\roaming\\microsoft\\windows\\cookies\\",
    "\\appdata\\local\\microsoft\\windows\\inetcookies\\",
};

bool IsPlatformFolder(const std::string& lowerPath)
{
    for (const char* folder : kPlatformFolders)
        if (lowerPath.find(folder) != std::string::npos)
            return true;
    return false;
}

// True when `folder` lies on `drive` itself. Wine links the profile's Desktop,
// Documents, Music and the like to the Unix home, outside the prefix; such links are
// not followed.
bool LiesOnDrive(const std::string& folder, const std::string& drive)
{
    using FinalPathFunction = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);
    const auto finalPath = reinterpret_cast<FinalPathFunction>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    if (finalPath == nullptr)
        return true;
    HANDLE handle = CreateFileA(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    char path[4096] = {};
    const DWORD length = finalPath(handle, path, sizeof path, 0);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof path)
        return false;
    std::string resolved = Lower(std::string(path, length));
    if (StartsWith(resolved, "\\\\?\\"))
        resolved.erase(0, 4);
    return StartsWith(resolved, Lower(drive) + "\\") || resolved == Lower(drive);
}

void ListFilesUnder(const std::string& drive, const std::string& folder, FileList& files)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
    {
        const std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string path = folder + "\\" + name;
        const std::string key = Lower(path);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        {
            if (IsPlatformFolder(key + "\\") || !LiesOnDrive(path, drive))
                continue;
            files[key + "\\"] = FileState{};
            ListFilesUnder(drive, path, files);
            continue;
        }
        FileState state;
        state.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        state.written = (static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                        found.ftLastWriteTime.dwLowDateTime;
        files[key] = state;
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Every drive a row can write to: C: and the runner's small drives.
std::vector<std::string> WritableDrives()
{
    std::vector<std::string> drives{"C:"};
    for (const char* name : {"SEEKWELL_TEST_SMALL_DRIVE", "SEEKWELL_TEST_READONLY_DRIVE"})
        if (!testserver::Env(name).empty())
            drives.push_back(testserver::Env(name));
    return drives;
}

FileList ListFiles()
{
    FileList files;
    for (const std::string& drive : WritableDrives())
        ListFilesUnder(drive, drive, files);
    return files;
}

// Differences between two lists outside `allowedFolder` (none when empty).
std::vector<std::string> FileChanges(const FileList& before, const FileList& after,
                                     const std::string& allowedFolder)
{
    const std::string allowed = allowedFolder.empty() ? std::string() : Lower(allowedFolder) + "\\";
    std::vector<std::string> changes;
    auto outside = [&](const std::string& path) { return allowed.empty() || !StartsWith(path, allowed); };
    for (const auto& [path, state] : after)
    {
        const auto old = before.find(path);
        if (old == before.end() && outside(path))
            changes.push_back("new " + path);
        else if (old != before.end() && !(old->second == state) && outside(path))
            changes.push_back("changed " + path);
    }
    for (const auto& [path, state] : before)
        if (after.count(path) == 0 && outside(path))
            changes.push_back("removed " + path);
    return changes;
}

void RemoveFolder(const std::string& folder)
{
    for (const std::string& name : FilesIn(folder))
    {
        const std::string path = folder + "\\" + name;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveFolder(path);
        else
            DeleteFileA(path.c_str());
    }
    SetFileAttributesA(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(folder.c_str());
}

// Registry values under a key, recursively: "key\\:name" to "type:bytes".
using RegistryList = std::map<std::string, std::string>;

// Keys the platform writes during any run: Wine's own settings, the internet settings
// that the tests route through and the download call keeps its cache state in, and the
// common dialogs' most-recently-used lists; and the class registrations, left out for
// time.
const char* const kPlatformKeys[] = {
    "hkcu\\software\\wine\\",
    "hkcu\\software\\microsoft\\windows\\currentversion\\internet settings\\",
    "hkcu\\software\\microsoft\\windows\\currentversion\\explorer\\",
    // COM registrations: most of the registry, and nothing the updater registers.
    "hklm\\software\\classes\\",
};

void ListRegistryUnder(HKEY root, const std::string& rootName, const std::string& path, RegistryList& values)
{
    const std::string name = Lower(rootName + "\\" + path) + "\\";
    for (const char* key : kPlatformKeys)
        if (StartsWith(name, key))
            return;
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    values[name] = "key";
    for (DWORD index = 0;; ++index)
    {
        char valueName[16384];
        DWORD valueNameLength = sizeof valueName;
        std::vector<BYTE> data(65536);
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG status =
            RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type, data.data(), &dataSize);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA)
            break;
        values[name + ":" + valueName] =
            std::to_string(type) + ":" +
            (status == ERROR_SUCCESS ? std::string(reinterpret_cast<char*>(data.data()), dataSize)
                                     : "(large)");
    }
    std::vector<std::string> subkeys;
    for (DWORD index = 0;; ++index)
    {
        char subkey[256];
        DWORD subkeyLength = sizeof subkey;
        if (RegEnumKeyExA(key, index, subkey, &subkeyLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.push_back(subkey);
    }
    RegCloseKey(key);
    for (const std::string& subkey : subkeys)
        ListRegistryUnder(root, rootName, path.empty() ? subkey : path + "\\" + subkey, values);
}

// HKCU\Software and HKLM\Software, the settings keys left out (they are compared
// value by value).
RegistryList ListRegistry()
{
    RegistryList values;
    ListRegistryUnder(HKEY_CURRENT_USER, "HKCU", "Software", values);
    ListRegistryUnder(HKEY_LOCAL_MACHINE, "HKLM", "Software", values);
    for (auto it = values.begin(); it != values.end();)
    {
        if (StartsWith(it->first, "hkcu\\software\\brannick\\") ||
            StartsWith(it->first, "hklm\\software\\brannick\\"))
            it = values.erase(it);
        else
            ++it;
    }
    return values;
}

std::vector<std::string> RegistryChanges(const RegistryList& before, const RegistryList& after)
{
    std::vector<std::string> changes;
    for (const auto& [name, value] : after)
    {
        const auto old = before.find(name);
        if (old == before.end())
            changes.push_back("new " + name);
        else if (old->second != value)
            changes.push_back("changed " + name);
    }
    for (const auto& [name, value] : before)
        if (after.count(name) == 0)
            changes.push_back("removed " + name);
    return changes;
}

// The per-user settings: value name to "type:bytes", or nothing when the key is missing.
struct UserSettings
{
    bool keyExists = false;
    std::map<std::string, std::string> values;
    bool operator==(const UserSettings& other) const
    {
        return keyExists == other.keyExists && values == other.values;
    }
};

UserSettings ReadUserSettings()
{
    UserSettings settings;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return settings;
    settings.keyExists = true;
    for (DWORD index = 0;; ++index)
    {
        char name[256];
        DWORD nameLength = sizeof name;
        BYTE data[4096];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        settings.values[name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataSize);
    }
    RegCloseKey(key);
    return settings;
}

std::string TextValue(const std::string& text)
{
    return std::to_string(REG_SZ) + ":" + text + std::string(1, '\0');
}

void SetRawSetting(HKEY root, const char* name, DWORD type, const std::string& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, kSettingsSubkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
    RegCloseKey(key);
}

// What a message box shows, once it has its buttons: a box that has just appeared may
// not have made its controls yet.
ui::MessageBoxView ReadBox(HWND box)
{
    ui::MessageBoxView view;
    ui::WaitUntil(
        [&]
        {
            view = ui::ReadMessageBox(box);
            return !view.buttons.empty();
        },
        5000);
    return view;
}

// True when the window's thread answers a message within a quarter of a second.
bool Answers(HWND window)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 250, &result) != 0;
}

size_t CountRequestsFor(const char* file)
{
    size_t count = 0;
    for (const std::string& line : testserver::RequestLog())
        if (line.find(std::string("/Quorvel30/") + file + " ") != std::string::npos)
            ++count;
    return count;
}

// A line of figures for the reliability notes, in the test's output and its XML record.
void Record(const std::string& key, const std::string& value)
{
    ::testing::Test::RecordProperty(key, value);
    std::printf("fault-matrix: %s = %s\n", key.c_str(), value.c_str());
}

class FaultMatrix : public EndToEnd
{
  protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        if (IsSkipped())
            return;
        for (const auto& [name, text] : kUserChoices)
            SetSetting(HKEY_CURRENT_USER, name, text);
        RemoveFolder(kTargetFolder);
        MakeFolders(kTargetFolder);
    }

    void TearDown() override
    {
        EndToEnd::TearDown();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brannick");
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brannick");
        RemoveFolder(kTargetFolder);
    }

    // The pictures a row is judged against; taken once the row's set-up is in place.
    void TakeSnapshots()
    {
        m_filesBefore = ListFiles();
        m_registryBefore = ListRegistry();
        m_settingsBefore = ReadUserSettings();
    }

    // Nothing outside `allowedFolder` (empty: anywhere) was written, and outside the
    // settings keys the registry is as it was. Call once the updater has ended.
    void ExpectNothingWrittenOutside(const std::string& allowedFolder)
    {
        EXPECT_EQ(std::vector<std::string>{}, FileChanges(m_filesBefore, ListFiles(), allowedFolder));
        EXPECT_EQ(std::vector<std::string>{}, RegistryChanges(m_registryBefore, ListRegistry()));
    }

    void ExpectSettingsKept() { EXPECT_TRUE(m_settingsBefore == ReadUserSettings()); }

    // The folder holds at most the package and temporary files of a transfer that a
    // killed process could not remove; never a package under another name.
    void ExpectOnlyPackageOrTemporaryFiles(const std::string& folder)
    {
        for (const std::string& name : FilesIn(folder))
        {
            const std::string lower = Lower(name);
            EXPECT_TRUE(name == kPackageName || (StartsWith(lower, "swd") && lower.size() > 4 &&
                                                 lower.substr(lower.size() - 4) == ".tmp"))
                << name;
        }
    }

    void WriteOlderPackage(const std::string& folder)
    {
        testserver::WriteFile(folder + "\\" + kPackageName, kOlderPackage);
    }

    // Start pressed on a freshly launched updater.
    void LaunchAndStart()
    {
        ASSERT_TRUE(m_updater.Launch(m_installation));
        EXPECT_EQ(kReady, StatusText());
        ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_START));
    }

    void Answer(HWND box, int button)
    {
        ASSERT_TRUE(ui::Click(box, button));
        ASSERT_TRUE(ui::WaitUntil([&] { return !IsWindow(box); }, 10000));
    }

    // The offer of 3.0.1.3 answered Yes; returns the Save-As dialog.
    HWND AcceptOffer()
    {
        HWND question = m_updater.WaitForModal(kCheckPatienceMs);
        EXPECT_NE(nullptr, question);
        if (question == nullptr)
            return nullptr;
        EXPECT_EQ("Quorvel 3.0.1.3 is available.\nDo you want to download it now?", ReadBox(question).text);
        Answer(question, IDYES);
        HWND saveAs = m_updater.WaitForModal();
        EXPECT_NE(nullptr, saveAs);
        return saveAs;
    }

    // Launch, Start, Yes, and the folder chosen in the Save-As dialog.
    void DownloadInto(const std::string& folder)
    {
        LaunchAndStart();
        HWND saveAs = AcceptOffer();
        ASSERT_NE(nullptr, saveAs);
        ASSERT_TRUE(ui::AnswerSaveAs(saveAs, folder + "\\chosen.exe"));
    }

    bool WaitForDownloadEnd(DWORD timeoutMs)
    {
        return ui::WaitUntil([&] { return ui::ItemEnabled(m_updater.Dialog(), IDC_INSTALL); }, timeoutMs);
    }

    // Cancel ends the program at once, with exit code 0: it neither crashed nor hung.
    void ExpectCancelEndsTheProgram()
    {
        ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_CANCEL));
        EXPECT_EQ(0u, m_updater.WaitForExit(10000));
    }

    FileList m_filesBefore;
    RegistryList m_registryBefore;
    UserSettings m_settingsBefore;
};
} // namespace

// The server's version file: each row either fails the check, which the updater reports
// as an unreachable server, or still yields a version, which it offers. Only the first
// seven characters are read: a body cut off before them is no version, one cut off after
// them is, whatever length was announced.
namespace
{
enum class CheckOutcome
{
    Unreachable,
    Offered,
};

struct VersionFault
{
    const char* edge;
    std::string body;
    std::string sidecar;
    bool routeNowhere;
    CheckOutcome outcome;
};

// Rows show as their edge in test lists (and in ctest names).
void PrintTo(const VersionFault& row, std::ostream* out)
{
    *out << row.edge;
}

class VersionFileFault : public FaultMatrix, public ::testing::WithParamInterface<VersionFault>
{
};

const std::string kVersionFile = "3.0.1.3\r\n";
} // namespace

TEST_P(VersionFileFault, IsReportedWithoutHangOrLoss)
{
    const VersionFault& row = GetParam();
    testserver::ServeVersionFile(row.body, row.sidecar);
    if (row.routeNowhere)
        testserver::RouteUpdateHostNowhere();
    TakeSnapshots();
    LaunchAndStart();
    const DWORD started = GetTickCount();
    HWND box = m_updater.WaitForModal(kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end";
    Record(std::string(row.edge) + ".check_ms", std::to_string(GetTickCount() - started));
    Record(std::string(row.edge) + ".version_requests", std::to_string(CountRequestsFor("version.txt")));
    const ui::MessageBoxView view = ReadBox(box);
    if (row.outcome == CheckOutcome::Unreachable)
    {
        EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK), view.Style());
        EXPECT_EQ("", view.caption);
        EXPECT_EQ(kUnreachable, view.text);
        Answer(box, IDOK);
    }
    else
    {
        EXPECT_EQ(static_cast<UINT>(MB_ICONQUESTION | MB_YESNOCANCEL), view.Style());
        EXPECT_EQ("Quorvel 3.0.1.3 is available.\nDo you want to download it now?", view.text);
        Answer(box, IDNO);
    }
    EXPECT_TRUE(ui::WaitUntil([&] { return StatusText() == kCheckEnded; }, 5000)) << StatusText();
    EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_START));
    EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, CountRequestsFor(kPackageName));
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside("");
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, VersionFileFault,
    ::testing::Values(VersionFault{"Refused", kVersionFile, "", true, CheckOutcome::Unreachable},
                      VersionFault{"ResetBeforeHeaders", kVersionFile, R"({"reset_before_headers": true})",
                                   false, CheckOutcome::Unreachable},
                      VersionFault{"ResetAfterThreeBytes", kVersionFile, R"({"reset_after_bytes": 3})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"ClosedAfterThreeBytes", kVersionFile, R"({"close_after_bytes": 3})",
                                   false, CheckOutcome::Unreachable},
                      VersionFault{"Status404", "<html>not here</html>", R"({"status": 404})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"Status404WithAVersionAsBody", kVersionFile, R"({"status": 404})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"Status500", "<html>broken</html>", R"({"status": 500})", false,
                                   CheckOutcome::Unreachable},
                      VersionFault{"TwoGigabyteLengthShortBody", kVersionFile,
                                   R"({"content_length": 2147483648})", false, CheckOutcome::Offered},
                      VersionFault{"OneMegabyteFile", kVersionFile + std::string(1024 * 1024, 'x'), "", false,
                                   CheckOutcome::Offered},
                      VersionFault{"OneMegabyteFileWithoutLength",
                                   kVersionFile + std::string(1024 * 1024, 'x'),
                                   R"({"omit_content_length": true})", false, CheckOutcome::Offered}),
    [](const ::testing::TestParamInfo<VersionFault>& row) { return std::string(row.param.edge); });

// A stall in the check: the platform's 500 ms time-outs either end it, or the updater
// waits until the server goes on. Either way the check ends and nothing is lost; how
// long it waited, and whether the dialog answered meanwhile, goes into the record.
namespace
{
constexpr DWORD kStallMs = 4000;

struct Stall
{
    const char* edge;
    std::string sidecar;
};

void PrintTo(const Stall& row, std::ostream* out)
{
    *out << row.edge;
}

class CheckStall : public FaultMatrix, public ::testing::WithParamInterface<Stall>
{
};
} // namespace

TEST_P(CheckStall, EndsAndIsRecorded)
{
    const Stall& row = GetParam();
    testserver::ServeVersionFile(kVersionFile, row.sidecar);
    TakeSnapshots();
    LaunchAndStart();
    const DWORD started = GetTickCount();
    Sleep(1500);
    const bool answeredDuringStall = Answers(m_updater.Dialog());
    HWND box = m_updater.WaitForModal(kStallMs + kCheckPatienceMs);
    ASSERT_NE(nullptr, box) << "the check did not end after the server went on";
    const DWORD waited = GetTickCount() - started;
    Record(std::string(row.edge) + ".check_ms", std::to_string(waited));
    Record(std::string(row.edge) + ".dialog_answered_during_stall", answeredDuringStall ? "yes" : "no");
    const ui::MessageBoxView view = ReadBox(box);
    if (waited < kStallMs)
    {
        // The time-outs ended the fetch: a fetch cut short is no version.
        EXPECT_EQ(kUnreachable, view.text);
        Answer(box, IDOK);
    }
    else
    {
        EXPECT_EQ("Quorvel 3.0.1.3 is available.\nDo you want to download it now?", view.text);
        Answer(box, IDNO);
    }
    EXPECT_TRUE(ui::WaitUntil([&] { return StatusText() == kCheckEnded; }, 5000)) << StatusText();
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside("");
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Stalls, CheckStall,
    ::testing::Values(Stall{"BeforeHeaders", R"({"delay_headers_ms": )" + std::to_string(kStallMs) + "}"},
                      Stall{"AfterThreeBytes",
                            R"({"stall_after_bytes": 3, "stall_ms": )" + std::to_string(kStallMs) + "}"}),
    [](const ::testing::TestParamInfo<Stall>& row) { return std::string(row.param.edge); });

// The package transfer: every row ends with the failure status, Install enabled, the
// older package untouched at the package path and no temporary file left beside it.
namespace
{
struct PackageFaultRow
{
    const char* edge;
    std::string sidecar;
    bool refuseAfterOffer;
};

void PrintTo(const PackageFaultRow& row, std::ostream* out)
{
    *out << row.edge;
}

class PackageFault : public FaultMatrix, public ::testing::WithParamInterface<PackageFaultRow>
{
};

const std::string kPackage = MakePackage(256 * 1024, 1);
} // namespace

TEST_P(PackageFault, LeavesTheOlderPackageAndSaysTheDownloadFailed)
{
    const PackageFaultRow& row = GetParam();
    testserver::ServeVersionFile(kVersionFile);
    testserver::ServePackage(kPackage, row.sidecar);
    WriteOlderPackage(kTargetFolder);
    TakeSnapshots();
    LaunchAndStart();
    HWND saveAs = AcceptOffer();
    ASSERT_NE(nullptr, saveAs);
    if (row.refuseAfterOffer)
        testserver::RouteUpdateHostNowhere();
    ASSERT_TRUE(ui::AnswerSaveAs(saveAs, std::string(kTargetFolder) + "\\chosen.exe"));
    const DWORD started = GetTickCount();
    ASSERT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs)) << "the download did not end: " << StatusText();
    Record(std::string(row.edge) + ".download_ms", std::to_string(GetTickCount() - started));
    Record(std::string(row.edge) + ".package_requests", std::to_string(CountRequestsFor(kPackageName)));
    EXPECT_EQ(kFailed, StatusText());
    EXPECT_FALSE(ui::ItemEnabled(m_updater.Dialog(), IDC_START));
    EXPECT_TRUE(ReadFileBytes(std::string(kTargetFolder) + "\\" + kPackageName) == kOlderPackage);
    EXPECT_EQ(std::vector<std::string>{kPackageName}, FilesIn(kTargetFolder));
    ExpectCancelEndsTheProgram();
    ExpectNothingWrittenOutside(kTargetFolder);
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PackageFault,
    ::testing::Values(
        PackageFaultRow{"Refused", "", true},
        PackageFaultRow{"ResetBeforeHeaders", R"({"reset_before_headers": true})", false},
        PackageFaultRow{"ClosedMidBody", R"({"close_after_bytes": 100000})", false},
        PackageFaultRow{"Status404", R"({"status": 404, "body": "<html>not here</html>"})", false},
        PackageFaultRow{"Status500", R"({"status": 500, "body": "<html>broken</html>"})", false},
        PackageFaultRow{"Status500WithThePackageAsBody", R"({"status": 500})", false},
        PackageFaultRow{"TwoGigabyteLengthShortBody", R"({"content_length": 2147483648})", false}),
    [](const ::testing::TestParamInfo<PackageFaultRow>& row) { return std::string(row.param.edge); });

// A server that redirects a request to itself for ever. Wine's internet functions follow
// redirects without a limit and neither return nor time out meanwhile, so the check or
// the transfer never ends there; the test ends the updater from outside after ten
// seconds and records how many requests it made. Where the platform gives up (Windows
// stops after a few redirects) the row must end as the failure it is.
namespace
{
struct RedirectRow
{
    const char* edge;
    int status;
    bool package;
};

void PrintTo(const RedirectRow& row, std::ostream* out)
{
    *out << row.edge;
}

class RedirectLoop : public FaultMatrix, public ::testing::WithParamInterface<RedirectRow>
{
};

// Each hop closes its connection: Wine opens a new connection for every hop and keeps
// the old ones open, so without this thousands of idle connections pile up on the
// server, and their closing when the updater is ended stalls the server for seconds.
std::string RedirectToItself(int status, const char* url)
{
    return R"({"status": )" + std::to_string(status) + R"(, "redirect_to": ")" + url +
           R"(", "headers": {"Connection": "close"}})";
}
} // namespace

TEST_P(RedirectLoop, EndsAsAFailureOrIsBoundedFromOutside)
{
    const RedirectRow& row = GetParam();
    const char* file = row.package ? kPackageName : "version.txt";
    if (row.package)
    {
        testserver::ServeVersionFile(kVersionFile);
        testserver::ServePackage("", RedirectToItself(row.status, kPackageUrl));
    }
    else
    {
        testserver::ServeVersionFile("", RedirectToItself(row.status, kVersionUrl));
    }
    WriteOlderPackage(kTargetFolder);
    TakeSnapshots();
    if (row.package)
        DownloadInto(kTargetFolder);
    else
        LaunchAndStart();
    HWND dialog = m_updater.Dialog();
    HWND box = nullptr;
    const bool ended =
        row.package ? WaitForDownloadEnd(10000) : (box = m_updater.WaitForModal(10000)) != nullptr;
    Record(std::string(row.edge) + ".ended_within_10s", ended ? "yes" : "no");
    Record(std::string(row.edge) + ".requests_in_10s", std::to_string(CountRequestsFor(file)));
    if (ended)
    {
        if (row.package)
        {
            EXPECT_EQ(kFailed, StatusText());
        }
        else
        {
            EXPECT_EQ(kUnreachable, ReadBox(box).text);
            Answer(box, IDOK);
        }
        ExpectCancelEndsTheProgram();
    }
    else
    {
        // Still following redirects, not waiting on anything else. A dialog that does
        // not answer is not asked for its texts: the question would wait for good.
        EXPECT_GT(CountRequestsFor(file), 10u);
        const bool answered = Answers(dialog);
        Record(std::string(row.edge) + ".dialog_answered", answered ? "yes" : "no");
        if (answered)
        {
            EXPECT_EQ(row.package ? kDownloading : "Checking for updates...", StatusText());
        }
        EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_INSTALL));
        m_updater.Kill();
    }
    EXPECT_TRUE(ReadFileBytes(std::string(kTargetFolder) + "\\" + kPackageName) == kOlderPackage);
    ExpectOnlyPackageOrTemporaryFiles(kTargetFolder);
    ExpectNothingWrittenOutside(kTargetFolder);
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(
    Loops, RedirectLoop,
    ::testing::Values(RedirectRow{"VersionFile301", 301, false}, RedirectRow{"VersionFile302", 302, false},
                      RedirectRow{"Package301", 301, true}, RedirectRow{"Package302", 302, true}),
    [](const ::testing::TestParamInfo<RedirectRow>& row) { return std::string(row.param.edge); });

// A stall in the package transfer sends no progress notifications, so nothing runs the
// pump and nothing looks at the time limit until data flows again. Cancel pressed
// during the stall is taken at the next notification; the transfer still runs to its
// end, and the complete package replaces the older one.
namespace
{
constexpr DWORD kDownloadStallMs = 5000;

class DownloadStall : public FaultMatrix, public ::testing::WithParamInterface<Stall>
{
};
} // namespace

TEST_P(DownloadStall, CancelIsTakenWhenDataFlowsAgain)
{
    const Stall& row = GetParam();
    testserver::ServeVersionFile(kVersionFile);
    testserver::ServePackage(kPackage, row.sidecar);
    WriteOlderPackage(kTargetFolder);
    TakeSnapshots();
    DownloadInto(kTargetFolder);
    const DWORD started = GetTickCount();
    Sleep(1500);
    EXPECT_TRUE(ReadFileBytes(std::string(kTargetFolder) + "\\" + kPackageName) == kOlderPackage);
    HWND dialog = m_updater.Dialog();
    EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_START));
    EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_INSTALL));
    // Texts and the bar are read only from a dialog that answers; asking one that does
    // not would wait for the end of the stall.
    const bool answered = Answers(dialog);
    Record(std::string(row.edge) + ".dialog_answered_during_stall", answered ? "yes" : "no");
    if (answered)
    {
        Record(std::string(row.edge) + ".bar_during_stall",
               std::to_string(ui::ProgressPosition(dialog, IDC_PROGRESS)));
        EXPECT_EQ(kDownloading, StatusText());
    }

    ASSERT_TRUE(ui::Click(dialog, IDC_CANCEL));
    EXPECT_EQ(0u, m_updater.WaitForExit(kDownloadStallMs + kDownloadPatienceMs)) << "the updater did not end";
    Record(std::string(row.edge) + ".exit_after_ms", std::to_string(GetTickCount() - started));
    EXPECT_TRUE(ReadFileBytes(std::string(kTargetFolder) + "\\" + kPackageName) == kPackage);
    EXPECT_EQ(std::vector<std::string>{kPackageName}, FilesIn(kTargetFolder));
    ExpectNothingWrittenOutside(kTargetFolder);
    ExpectSettingsKept();
}

INSTANTIATE_TEST_SUITE_P(Stalls, DownloadStall,
                         ::testing::Values(Stall{"BeforeHeaders", R"({"delay_headers_ms": )" +
                                                                      std::to_string(kDownloadStallMs) + "}"},
                                           Stall{"MidBody", R"({"stall_after_bytes": 65536, "stall_ms": )" +
                                                                std::to_string(kDownloadStallMs) + "}"}),
                         [](const ::testing::TestParamInfo<Stall>& row)
                         { return std::string(row.param.edge); });

// A connection reset in the middle of the package. Wine's download call neither returns
// nor notifies after it, though it keeps the thread's messages flowing: the dialog
// answers, and Cancel ends it, but the updater waits for the call for good. The test
// ends it from outside and shows that the package path still holds the older package.
TEST_F(FaultMatrix, ResetMidBodyLeavesTheOlderPackage)
{
    testserver::ServeVersionFile(kVersionFile);
    testserver::ServePackage(MakePackage(512 * 1024, 2), R"({"reset_after_bytes": 131072})");
    WriteOlderPackage(kTargetFolder);
    TakeSnapshots();
    DownloadInto(kTargetFolder);
    const bool ended = WaitForDownloadEnd(15000);
    Record("ResetMidBody.download_call_returned_within_15s", ended ? "yes" : "no");
    const std::string packagePath = std::string(kTargetFolder) + "\\" + kPackageName;
    if (ended)
    {
        EXPECT_EQ(kFailed, StatusText());
        EXPECT_EQ(std::vector<std::string>{kPackageName}, FilesIn(kTargetFolder));
        ExpectCancelEndsTheProgram();
    }
    else
    {
        HWND dialog = m_updater.Dialog();
        const bool answered = Answers(dialog);
        Record("ResetMidBody.dialog_answered", answered ? "yes" : "no");
        ASSERT_TRUE(answered) << "the texts of a dialog that does not answer cannot be read";
        Record("ResetMidBody.bar", std::to_string(ui::ProgressPosition(dialog, IDC_PROGRESS)));
        EXPECT_EQ(kDownloading, StatusText());
        EXPECT_FALSE(ui::ItemEnabled(dialog, IDC_INSTALL));
        ASSERT_TRUE(ui::Click(dialog, IDC_CANCEL));
        const bool dialogGone = ui::WaitUntil([&] { return !IsWindowVisible(dialog); }, 5000);
        Record("ResetMidBody.cancel_closed_the_dialog", dialogGone ? "yes" : "no");
        Record("ResetMidBody.process_ended_after_cancel",
               m_updater.WaitForExit(5000) != STILL_ACTIVE ? "yes" : "no");
        m_updater.Kill();
        ExpectOnlyPackageOrTemporaryFiles(kTargetFolder);
    }
    EXPECT_TRUE(ReadFileBytes(packagePath) == kOlderPackage);
    ExpectNothingWrittenOutside(kTargetFolder);
    ExpectSettingsKept();
}

// Install counts the mail programs through Psapi.dll, loaded by name. A Psapi.dll
// planted in the folder the user chose must never be loaded, whatever the current
// directory is then. Where the Save-As dialog makes that folder the current directory
// and the platform searches it before the system folder, only the start-up's removal
// of the current directory from the search keeps the plant out. Wine takes its own
// psapi before a copy in the current directory in any case (the record shows it, and
// the current directory the package inherited), so here the test guards the outcome
// without being able to show the removal at work.
TEST_F(FaultMatrix, LibraryPlantedInTheChosenFolderIsNotLoaded)
{
    const std::string planted = std::string(kTargetFolder) + "\\Psapi.dll";
    const std::string loadedMarker = planted + ".loaded";
    ASSERT_TRUE(CopyInto(BuildDirectory() + "fixtures\\planted\\Psapi.dll", planted));
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

    testserver::ServeVersionFile(kVersionFile);
    testserver::ServePackage(ReadFileBytes(BuildDirectory() + "fake_installer.exe"));
    TakeSnapshots();
    DownloadInto(kTargetFolder);
    ASSERT_TRUE(WaitForDownloadEnd(kDownloadPatienceMs)) << StatusText();
    ASSERT_EQ(kDownloaded, StatusText());
    ASSERT_TRUE(ui::Click(m_updater.Dialog(), IDC_INSTALL));
    EXPECT_EQ(0u, m_updater.WaitForExit(20000));
    const std::string ranRecord = std::string(kTargetFolder) + "\\" + kPackageName + ".ran.txt";
    ASSERT_TRUE(ui::WaitUntil([&] { return FileExists(ranRecord); }, 20000));
    const std::string record = ReadFileBytes(ranRecord);
    Record("PlantedLibrary.current_directory_at_install",
           record.substr(record.find("directory=") + 10,
                         record.find("\r\n", record.find("directory=")) - record.find("directory=") - 10));
    EXPECT_FALSE(FileExists(loadedMarker));
    ExpectNothingWrittenOutside(kTargetFolder);
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
            RemoveFolder(m_cleanup);
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
    const std::string package = MakePackage(row.packageSize, 3);
    testserver::ServeVersionFile(kVersionFile);
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
    testserver::ServeVersionFile(kVersionFile);
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

// Settings the updater cannot read, or cannot write. A value that does not fit its
// buffer or is not text counts as unreadable: the settings are seeded from the
// machine's, which renews the path and the language and adds the missing defaults but
// keeps every other value the user set. Wine enforces no registry access rights, so a
// key denied to the user cannot be made; a key that cannot be created can: a
// non-volatile key under a volatile one is refused by the registry itself.
namespace
{
enum class SettingsAfter
{
    // Nothing was written.
    Kept,
    // Seeded: path and language from the machine, defaults added, user values kept.
    SeededKeepingUserValues,
    // Created from nothing: the whole table, with an empty path.
    CreatedWithEmptyPath,
    // Still no per-user key.
    StillMissing,
};

struct RegistryRow
{
    const char* edge;
    void (*arrange)(const Installation& installation);
    SettingsAfter after;
};

void PrintTo(const RegistryRow& row, std::ostream* out)
{
    *out << row.edge;
}

class RegistryFault : public FaultMatrix, public ::testing::WithParamInterface<RegistryRow>
{
};

// The user's values must all be there as they were, but for the path and language.
void ExpectSeededKeepingUserValues(const UserSettings& before, const UserSettings& after,
                                   const Installation& installation)
{
    ASSERT_TRUE(after.keyExists);
    for (const auto& [name, value] : before.values)
    {
        if (name == kAppPathValue || name == kCurrLanguageValue)
            continue;
        const auto kept = after.values.find(name);
        ASSERT_NE(after.values.end(), kept) << name;
        EXPECT_TRUE(kept->second == value) << name;
    }
    EXPECT_TRUE(after.values.at(kAppPathValue) == TextValue(installation.Directory()));
    EXPECT_TRUE(after.values.at(kCurrLanguageValue) == TextValue("English"));
    EXPECT_EQ(kDefaultSettingCount, after.values.size());
}

const std::string kTooLongPath = "C:\\" + std::string(300, 'p') + "\\";

// Makes HKCU\Software\Brannick volatile, so that no lasting key can be made under it.
void MakeVendorKeyVolatile(const Installation&)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Brannick");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Brannick");
    HKEY vendor = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Brannick", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                    nullptr, &vendor, nullptr);
    if (vendor != nullptr)
        RegCloseKey(vendor);
}
} // namespace

TEST_P(RegistryFault, StartsWithTheEnglishModuleAndKeepsTheUsersValues)
{
    const RegistryRow& row = GetParam();
    row.arrange(m_installation);
    if (row.after == SettingsAfter::StillMissing)
    {
        HKEY probe = nullptr;
        const LONG status =
            RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsSubkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &probe, nullptr);
        if (probe != nullptr)
        {
            RegCloseKey(probe);
            RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsSubkey);
        }
        if (status == ERROR_SUCCESS)
            GTEST_SKIP() << "this registry lets a lasting key be made under a volatile one";
        Record(std::string(row.edge) + ".create_error", std::to_string(status));
    }
    TakeSnapshots();
    ASSERT_TRUE(m_updater.Launch(m_installation));
    HWND dialog = m_updater.Dialog();
    EXPECT_EQ("Quorvel Updater", ui::Text(dialog));
    EXPECT_EQ(kReady, StatusText());
    EXPECT_EQ(nullptr, ui::FindOwnedDialog(dialog));
    ExpectCancelEndsTheProgram();

    const UserSettings after = ReadUserSettings();
    switch (row.after)
    {
    case SettingsAfter::Kept:
        EXPECT_TRUE(m_settingsBefore == after);
        break;
    case SettingsAfter::SeededKeepingUserValues:
        ExpectSeededKeepingUserValues(m_settingsBefore, after, m_installation);
        break;
    case SettingsAfter::CreatedWithEmptyPath:
        ASSERT_TRUE(after.keyExists);
        EXPECT_EQ(kDefaultSettingCount, after.values.size());
        EXPECT_TRUE(after.values.at(kAppPathValue) == TextValue(""));
        EXPECT_TRUE(after.values.at(kCurrLanguageValue) == TextValue("English"));
        break;
    case SettingsAfter::StillMissing:
        EXPECT_FALSE(after.keyExists);
        break;
    }
    ExpectNothingWrittenOutside("");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RegistryFault,
    ::testing::Values(
        RegistryRow{"UserPathTooLong",
                    [](const Installation&) { SetSetting(HKEY_CURRENT_USER, "AppPath", kTooLongPath); },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserLanguageTooLong",
                    [](const Installation&)
                    { SetSetting(HKEY_CURRENT_USER, "CurrLanguage", std::string(261, 'L')); },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserPathOfBinaryType",
                    [](const Installation& installation) {
                        SetRawSetting(HKEY_CURRENT_USER, "AppPath", REG_BINARY,
                                      installation.Directory() + '\0');
                    },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserLanguageOfNumberType",
                    [](const Installation&) {
                        SetRawSetting(HKEY_CURRENT_USER, "CurrLanguage", REG_DWORD,
                                      std::string("\x01\0\0\0", 4));
                    },
                    SettingsAfter::SeededKeepingUserValues},
        RegistryRow{"UserPathWithoutTerminator",
                    [](const Installation& installation)
                    { SetRawSetting(HKEY_CURRENT_USER, "AppPath", REG_SZ, installation.Directory()); },
                    SettingsAfter::Kept},
        RegistryRow{"OtherUserValueOfNumberType",
                    [](const Installation&) {
                        SetRawSetting(HKEY_CURRENT_USER, "Threshold", REG_DWORD,
                                      std::string("\x05\0\0\0", 4));
                    },
                    SettingsAfter::Kept},
        RegistryRow{"MachinePathTooLongAndNoUserKey",
                    [](const Installation&)
                    {
                        RegDeleteTreeA(HKEY_CURRENT_USER, kSettingsSubkey);
                        RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsSubkey);
                        SetSetting(HKEY_LOCAL_MACHINE, "AppPath", kTooLongPath);
                    },
                    SettingsAfter::CreatedWithEmptyPath},
        RegistryRow{"UserKeyCannotBeCreated", MakeVendorKeyVolatile, SettingsAfter::StillMissing}),
    [](const ::testing::TestParamInfo<RegistryRow>& row) { return std::string(row.param.edge); });

// A damaged language module in the place of the English one. One the platform cannot
// load is reported in the resources-not-found message, and the updater goes on with
// empty texts; one that loads but whose string tables are damaged shows what it can.
// Either way the check still runs.
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
    testserver::WriteFile(EnglishModulePath(installation), bytes.substr(0, keptBytes));
}
} // namespace

TEST_P(LanguageModuleFault, NeitherCrashesNorStopsTheCheck)
{
    const ModuleRow& row = GetParam();
    row.arrange(m_installation);
    testserver::ServeVersionFile("3.0.1.2\r\n");
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
    EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION | MB_OK), ReadBox(box).Style());
    Answer(box, IDOK);
    ASSERT_TRUE(ui::Click(dialog, IDC_CANCEL));
    EXPECT_EQ(0u, m_updater.WaitForExit(10000));

    if (row.reported)
        ExpectSeededKeepingUserValues(m_settingsBefore, ReadUserSettings(), m_installation);
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
                  { testserver::WriteFile(EnglishModulePath(installation), "This is no module.\r\n"); },
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
    testserver::WriteFile(m_installation.Directory() + "Quorvel.dll", row.corrupt(built));
    testserver::ServeVersionFile("3.0.1.2\r\n");
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
