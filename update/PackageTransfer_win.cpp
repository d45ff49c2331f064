#include "PackageTransfer.h"

#include <urlmon.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "ComApartment.h"
#include "Handles.h"
#include "MessagePump.h"

// The platform's synchronous download call (URLDownloadToFileA) keeps the thread inside
// itself until the transfer ends and gives control back only with a notification: a
// server that goes silent before or during the body, or a connection whose reset the
// platform never reports (Wine), holds it for as long as the platform likes, and the time
// limit, looked at only in notifications, cannot act. So the transfer is an asynchronous
// binding of this thread instead (a URL moniker bound to storage with BINDF_ASYNCHRONOUS,
// the way the platform's own browser fetches): the platform does the waiting on its own
// threads and hands each notification to this thread through its message queue, and this
// thread waits in a message wait that also looks at the time limit and, once it has
// passed, aborts the binding (IBinding::Abort). The updater's code runs on its one thread
// only. URL monikers and asynchronous bind contexts came with Internet Explorer 3, so
// this works on every system the updater supports.
namespace
{
// How often the wait looks at the time limit while nothing arrives: the limit counts in
// whole seconds, so a quarter of one ends a silent transfer well inside the second after
// the deadline.
constexpr DWORD kLimitLookMs = 250;
// How long a stopped binding may take to confirm its end before it is left to the
// platform.
constexpr DWORD kStopGraceMs = 2000;
// One read of the arriving body.
constexpr ULONG kReadSize = 64 * 1024;
// The most a stopped transfer reads and throws away while it waits for the platform to
// have nothing waiting (see CPackageBinding::Stop).
constexpr uint64_t kDiscardLimitBytes = 1024 * 1024;

// The binding's callback. The platform holds it for as long as it likes, so it counts
// its references and lives on the heap; the download's own progress callback and the
// file are reached through it only until the transfer has ended (Detach), after which
// a late call of the platform does nothing.
class CPackageBinding final : public IBindStatusCallback, public IHttpNegotiate
{
  public:
    CPackageBinding(CDownloadStatus& status, HANDLE file) noexcept : m_status(&status), m_file(file)
    {
        IHttpNegotiate* negotiate = nullptr;
        if (status.QueryInterface(IID_IHttpNegotiate, reinterpret_cast<void**>(&negotiate)) == S_OK)
            m_negotiate = negotiate;
    }
    CPackageBinding(const CPackageBinding&) = delete;
    CPackageBinding& operator=(const CPackageBinding&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IBindStatusCallback))
            *object = static_cast<IBindStatusCallback*>(this);
        else if (IsEqualIID(iid, IID_IHttpNegotiate))
            *object = static_cast<IHttpNegotiate*>(this);
        else
            return E_NOINTERFACE;
        (void)AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() noexcept override
    {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) noexcept override
    {
        if (binding != nullptr && m_binding == nullptr && !m_stopped)
        {
            (void)binding->AddRef();
            m_binding = binding;
            // An end asked for before the platform named the binding is passed on now.
            if (m_abortSent)
                SendAbort();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPriority(LONG*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) noexcept override { return E_NOTIMPL; }
    // The download's callback judges every notification as it would in a synchronous
    // download; its refusal stops the binding, which a refusal alone does not.
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) noexcept override
    {
        if (m_status == nullptr || m_stopAsked)
            return E_ABORT;
        const HRESULT answer = m_status->OnProgress(progress, progressMax, statusCode, statusText);
        if (answer == E_ABORT)
            Stop();
        return answer;
    }
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR) noexcept override
    {
        (void)SetEvent(m_stoppedEvent.get());
        if (!m_stopped)
        {
            m_stopped = true;
            m_result = result;
        }
        ReleaseBinding();
        return S_OK;
    }
    // Asynchronous, the body pulled from a stream as it arrives, always from the server,
    // nothing written to the internet cache.
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) noexcept override
    {
        if (bindFlags == nullptr || bindInfo == nullptr)
            return E_INVALIDARG;
        *bindFlags = BINDF_ASYNCHRONOUS | BINDF_ASYNCSTORAGE | BINDF_PULLDATA | BINDF_GETNEWESTVERSION |
                     BINDF_NOWRITECACHE;
        // A plain GET: every field zero (the platform's own size of the record kept).
        const ULONG size = bindInfo->cbSize;
        std::memset(bindInfo, 0, size);
        bindInfo->cbSize = size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM* medium) noexcept override
    {
        m_deliveredSinceLook = true;
        if (m_status == nullptr || m_abortSent || medium == nullptr || medium->tymed != TYMED_ISTREAM ||
            medium->pstm == nullptr)
            return S_OK;
        // Everything there is taken now: the platform notifies again only once a read
        // has found the stream empty (E_PENDING) or ended (S_FALSE). Once stopped, what
        // arrives is read and thrown away until then.
        uint64_t discarded = 0;
        for (;;)
        {
            ULONG got = 0;
            const HRESULT read = medium->pstm->Read(m_buffer, kReadSize, &got);
            if (got > 0 && !m_stopAsked)
                Write(got);
            else
                discarded += got;
            if (read != S_OK || got == 0 || discarded >= kDiscardLimitBytes)
                break;
        }
        if (m_stopAsked)
            SendAbortOnce();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) noexcept override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                   LPWSTR* additionalHeaders) noexcept override
    {
        if (m_negotiate == nullptr)
        {
            if (additionalHeaders != nullptr)
                *additionalHeaders = nullptr;
            return S_OK;
        }
        return m_negotiate->BeginningTransaction(url, headers, reserved, additionalHeaders);
    }
    HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                         LPWSTR* additionalRequestHeaders) noexcept override
    {
        if (additionalRequestHeaders != nullptr)
            *additionalRequestHeaders = nullptr;
        if (m_negotiate == nullptr)
            return E_ABORT;
        const HRESULT answer =
            m_negotiate->OnResponse(status, responseHeaders, requestHeaders, additionalRequestHeaders);
        if (answer == E_ABORT)
            Stop();
        return answer;
    }

    // Asks for the end of the transfer: nothing more is written or passed on, and the
    // platform is told (IBinding::Abort) once nothing is waiting to be read, or at once
    // when nothing arrives. Some platforms (Wine) read what remains of an announced
    // length when a transfer is ended, on the thread that ends it, for as long as data
    // is waiting; ended while the platform waits for data, the connection is closed by
    // the platform's own thread instead.
    void Stop() noexcept { m_stopAsked = true; }
    bool StopAsked() const noexcept { return m_stopAsked; }
    // Between two looks of the wait: tells the platform of a stop asked for when nothing
    // was delivered since the last look (the body has gone silent, or never started).
    void AbortIfIdle() noexcept
    {
        if (m_stopAsked && !m_deliveredSinceLook)
            SendAbortOnce();
        m_deliveredSinceLook = false;
    }
    bool AbortSent() const noexcept { return m_abortSent; }
    bool Stopped() const noexcept { return m_stopped; }
    // Set once the platform has confirmed the end (or the event could not be made: the
    // wait then looks every quarter of a second).
    HANDLE StoppedEvent() const noexcept { return m_stoppedEvent.get(); }
    HRESULT Result() const noexcept { return m_result; }
    uint64_t BytesWritten() const noexcept { return m_written; }
    bool WriteFailed() const noexcept { return m_writeFailed; }

    // Ends every tie to the download: nothing reaches its callback or its file after this,
    // and a binding still running is aborted.
    void Detach() noexcept
    {
        m_stopAsked = true;
        if (!m_stopped)
            SendAbortOnce();
        m_status = nullptr;
        m_negotiate = nullptr;
        m_file = INVALID_HANDLE_VALUE;
        ReleaseBinding();
    }

  private:
    ~CPackageBinding() = default;

    void SendAbortOnce() noexcept
    {
        if (m_abortSent)
            return;
        m_abortSent = true;
        SendAbort();
    }

    void SendAbort() noexcept
    {
        if (m_binding == nullptr)
            return;
        // The platform may confirm the end inside the call and so drop this object's hold
        // on the binding: the binding is held for the length of the call.
        IBinding* binding = m_binding;
        (void)binding->AddRef();
        (void)binding->Abort();
        (void)binding->Release();
    }

    void ReleaseBinding() noexcept
    {
        IBinding* binding = m_binding;
        m_binding = nullptr;
        if (binding != nullptr)
            (void)binding->Release();
    }

    // Appends what was read to the file; a failed write, or a body past the byte limit,
    // stops the transfer.
    void Write(ULONG size) noexcept
    {
        DWORD written = 0;
        if (!WriteFile(m_file, m_buffer, size, &written, nullptr) || written != size)
        {
            m_writeFailed = true;
            Stop();
            return;
        }
        m_written += size;
        if (!m_status->AcceptReceived(m_written))
            Stop();
    }

    ULONG m_references = 1;
    UniqueKernelHandle m_stoppedEvent{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    CDownloadStatus* m_status;
    IHttpNegotiate* m_negotiate = nullptr;
    HANDLE m_file;
    IBinding* m_binding = nullptr;
    bool m_stopAsked = false;
    bool m_abortSent = false;
    bool m_deliveredSinceLook = false;
    bool m_stopped = false;
    HRESULT m_result = S_OK;
    uint64_t m_written = 0;
    bool m_writeFailed = false;
    char m_buffer[kReadSize] = {};
};

// Owners of the COM objects a binding takes, released in reverse order of making.
struct ComReleaser
{
    template <typename Interface> void operator()(Interface* object) const noexcept
    {
        (void)object->Release();
    }
};
template <typename Interface> using ComOwner = std::unique_ptr<Interface, ComReleaser>;

// The URL as the moniker takes it; empty when it cannot be converted. A vector rather
// than a wide string: the one wide text of the updater is not worth the string class.
std::vector<wchar_t> WideUrl(const std::string& url) noexcept
{
    const int length = MultiByteToWideChar(CP_ACP, 0, url.c_str(), -1, nullptr, 0);
    if (length <= 1)
        return std::vector<wchar_t>();
    std::vector<wchar_t> wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, url.c_str(), -1, wide.data(), length) != length)
        return std::vector<wchar_t>();
    return wide;
}

// Dispatches the thread's messages, and with them the binding's notifications, until
// the binding has ended; ends it once the time limit has passed (or a callback has asked
// for it) and the platform has had its grace to confirm.
void WaitForTheEnd(CPackageBinding& binding, CDownloadStatus& status, TransferOutcome& outcome) noexcept
{
    bool stopping = false;
    DWORD abortSentAt = 0;
    while (!binding.Stopped())
    {
        if (!binding.StopAsked() && status.TimeLimitPassed())
            binding.Stop();
        binding.AbortIfIdle();
        if (binding.AbortSent() && !stopping)
        {
            stopping = true;
            abortSentAt = GetTickCount();
        }
        if (stopping && GetTickCount() - abortSentAt >= kStopGraceMs)
        {
            outcome.abandoned = true;
            return;
        }
        (void)WaitPumpingMessages(binding.StoppedEvent(), kLimitLookMs);
    }
}
} // namespace

TransferOutcome TransferToFile(const std::string& url, HANDLE file, CDownloadStatus& status) noexcept
{
    TransferOutcome outcome;
    const CComApartment apartment;
    const std::vector<wchar_t> wideUrl = WideUrl(url);
    IMoniker* rawMoniker = nullptr;
    outcome.result = wideUrl.empty() ? E_INVALIDARG : CreateURLMoniker(nullptr, wideUrl.data(), &rawMoniker);
    if (FAILED(outcome.result))
        return outcome;
    const ComOwner<IMoniker> moniker(rawMoniker);
    auto* created = new (std::nothrow) CPackageBinding(status, file);
    if (created == nullptr)
    {
        outcome.result = E_OUTOFMEMORY;
        return outcome;
    }
    const ComOwner<CPackageBinding> binding(created);
    IBindCtx* rawContext = nullptr;
    outcome.result = CreateAsyncBindCtx(0, binding.get(), nullptr, &rawContext);
    if (FAILED(outcome.result))
        return outcome;
    const ComOwner<IBindCtx> context(rawContext);

    IStream* stream = nullptr;
    const HRESULT started =
        moniker->BindToStorage(context.get(), nullptr, IID_IStream, reinterpret_cast<void**>(&stream));
    // The body comes through the notifications; a stream handed back here is not needed.
    if (stream != nullptr)
        (void)stream->Release();
    if (FAILED(started) && !binding->Stopped())
        outcome.result = started;
    else
    {
        WaitForTheEnd(*binding, status, outcome);
        outcome.result = binding->Stopped() ? binding->Result() : E_ABORT;
    }
    // Whatever the platform reported last, a transfer this side stopped is no package.
    if (binding->StopAsked())
        outcome.result = E_ABORT;
    outcome.bytesWritten = binding->BytesWritten();
    outcome.writeFailed = binding->WriteFailed();
    binding->Detach();
    return outcome;
}
