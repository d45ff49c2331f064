#include "VersionFileFetch.h"

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "DownloadMath.h"
#include "Handles.h"
#include "MessagePump.h"
#include "Platform.h"
#include "UpdateManifest.h"

// The platform's synchronous internet calls look at their time-outs only between the
// waits they make (and Wine ignores them): one InternetOpenUrlA does the name lookup, the
// connection with its retries, the request and the status line and headers (and a
// redirect chain, where the platform follows it), and a server that drips any of them, or
// a name whose addresses never answer, would hold it for as long as the platform likes.
// So the fetch runs asynchronously (INTERNET_FLAG_ASYNC): each call hands its wait to
// WinINet's own thread and returns, and this thread waits for the call's completion,
// dispatching its messages, until the deadline; then it closes the handles, which is
// WinINet's way of cancelling what is still pending. WinINet has worked this way since
// Internet Explorer 3, so the same code runs on every system the updater supports, from
// Windows 98 SE and NT 4.0 with Internet Explorer 5 to Internet Explorer 11. The updater's
// own code stays on its one thread: the status callback below, which WinINet calls on a
// thread of its own, only records what the platform hands over and signals a completion.
namespace
{
constexpr const char* kAgent = "GetURL";
constexpr DWORD kTimeoutMs = 500;
// Connect time-out, data receive time-out, connect retries, receive time-out, set in
// this order, each to 500 (ms, or tries for the retries).
constexpr DWORD kSessionOptions[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
                                     INTERNET_OPTION_CONNECT_RETRIES, INTERNET_OPTION_RECEIVE_TIMEOUT};
constexpr DWORD kChunkSize = 4096;
// The URL never changes between releases, so a cache on the way (a company's proxy)
// would keep offering the release it saw first: every proxy is asked to revalidate.
constexpr const char* kNoCacheHeaders = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
// Redirects are followed here, not by the platform: some platforms (Wine) follow a loop
// without end and go on following it on their own thread after its handle is closed.
// Ten hops is twice the default limit WinINet's documentation gives for its own.
constexpr int kMaxRedirects = 10;
constexpr DWORD kMaxUrlLength = 2048;

// What the fetch shares with WinINet's thread: the completion of the call in progress
// and the places a call that completes later writes into. A fetch the deadline ended
// leaves it to the platform, which may still complete into it (or call back with it)
// after the handles are closed: it is never freed then. One fetch is made per check, so
// what stays behind is a few kilobytes and one event.
struct CAsyncFetch
{
    // Set, once per completed call, by the status callback.
    UniqueKernelHandle completed{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    // The request handle, as soon as the platform has made it: the handle to close at the
    // deadline while the open is still in progress.
    std::atomic<HINTERNET> request{nullptr};
    // The completed call's result and error, written before `completed` is set.
    DWORD_PTR result = 0;
    DWORD error = 0;
    // Out-parameters of calls that may complete later, on the platform's thread.
    DWORD available = 0;
    DWORD delivered = 0;
    char chunk[kChunkSize] = {};
};

// Runs on WinINet's thread (or inside a call on this one): records and signals, nothing
// else, so that it touches nothing this thread may be using. The context is the fetch's
// shared part, which lives for as long as a call of the platform can still complete; a
// later notice (the handle's closing) is not looked at.
void CALLBACK OnInternetStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information,
                               DWORD informationLength) noexcept
{
    if (context == 0 || information == nullptr)
        return;
    auto* fetch = reinterpret_cast<CAsyncFetch*>(context);
    if (status == INTERNET_STATUS_HANDLE_CREATED && informationLength >= sizeof(HINTERNET))
    {
        // The new handle is the first member of what the platform passes.
        fetch->request.store(*static_cast<const HINTERNET*>(information));
    }
    else if (status == INTERNET_STATUS_REQUEST_COMPLETE && informationLength >= sizeof(INTERNET_ASYNC_RESULT))
    {
        const auto* outcome = static_cast<const INTERNET_ASYNC_RESULT*>(information);
        fetch->result = outcome->dwResult;
        fetch->error = outcome->dwError;
        (void)SetEvent(fetch->completed.get());
    }
}

using SetStatusCallbackFunction = INTERNET_STATUS_CALLBACK(WINAPI*)(HINTERNET, INTERNET_STATUS_CALLBACK);

// Installs the callback on the session; every handle made from it inherits it. The
// function is found by its original name, which every WinINet exports (later ones add
// an A and a W form of it); the callback takes no text, so either does.
bool SetStatusCallback(HINTERNET session) noexcept
{
    const HMODULE wininet = GetModuleHandleA("wininet.dll");
    if (wininet == nullptr)
        return false;
    auto setCallback = BindProcedure<SetStatusCallbackFunction>(wininet, "InternetSetStatusCallback");
    if (setCallback == nullptr)
        setCallback = BindProcedure<SetStatusCallbackFunction>(wininet, "InternetSetStatusCallbackA");
    return setCallback != nullptr &&
           setCallback(session, OnInternetStatus) != INTERNET_INVALID_STATUS_CALLBACK;
}

// The deadline of one fetch, on the tick count: a monotonic clock on every system the
// updater runs on (its 64-bit form is not); TicksPassed reads it across a wrap.
class CFetchDeadline
{
  public:
    explicit CFetchDeadline(uint32_t limitMs) noexcept : m_started(GetTickCount()), m_limitMs(limitMs) {}
    bool Passed() const noexcept { return TicksPassed(m_started, GetTickCount(), m_limitMs); }
    DWORD RemainingMs() const noexcept
    {
        const DWORD passed = GetTickCount() - m_started;
        return passed >= m_limitMs ? 0 : m_limitMs - passed;
    }

  private:
    DWORD m_started;
    uint32_t m_limitMs;
};

// How a call that may complete later ended.
enum class CallEnd
{
    Done,
    Failed,
    DeadlinePassed,
};

// Waits for the pending call to complete, dispatching the thread's messages meanwhile,
// until the deadline.
bool AwaitCompletion(const CAsyncFetch& shared, const CFetchDeadline& deadline) noexcept
{
    while (!deadline.Passed())
    {
        if (WaitPumpingMessages(shared.completed.get(), deadline.RemainingMs()))
            return true;
    }
    return false;
}

// Finishes a call that returned `succeeded`: at once, or once its completion has come.
// A call that completes later reports its success in the completion's result.
CallEnd FinishCall(BOOL succeeded, CAsyncFetch& shared, const CFetchDeadline& deadline,
                   VersionFileFetch& fetch) noexcept
{
    if (succeeded)
        return deadline.Passed() ? CallEnd::DeadlinePassed : CallEnd::Done;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
    {
        fetch.platformError = error;
        return CallEnd::Failed;
    }
    if (!AwaitCompletion(shared, deadline))
        return CallEnd::DeadlinePassed;
    if (shared.result == 0)
    {
        fetch.platformError = shared.error;
        return CallEnd::Failed;
    }
    return CallEnd::Done;
}

DWORD HttpStatus(HINTERNET request) noexcept
{
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                        nullptr))
        return 0;
    return status;
}

void ReadAnnouncedLength(HINTERNET request, VersionFileFetch& fetch) noexcept
{
    DWORD announced = 0;
    DWORD announcedSize = sizeof announced;
    fetch.lengthAnnounced = HttpQueryInfoA(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                           &announced, &announcedSize, nullptr) != FALSE;
    fetch.bytesAnnounced = fetch.lengthAnnounced ? announced : 0;
}

// Opens the URL; the request handle, or null. At the deadline the handle the platform
// has made so far is closed, which cancels the open.
HINTERNET OpenUrl(HINTERNET session, const std::string& url, CAsyncFetch& shared,
                  const CFetchDeadline& deadline, VersionFileFetch& fetch) noexcept
{
    shared.request.store(nullptr);
    // Always ask the server, and keep the answer out of the local cache.
    HINTERNET opened =
        InternetOpenUrlA(session, url.c_str(), kNoCacheHeaders, static_cast<DWORD>(-1),
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT,
                         reinterpret_cast<DWORD_PTR>(&shared));
    const CallEnd end = FinishCall(opened != nullptr, shared, deadline, fetch);
    if (opened == nullptr && end == CallEnd::Done)
        opened = reinterpret_cast<HINTERNET>(shared.result);
    if (end == CallEnd::Done)
        return opened;
    if (end == CallEnd::DeadlinePassed)
    {
        fetch.deadlineEnded = true;
        if (opened == nullptr)
            opened = shared.request.load();
    }
    if (opened != nullptr)
        (void)InternetCloseHandle(opened);
    return nullptr;
}

bool IsRedirect(DWORD status) noexcept
{
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT ||
           status == HTTP_STATUS_REDIRECT_METHOD || status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == 308;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) noexcept
{
    for (size_t i = 0; prefix[i] != '\0'; ++i)
    {
        if (i >= text.size() || (text[i] | 0x20) != prefix[i])
            return false;
    }
    return true;
}

// Where a redirect points, resolved against the URL that answered with it; empty when
// it names no http or https URL.
std::string RedirectTarget(HINTERNET request, const std::string& from) noexcept
{
    char location[kMaxUrlLength] = {};
    DWORD locationSize = sizeof location;
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &locationSize, nullptr))
        return std::string();
    char target[kMaxUrlLength] = {};
    DWORD targetSize = sizeof target;
    if (!InternetCombineUrlA(from.c_str(), location, target, &targetSize, 0) || targetSize >= sizeof target)
        return std::string();
    const std::string resolved(target, targetSize);
    if (!StartsWithNoCase(resolved, "http://") && !StartsWithNoCase(resolved, "https://"))
        return std::string();
    return resolved;
}

// Opens the URL and the redirects it leads to, up to the limit; the request handle of
// the first answer that is no redirect, or null.
HINTERNET OpenFollowingRedirects(HINTERNET session, const std::string& url, CAsyncFetch& shared,
                                 const CFetchDeadline& deadline, VersionFileFetch& fetch) noexcept
{
    std::string current = url;
    for (int hops = 0;; ++hops)
    {
        UniqueInternetHandle request(OpenUrl(session, current, shared, deadline, fetch));
        if (!request)
            return nullptr;
        const DWORD status = HttpStatus(request.get());
        if (!IsRedirect(status))
            return request.release();
        current = hops < kMaxRedirects ? RedirectTarget(request.get(), current) : std::string();
        if (current.empty())
        {
            fetch.httpStatus = status;
            fetch.platformError = ERROR_HTTP_REDIRECT_FAILED;
            return nullptr;
        }
    }
}

// The number of body bytes that have arrived and can be read without waiting; 0 at the
// end of the body. Some platforms (Wine) hold a read until the whole buffer or the
// announced length has arrived, so one read of a dripped file would take as long as the
// server likes; asked first, the platform waits only for the next bytes.
CallEnd AwaitData(HINTERNET request, CAsyncFetch& shared, const CFetchDeadline& deadline,
                  VersionFileFetch& fetch, DWORD& available) noexcept
{
    for (;;)
    {
        if (InternetQueryDataAvailable(request, &shared.available, 0, 0))
        {
            available = shared.available;
            return deadline.Passed() ? CallEnd::DeadlinePassed : CallEnd::Done;
        }
        // A completion says that data has arrived or that the body has ended; asked
        // again, the platform answers at once with the count.
        const CallEnd end = FinishCall(FALSE, shared, deadline, fetch);
        if (end != CallEnd::Done)
            return end;
    }
}

// Reads the body into `fetch.body`, up to one byte past the size limit.
CallEnd ReadBody(HINTERNET request, CAsyncFetch& shared, const CFetchDeadline& deadline,
                 VersionFileFetch& fetch) noexcept
{
    while (fetch.body.size() <= kMaxVersionFileBytes)
    {
        DWORD available = 0;
        const CallEnd waited = AwaitData(request, shared, deadline, fetch, available);
        if (waited != CallEnd::Done)
            return waited;
        const DWORD wanted = available == 0 ? kChunkSize : std::min<DWORD>(available, kChunkSize);
        shared.delivered = 0;
        const CallEnd read = FinishCall(InternetReadFile(request, shared.chunk, wanted, &shared.delivered),
                                        shared, deadline, fetch);
        if (read != CallEnd::Done)
            return read;
        if (shared.delivered == 0)
            return CallEnd::Done;
        fetch.body.append(shared.chunk, shared.delivered);
        fetch.bytesReceived += shared.delivered;
    }
    return CallEnd::Done;
}
} // namespace

bool FetchVersionFile(const std::string& url, uint32_t deadlineMs, VersionFileFetch& fetch) noexcept
{
    fetch = VersionFileFetch();
    const CFetchDeadline deadline(deadlineMs);
    std::unique_ptr<CAsyncFetch> shared(new (std::nothrow) CAsyncFetch);
    if (!shared || !shared->completed)
    {
        fetch.platformError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    UniqueInternetHandle session(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr,
                                               INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_ASYNC));
    if (!session || !SetStatusCallback(session.get()))
    {
        fetch.platformError = GetLastError();
        return false;
    }
    // Best effort: some platforms accept an option and do not honour it, so whether it
    // was accepted says nothing about the fetch. The deadline bounds the whole fetch;
    // the time-outs, where honoured, end a silent server sooner.
    for (DWORD option : kSessionOptions)
    {
        DWORD value = kTimeoutMs;
        (void)InternetSetOptionA(session.get(), option, &value, sizeof value);
    }

    UniqueInternetHandle request(OpenFollowingRedirects(session.get(), url, *shared, deadline, fetch));
    CallEnd end = request ? CallEnd::Done : CallEnd::Failed;
    if (request)
    {
        fetch.httpStatus = HttpStatus(request.get());
        ReadAnnouncedLength(request.get(), fetch);
        // An error page, a captive portal's page or a proxy's refusal is not a version
        // file; its body is not read.
        if (fetch.httpStatus >= 200 && fetch.httpStatus < 300)
            end = ReadBody(request.get(), *shared, deadline, fetch);
        else
            end = CallEnd::Failed;
        if (end == CallEnd::DeadlinePassed)
            fetch.deadlineEnded = true;
    }
    // Closing cancels whatever is still pending; what the platform may still write into
    // then stays with it.
    request.reset();
    session.reset();
    if (fetch.deadlineEnded)
        (void)shared.release();
    if (end != CallEnd::Done)
        return false;
    // Some platforms report a connection closed or reset mid-body as the end of the body,
    // so a body shorter than its announced length is a failed read: its start may be
    // only part of the version ("3.0" of "3.0.1.2").
    return !fetch.lengthAnnounced || fetch.body.size() > kMaxVersionFileBytes ||
           fetch.bytesReceived >= fetch.bytesAnnounced;
}
