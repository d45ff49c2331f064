// The package transfer, measured from inside, one transfer per process so that the peak
// working set belongs to it.
//   product URL TARGET LABEL SIZE SHA256 [keep]  the updater's path: DownloadPackage
//                             reporting to a progress that moves the bar of a shown updater
//                             dialog and pumps, as the dialog does, and checking the package
//                             against its signed size and SHA-256; "keep" leaves the file
//   hash FILE SIZE SHA256 LABEL  the updater's check of a file against the manifest alone
//   barehash FILE LABEL       a bare CryptoAPI SHA-256 loop over the same file
//   install FILE SIZE SHA256 LABEL  both checks of Install on one held file, in their order:
//                             the manifest's size and SHA-256, then the installer's own
//                             Authenticode signature against the pinned keys
//   bare URL TARGET LABEL [keep]  URLDownloadToFileA alone, with a callback that does nothing
//   price MEGABYTES           no transfer: what one notification costs, fed straight into
//                             the updater's callback at one per 8 KiB, and its parts
#include <windows.h>
#include <urlmon.h>
#include <wininet.h>

#include <wincrypt.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "Controls.h"
#include "Download.h"
#include "DownloadStatus.h"
#include "InstallerSignature.h"
#include "MessagePump.h"
#include "PackageCheck.h"
#include "resource.h"

namespace
{
// Messages taken off this thread's queue, and how many of them the updater's own pump
// took (inside a notification).
int g_messagesTaken = 0;
int g_messagesTakenInProgress = 0;
int g_progressDepth = 0;

LRESULT CALLBACK CountTakenMessages(int code, WPARAM removal, LPARAM message)
{
    if (code == HC_ACTION && removal == PM_REMOVE)
    {
        ++g_messagesTaken;
        if (g_progressDepth > 0)
            ++g_messagesTakenInProgress;
    }
    return CallNextHookEx(nullptr, code, removal, message);
}

INT_PTR CALLBACK PassiveDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// The updater's dialog template, shown and painted, its bar moved as the updater's own
// dialog moves it.
class CShownUpdaterDialog
{
  public:
    CShownUpdaterDialog()
    {
        InitCommonControls();
        m_window = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_UPDATER), nullptr,
                                      PassiveDialogProc, 0);
        ShowWindow(m_window, SW_SHOWNORMAL);
        UpdateWindow(m_window);
        m_bar.Attach(GetDlgItem(m_window, IDC_PROGRESS));
        m_bar.SetRange(0, 100);
    }
    CShownUpdaterDialog(const CShownUpdaterDialog&) = delete;
    CShownUpdaterDialog& operator=(const CShownUpdaterDialog&) = delete;
    ~CShownUpdaterDialog() { DestroyWindow(m_window); }

    void MoveBar(int percent) const { m_bar.SetPos(percent); }
    int BarPosition() const { return static_cast<int>(SendMessageA(m_bar.GetSafeHwnd(), PBM_GETPOS, 0, 0)); }

  private:
    HWND m_window = nullptr;
    CProgressCtrl m_bar;
};

// The download's view of the updater's dialog, as the dialog implements it (the bar
// moved, the queue pumped), with a stopwatch around each call. A notification's time
// runs from its bar move to the end of its pump; time spent in a notification nested
// inside another (should the pump dispatch the platform's next data message) is
// counted once, for the inner one.
class CTimedProgress : public IDownloadProgress
{
  public:
    explicit CTimedProgress(const CShownUpdaterDialog& dialog) : m_dialog(dialog) {}

    void SetDownloadProgress(int percent) override
    {
        ++notifications;
        ++g_progressDepth;
        if (g_progressDepth > deepestNesting)
            deepestNesting = g_progressDepth;
        m_open.push_back(Open{bench::Ticks(), m_childTicks, percent});
        m_childTicks = 0;
        m_dialog.MoveBar(percent);
    }

    void PumpMessages() override
    {
        PumpWaitingMessages();
        if (m_open.empty())
            return;
        const Open notification = m_open.back();
        m_open.pop_back();
        const int64_t spent = bench::Ticks() - notification.start;
        const int64_t own = spent - m_childTicks;
        ownTicks += own;
        if (trace)
            bench::Note("notification %d, bar at %d %%, at %.1f ms: %.3f ms moving the bar and pumping",
                        notifications, notification.percent,
                        bench::TicksToMs(notification.start - transferStart), bench::TicksToMs(own));
        m_childTicks = notification.outerChildTicks + spent;
        --g_progressDepth;
    }

    bool trace = true;
    int64_t transferStart = 0;
    int notifications = 0;
    int deepestNesting = 0;
    int64_t ownTicks = 0;

  private:
    struct Open
    {
        int64_t start;
        int64_t outerChildTicks;
        int percent;
    };
    const CShownUpdaterDialog& m_dialog;
    std::vector<Open> m_open;
    int64_t m_childTicks = 0;
};

// What a caller that wants nothing but the file passes: every notification accepted,
// no other interface offered.
class CBareCallback : public IBindStatusCallback
{
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) noexcept override
    {
        if (object != nullptr)
            *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 1; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG, ULONG, ULONG, LPCWSTR) noexcept override
    {
        ++notifications;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) noexcept override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) noexcept override { return E_NOTIMPL; }

    int notifications = 0;
};

int64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes))
        return -1;
    return (static_cast<int64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
}

// The manifest entry the bench's package would have: its size and its SHA-256 in hex.
ManifestPackage Expected(const char* size, const char* sha256)
{
    ManifestPackage package;
    package.size = std::strtoull(size, nullptr, 10);
    for (size_t i = 0; i < package.sha256.size() && sha256[2 * i] != '\0' && sha256[2 * i + 1] != '\0'; ++i)
        package.sha256[i] = static_cast<uint8_t>(std::stoi(std::string(sha256 + 2 * i, 2), nullptr, 16));
    return package;
}

int Transfer(const std::string& variant, const std::string& url, const std::string& target,
             const std::string& group, const ManifestPackage& expected, bool keepFile)
{
    // A copy left in the internet cache by an earlier run would be answered without the
    // server; the updater's path forgets it by itself, the bare call is given the same
    // start outside its stopwatch.
    (void)DeleteUrlCacheEntryA(url.c_str());
    (void)DeleteFileA(target.c_str());
    (void)CoInitialize(nullptr);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, CountTakenMessages, nullptr, GetCurrentThreadId());

    bool complete = false;
    int notifications = 0;
    double cpuMs = 0;
    double wallMs = 0;
    if (variant == "product")
    {
        CShownUpdaterDialog shown;
        CTimedProgress progress(shown);
        const double cpuBefore = bench::ProcessCpuMs();
        const int64_t start = bench::Ticks();
        progress.transferStart = start;
        const DownloadOutcome outcome = DownloadPackage(url, target, expected, progress);
        wallMs = bench::MsSince(start);
        cpuMs = bench::ProcessCpuMs() - cpuBefore;
        complete = outcome.verdict == DownloadVerdict::Complete;
        notifications = progress.notifications;
        bench::Result(group, "onprogress_ms", bench::TicksToMs(progress.ownTicks));
        bench::Result(group, "nesting", progress.deepestNesting);
        bench::Result(group, "bar", shown.BarPosition());
    }
    else
    {
        CBareCallback callback;
        const double cpuBefore = bench::ProcessCpuMs();
        const int64_t start = bench::Ticks();
        const HRESULT result = URLDownloadToFileA(nullptr, url.c_str(), target.c_str(), 0, &callback);
        wallMs = bench::MsSince(start);
        cpuMs = bench::ProcessCpuMs() - cpuBefore;
        complete = result == S_OK;
        notifications = callback.notifications;
    }
    if (hook != nullptr)
        UnhookWindowsHookEx(hook);

    const int64_t bytes = FileSize(target);
    bench::Result(group, "ok", complete && bytes > 0 ? 1 : 0);
    bench::Result(group, "bytes", static_cast<double>(bytes));
    bench::Result(group, "wall_ms", wallMs);
    bench::Result(group, "cpu_ms", cpuMs);
    bench::Result(group, "notifications", notifications);
    bench::Result(group, "messages", g_messagesTaken);
    bench::Result(group, "messages_in_progress", g_messagesTakenInProgress);
    bench::Result(group, "peak_ws_kib", bench::PeakWorkingSetKiB());

    // The file (unless the caller compares it) and the cache's copy of a large package
    // are not needed any more.
    (void)DeleteUrlCacheEntryA(url.c_str());
    if (!keepFile)
        (void)DeleteFileA(target.c_str());
    return complete ? 0 : 1;
}

// Times `check` over the file at `path`, opened as the updater opens a package.
template <typename Check> int TimeCheck(const std::string& path, const std::string& group, Check check)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    const double cpuBefore = bench::ProcessCpuMs();
    const int64_t start = bench::Ticks();
    const bool ok = check(file);
    bench::Result(group, "wall_ms", bench::MsSince(start));
    bench::Result(group, "cpu_ms", bench::ProcessCpuMs() - cpuBefore);
    bench::Result(group, "ok", ok ? 1 : 0);
    bench::Result(group, "peak_ws_kib", bench::PeakWorkingSetKiB());
    CloseHandle(file);
    return ok ? 0 : 1;
}

// The two checks Install makes on the package it holds, timed one after the other on the
// same handle: the signature check meets the file as the hash pass left it.
int TimeInstallChecks(const std::string& path, const std::string& group, const ManifestPackage& expected)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    int64_t start = bench::Ticks();
    const bool matches = FileMatchesPackage(file, expected);
    bench::Result(group, "hash_ms", bench::MsSince(start));
    start = bench::Ticks();
    const bool signedByVendor = IsSignedByVendor(file, path);
    bench::Result(group, "signature_ms", bench::MsSince(start));
    bench::Result(group, "ok", matches && signedByVendor ? 1 : 0);
    bench::Result(group, "peak_ws_kib", bench::PeakWorkingSetKiB());
    CloseHandle(file);
    return matches && signedByVendor ? 0 : 1;
}

// The reference: the shortest loop the platform's SHA-256 allows, 64 KiB at a time.
bool BareSha256(HANDLE file)
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool ok = CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash);
    static BYTE buffer[64 * 1024];
    DWORD read = 0;
    while (ok && ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        ok = CryptHashData(hash, buffer, read, 0) != FALSE;
    BYTE digest[32];
    DWORD digestSize = sizeof digest;
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest, &digestSize, 0);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return ok;
}

// Microseconds per call of `operation`, over `calls` calls.
template <typename Operation> double MicrosecondsPerCall(int calls, Operation operation)
{
    const int64_t start = bench::Ticks();
    for (int call = 0; call < calls; ++call)
        operation(call);
    return bench::MsSince(start) * 1000.0 / calls;
}

// The notifications a platform that reports every 8 KiB block would send for a package
// of `megabytes`, fed into the updater's callback and into one that does nothing, and
// the parts of one notification: the clock, the bar message, the pump on an empty
// queue, and the bar's repaint when it moves by one percent and by a hundred.
int PriceNotifications(int megabytes)
{
    const std::string group = "notify." + std::to_string(megabytes);
    const ULONG total = static_cast<ULONG>(megabytes) * 1024u * 1024u;
    constexpr ULONG kBlock = 8 * 1024;
    CShownUpdaterDialog shown;
    CTimedProgress progress(shown);
    progress.trace = false;
    CDownloadStatus status(progress);
    status.ArmDeadline();
    PumpWaitingMessages();

    CBareCallback nothing;
    for (IBindStatusCallback* callee :
         {static_cast<IBindStatusCallback*>(&nothing), static_cast<IBindStatusCallback*>(&status)})
    {
        const double cpuBefore = bench::ProcessCpuMs();
        const int64_t start = bench::Ticks();
        for (ULONG received = kBlock; received <= total; received += kBlock)
            (void)callee->OnProgress(received, total, BINDSTATUS_DOWNLOADINGDATA, nullptr);
        const std::string part = callee == &status ? "product" : "nothing";
        bench::Result(group, part + "_wall_ms", bench::MsSince(start));
        bench::Result(group, part + "_cpu_ms", bench::ProcessCpuMs() - cpuBefore);
    }
    bench::Result(group, "notifications", progress.notifications);
    bench::Result(group, "bar", shown.BarPosition());

    constexpr int kCalls = 2000;
    bench::Result(group, "clock_us", MicrosecondsPerCall(kCalls, [&](int) { (void)progress.NowSeconds(); }));
    bench::Result(group, "bar_unmoved_us", MicrosecondsPerCall(kCalls, [&](int) { shown.MoveBar(50); }));
    PumpWaitingMessages();
    bench::Result(group, "pump_empty_us", MicrosecondsPerCall(kCalls, [&](int) { PumpWaitingMessages(); }));
    // The repaints are timed on the clock and, over many of them, on the process's CPU
    // time, whose ticks are too coarse for one.
    const auto moveAndPump = [&](int percent)
    {
        shown.MoveBar(percent);
        PumpWaitingMessages();
    };
    moveAndPump(0);
    double cpuBefore = bench::ProcessCpuMs();
    bench::Result(group, "bar_step_us", MicrosecondsPerCall(100, [&](int call) { moveAndPump(call + 1); }));
    bench::Result(group, "bar_step_cpu_us", (bench::ProcessCpuMs() - cpuBefore) * 1000.0 / 100);
    constexpr int kJumps = 200;
    cpuBefore = bench::ProcessCpuMs();
    bench::Result(group, "bar_jump_us",
                  MicrosecondsPerCall(kJumps, [&](int call) { moveAndPump(call % 2 != 0 ? 100 : 0); }));
    bench::Result(group, "bar_jump_cpu_us", (bench::ProcessCpuMs() - cpuBefore) * 1000.0 / kJumps);
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string variant = argc > 1 ? argv[1] : "";
    const bool keepFile = argc == 8 && std::string(argv[7]) == "keep";
    if ((variant == "product" || variant == "bare") && (argc == 7 || keepFile))
        return Transfer(variant, argv[2], argv[3], std::string("download.") + argv[4] + "." + variant,
                        Expected(argv[5], argv[6]), keepFile);
    if (variant == "hash" && argc == 6)
    {
        // The updater's check of a downloaded package: size and SHA-256, read in pieces.
        const ManifestPackage expected = Expected(argv[3], argv[4]);
        return TimeCheck(argv[2], std::string("hash.") + argv[5] + ".product",
                         [&](HANDLE file) { return FileMatchesPackage(file, expected); });
    }
    if (variant == "install" && argc == 6)
        return TimeInstallChecks(argv[2], std::string("install.") + argv[5], Expected(argv[3], argv[4]));
    if (variant == "barehash" && argc == 4)
        return TimeCheck(argv[2], std::string("hash.") + argv[3] + ".bare", BareSha256);
    if (variant == "price" && argc == 3)
        return PriceNotifications(std::atoi(argv[2]));
    bench::Note("usage: bench_download <product|bare> URL TARGET LABEL SIZE SHA256 [keep] | hash FILE SIZE "
                "SHA256 LABEL | barehash FILE LABEL | install FILE SIZE SHA256 LABEL | price MEGABYTES");
    return 2;
}
