// Measures the real Seekwell.exe from outside, in a fake installation of the product,
// beside the minimal program (bench_mini.exe) measured the same way.
//   startup REPETITIONS       process start to the dialog ready (updater: status 522 set)
//   check REPETITIONS LABEL   Start pressed to the message box shown; LABEL "delay100"
//                             makes the server wait 100 ms before answering
//   request LABEL             one bare version-file request in this fresh process
//   road MEGABYTES            the whole road to a downloaded package: transfer time and
//                             the updater's peak working set
// Windows are watched every millisecond; both programs are watched the same way.
#include <windows.h>
#include <wininet.h>

#include <cstdlib>
#include <string>

#include "BenchSupport.h"
#include "Scenario.h"
#include "VersionRequest.h"

namespace
{
constexpr DWORD kPatienceMs = 30000;

// Polls every millisecond; false when `timeoutMs` passed first.
template <typename Condition> bool PollUntil(Condition condition, DWORD timeoutMs)
{
    const int64_t start = bench::Ticks();
    while (!condition())
    {
        if (bench::MsSince(start) > timeoutMs)
            return false;
        Sleep(1);
    }
    return true;
}

std::string LoadModuleText(const std::string& modulePath, UINT number)
{
    HMODULE module = LoadLibraryExA(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char text[512] = {};
    if (module != nullptr)
    {
        (void)LoadStringA(module, number, text, sizeof text);
        FreeLibrary(module);
    }
    return text;
}

std::string EnglishText(const e2e::Installation& installation, UINT number)
{
    return LoadModuleText(installation.Directory() + "Languages\\English\\Res.dll", number);
}

// A program of the run with its main dialog, ended when the object goes.
class Program : public e2e::Process
{
  public:
    // Starts `path` and waits until its top-level dialog is visible and answers a text
    // query with `readyText` (the updater's status line, or the minimal program's
    // caption); the time from the process's creation to that moment in ms, or -1.
    double LaunchUntilReady(const std::string& path, const std::string& arguments, const std::string& folder,
                            int statusControl, const std::string& readyText)
    {
        const int64_t start = bench::Ticks();
        if (!Start(path, arguments, folder))
            return -1;
        const bool ready = PollUntil(
            [&]
            {
                m_dialog = ui::FindDialog(Id(), nullptr);
                if (m_dialog == nullptr)
                    return false;
                const std::string text =
                    statusControl != 0 ? ui::ItemText(m_dialog, statusControl) : ui::Text(m_dialog);
                return text == readyText;
            },
            kPatienceMs);
        return ready ? bench::MsSince(start) : -1;
    }

    // Presses Start once the program waits for input, and waits for the message box over
    // the dialog; the time in ms, or -1.
    double StartUntilMessageBox(int startControl)
    {
        // The status text is set before the dialog has painted itself; a click posted
        // then would wait for the painting and be charged for it.
        (void)WaitForInputIdle(Handle(), kPatienceMs);
        const int64_t start = bench::Ticks();
        if (!ui::Click(m_dialog, startControl))
            return -1;
        const bool shown =
            PollUntil([&] { return (m_modal = ui::FindOwnedDialog(m_dialog)) != nullptr; }, kPatienceMs);
        return shown ? bench::MsSince(start) : -1;
    }

    // Ends the program the way a user would (Cancel), or by force when it does not go.
    void Close()
    {
        // Posted as commands: the empty dialog has no button to click.
        if (m_modal != nullptr && IsWindow(m_modal))
            (void)PostMessageA(m_modal, WM_COMMAND, IDOK, 0);
        if (m_dialog != nullptr)
            (void)PostMessageA(m_dialog, WM_COMMAND, IDCANCEL, 0);
        if (WaitForExit(5000) == STILL_ACTIVE)
            Kill();
    }

    HWND Dialog() const { return m_dialog; }
    HWND Modal() const { return m_modal; }

  private:
    HWND m_dialog = nullptr;
    HWND m_modal = nullptr;
};

std::string MiniPath()
{
    return e2e::BuildDirectory() + "bench_mini.exe";
}

// Rounds of updater, minimal, minimal, updater: a load that rises or falls during a round
// weighs on both alike. Each side's result is the mean of its two runs; -1 from either
// run counts as a failed round. Round 0 warms the file cache and is not counted.
template <typename Updater, typename Minimal, typename AfterRound>
int MeasureMirrored(const std::string& group, int repetitions, Updater updater, Minimal minimal,
                    AfterRound afterRound)
{
    int failures = 0;
    for (int round = 0; round <= repetitions; ++round)
    {
        const double updaterFirst = updater();
        const double minimalFirst = minimal();
        const double minimalSecond = minimal();
        const double updaterSecond = updater();
        if (updaterFirst < 0 || updaterSecond < 0 || minimalFirst < 0 || minimalSecond < 0)
        {
            bench::Note("%s round %d: updater %.1f and %.1f ms, minimal %.1f and %.1f ms", group.c_str(),
                        round, updaterFirst, updaterSecond, minimalFirst, minimalSecond);
            ++failures;
            continue;
        }
        if (round == 0)
            continue;
        bench::Result(group, "product_ms", (updaterFirst + updaterSecond) / 2);
        bench::Result(group, "minimal_ms", (minimalFirst + minimalSecond) / 2);
        afterRound();
    }
    return failures == 0 ? 0 : 1;
}

int MeasureStartup(int repetitions)
{
    e2e::Installation installation;
    installation.Register();
    const std::string ready = EnglishText(installation, IDS_READY);
    const auto updater = [&]
    {
        Program program;
        const double ms = program.LaunchUntilReady(installation.Directory() + "Seekwell.exe", "",
                                                   installation.Directory(), IDC_STATUS, ready);
        program.Close();
        return ms;
    };
    const auto minimal = []
    {
        Program program;
        const double ms = program.LaunchUntilReady(MiniPath(), "", "", 0, "Minimal");
        program.Close();
        return ms;
    };
    return MeasureMirrored("startup", repetitions, updater, minimal, [] {});
}

// Runs this program again as "request LABEL": a fresh process, as the updater's check
// is, writing its result into this program's output.
void RunRequestInFreshProcess(const std::string& label)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string commandLine = "\"" + std::string(self) + "\" request " + label;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        (void)SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(self, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return;
    (void)WaitForSingleObject(process.hProcess, kPatienceMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

int MeasureCheck(int repetitions, const std::string& label)
{
    e2e::Installation installation;
    installation.Register();
    testserver::RouteUpdateHostToServer();
    // The installed version, so the answer is the up-to-date message box.
    testserver::ServeRelease("3.0.1.2", label == "delay100" ? "{\"delay_headers_ms\": 100}" : "");
    const std::string ready = EnglishText(installation, IDS_READY);
    const std::string upToDate = EnglishText(installation, IDS_UP_TO_DATE);
    // A run whose message box says anything else (the server unreachable) counts as failed.
    const auto updater = [&]
    {
        Program program;
        double ms = -1;
        if (program.LaunchUntilReady(installation.Directory() + "Seekwell.exe", "", installation.Directory(),
                                     IDC_STATUS, ready) >= 0)
            ms = program.StartUntilMessageBox(IDC_START);
        if (ms >= 0 && ui::ReadMessageBox(program.Modal()).text != upToDate)
            ms = -1;
        program.Close();
        return ms;
    };
    const auto minimal = []
    {
        Program program;
        double ms = -1;
        if (program.LaunchUntilReady(MiniPath(), "check", "", 0, "Minimal") >= 0)
            ms = program.StartUntilMessageBox(IDOK);
        if (ms >= 0 && ui::ReadMessageBox(program.Modal()).text != "3.0.1.2")
            ms = -1;
        program.Close();
        return ms;
    };
    const int result = MeasureMirrored("check." + label, repetitions, updater, minimal,
                                       [&] { RunRequestInFreshProcess(label); });
    testserver::Clear();
    return result;
}

int MeasureRequest(const std::string& label)
{
    const int64_t start = bench::Ticks();
    const std::string version = bench::RequestVersionFile();
    const double ms = bench::MsSince(start);
    if (version != "3.0.1.2")
    {
        bench::Note("bare request answered \"%s\"", version.c_str());
        return 1;
    }
    bench::Result("check." + label, "request_ms", ms);
    return 0;
}

// Size of what the internet cache keeps for `url`, in KiB; 0 when it keeps nothing.
double CachedKiB(const std::string& url)
{
    DWORD size = 0;
    (void)GetUrlCacheEntryInfoA(url.c_str(), nullptr, &size);
    if (size == 0)
        return 0;
    std::string buffer(size, '\0');
    auto* entry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOA*>(&buffer[0]);
    if (!GetUrlCacheEntryInfoA(url.c_str(), entry, &size))
        return 0;
    return (static_cast<double>(entry->dwSizeHigh) * 4294967296.0 + entry->dwSizeLow) / 1024.0;
}

int MeasureRoad(const std::string& megabytes)
{
    e2e::Installation installation;
    installation.Register();
    testserver::RouteUpdateHostToServer();
    testserver::ServeRelease("3.0.1.3");
    const std::string group = "road." + megabytes;
    const std::string folder = "C:\\bench\\road";
    const std::string package = folder + "\\" SEEKWELL_PACKAGE_NAME;
    const std::string packageUrl = SEEKWELL_UPDATE_BASE_URL "Quorvel30/" SEEKWELL_PACKAGE_NAME;
    e2e::MakeFolders(folder);
    (void)DeleteFileA(package.c_str());

    Program updater;
    const std::string ready = EnglishText(installation, IDS_READY);
    const std::string downloaded = EnglishText(installation, IDS_DOWNLOAD_OK);
    const std::string failed = EnglishText(installation, IDS_DOWNLOAD_FAILED);
    bool ok = updater.LaunchUntilReady(installation.Directory() + "Seekwell.exe", "",
                                       installation.Directory(), IDC_STATUS, ready) >= 0 &&
              updater.StartUntilMessageBox(IDC_START) >= 0 && ui::Click(updater.Modal(), IDYES);
    HWND saveAs = nullptr;
    ok = ok && PollUntil(
                   [&]
                   {
                       saveAs = ui::FindOwnedDialog(updater.Dialog());
                       return saveAs != nullptr && saveAs != updater.Modal();
                   },
                   kPatienceMs);
    const double workingSetBefore = bench::PeakWorkingSetKiB(updater.Handle());
    const int64_t start = bench::Ticks();
    ok = ok && ui::AnswerSaveAs(saveAs, package);
    // The status line answers once the transfer has ended: the updater's thread is
    // inside the platform's download call until then.
    std::string status;
    ok = ok && PollUntil(
                   [&]
                   {
                       status = ui::ItemText(updater.Dialog(), IDC_STATUS);
                       return status == downloaded || status == failed;
                   },
                   120000);
    const double ms = bench::MsSince(start);
    const double peak = bench::PeakWorkingSetKiB(updater.Handle());
    const int bar = ui::ProgressPosition(updater.Dialog(), IDC_PROGRESS);
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    const bool written = GetFileAttributesExA(package.c_str(), GetFileExInfoStandard, &attributes) != FALSE;
    updater.Close();

    bench::Result(group, "ok", ok && status == downloaded && written ? 1 : 0);
    bench::Result(group, "transfer_ms", ms);
    bench::Result(group, "bytes",
                  written ? static_cast<double>(attributes.nFileSizeLow) +
                                static_cast<double>(attributes.nFileSizeHigh) * 4294967296.0
                          : 0);
    bench::Result(group, "bar", bar);
    bench::Result(group, "peak_ws_before_kib", workingSetBefore);
    bench::Result(group, "peak_ws_kib", peak);
    bench::Result(group, "cache_left_kib", CachedKiB(packageUrl));

    (void)DeleteUrlCacheEntryA(packageUrl.c_str());
    (void)DeleteFileA(package.c_str());
    testserver::Clear();
    return ok ? 0 : 1;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "startup" && argc == 3)
        return MeasureStartup(std::atoi(argv[2]));
    if (mode == "check" && argc == 4)
        return MeasureCheck(std::atoi(argv[2]), argv[3]);
    if (mode == "request" && argc == 3)
        return MeasureRequest(argv[2]);
    if (mode == "road" && argc == 3)
        return MeasureRoad(argv[2]);
    bench::Note("usage: bench_driver startup REPS | check REPS LABEL | request LABEL | road MEGABYTES");
    return 2;
}
