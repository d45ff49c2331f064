#include "DownloadStatus.h"

#include <cstring>
#include <string>

#include "DownloadMath.h"

namespace
{
// Header names and the digits of their values are ASCII; anything else becomes '?', which
// no length holds.
std::string AsciiHeaders(LPCWSTR headers)
{
    std::string ascii;
    for (const wchar_t* c = headers; *c != L'\0'; ++c)
        ascii += *c < 0x80 ? static_cast<char>(*c) : '?';
    return ascii;
}
} // namespace

CDownloadStatus::CDownloadStatus(IDownloadProgress& progress) noexcept : m_progress(progress) {}

// The object lives on the download's stack and is never handed out for keeping, so it
// neither counts references nor offers IUnknown or itself: only the status probe.
HRESULT CDownloadStatus::QueryInterface(REFIID iid, void** object) noexcept
{
    if (object != nullptr && IsEqualIID(iid, IID_IHttpNegotiate))
    {
        *object = static_cast<IHttpNegotiate*>(&m_negotiate);
        return S_OK;
    }
    return E_NOTIMPL;
}

ULONG CDownloadStatus::AddRef() noexcept
{
    return 0;
}

ULONG CDownloadStatus::Release() noexcept
{
    return 0;
}

HRESULT CDownloadStatus::OnStartBinding(DWORD, IBinding*) noexcept
{
    return E_NOTIMPL;
}

HRESULT CDownloadStatus::GetPriority(LONG*) noexcept
{
    return E_NOTIMPL;
}

HRESULT CDownloadStatus::OnLowResource(DWORD) noexcept
{
    return E_NOTIMPL;
}

// Every notification, whatever its kind, moves the bar: one that carries no total sets
// it to 0. A notification after the time limit is refused before it touches either; a
// transfer that notifies nothing is ended by whoever waits for it (TimeLimitPassed). A
// body beyond the byte limit is stopped at the first notification that shows it,
// however long the server would go on sending: the disk would fill long before the time
// limit.
HRESULT CDownloadStatus::OnProgress(ULONG progress, ULONG progressMax, ULONG, LPCWSTR) noexcept
{
    if (TimeLimitPassed())
        return E_ABORT;

    if (progress > m_bytesNotified)
        m_bytesNotified = progress;
    if (progressMax > m_announcedTotal)
        m_announcedTotal = progressMax;
    if (m_limited && (progress > m_byteLimit || progressMax > m_byteLimit))
        m_oversized = true;
    if (m_oversized)
        return E_ABORT;

    m_progress.SetDownloadProgress(ProgressPercent(progress, progressMax));
    PumpMessages();
    return S_OK;
}

HRESULT CDownloadStatus::OnStopBinding(HRESULT, LPCWSTR) noexcept
{
    return E_NOTIMPL;
}

HRESULT CDownloadStatus::GetBindInfo(DWORD*, BINDINFO*) noexcept
{
    return E_NOTIMPL;
}

HRESULT CDownloadStatus::OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) noexcept
{
    return E_NOTIMPL;
}

HRESULT CDownloadStatus::OnObjectAvailable(REFIID, IUnknown*) noexcept
{
    return E_NOTIMPL;
}

void CDownloadStatus::PumpMessages() noexcept
{
    m_progress.PumpMessages();
}

void CDownloadStatus::LimitTo(uint64_t signedSize) noexcept
{
    m_limited = true;
    m_byteLimit = DownloadByteLimit(signedSize);
}

void CDownloadStatus::ArmDeadline() noexcept
{
    m_deadlineArmed = 1;
    m_deadline = DownloadDeadline(m_progress.NowSeconds());
}

bool CDownloadStatus::TimeLimitPassed() noexcept
{
    if (m_deadlineArmed == 0 || !DeadlinePassed(m_progress.NowSeconds(), m_deadline))
        return false;
    m_timeLimitReached = true;
    return true;
}

bool CDownloadStatus::AcceptReceived(uint64_t bytesReceived) noexcept
{
    if (m_limited && bytesReceived > m_byteLimit)
        m_oversized = true;
    return !m_oversized;
}

HRESULT CDownloadStatus::CHttpNegotiate::QueryInterface(REFIID iid, void** object) noexcept
{
    return m_outer.QueryInterface(iid, object);
}

ULONG CDownloadStatus::CHttpNegotiate::AddRef() noexcept
{
    return 0;
}

ULONG CDownloadStatus::CHttpNegotiate::Release() noexcept
{
    return 0;
}

// The package's URL never changes between releases, so a cache on the way (a company's
// proxy) would hand out the package it saw first: every proxy is asked to revalidate.
// The platform frees the headers with CoTaskMemFree.
HRESULT CDownloadStatus::CHttpNegotiate::BeginningTransaction(LPCWSTR, LPCWSTR, DWORD,
                                                              LPWSTR* additionalHeaders) noexcept
{
    if (additionalHeaders == nullptr)
        return S_OK;
    *additionalHeaders = nullptr;
    static constexpr wchar_t kNoCacheHeaders[] = L"Cache-Control: no-cache\r\nPragma: no-cache\r\n";
    auto* headers = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kNoCacheHeaders));
    if (headers == nullptr)
        return S_OK;
    std::memcpy(headers, kNoCacheHeaders, sizeof kNoCacheHeaders);
    *additionalHeaders = headers;
    return S_OK;
}

// The platform's download call reports an error page as a completed download, so the
// status is kept here and judged once the transfer has ended. A length announced beyond
// the byte limit stops the transfer before its body: the platform carries no total in
// its notifications until data has arrived, and may read a fast body to its end (or
// for ever) before it notifies again. The abort is asked for here and, should the
// platform go on regardless, again at the next notification.
HRESULT CDownloadStatus::CHttpNegotiate::OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR,
                                                    LPWSTR* additionalRequestHeaders) noexcept
{
    if (additionalRequestHeaders != nullptr)
        *additionalRequestHeaders = nullptr;
    m_outer.m_httpStatus = status;
    if (m_outer.m_limited && responseHeaders != nullptr &&
        LargestContentLength(AsciiHeaders(responseHeaders)) > m_outer.m_byteLimit)
        m_outer.m_oversized = true;
    return m_outer.m_oversized ? E_ABORT : S_OK;
}
