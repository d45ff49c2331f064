// The progress callback of the package download: a plain object on the stack of the
// download that passes the transfer's progress on to the window showing it, keeps that
// window responsive and enforces the download's time limit.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>

#include "DownloadProgress.h"

class CDownloadStatus : public IBindStatusCallback
{
  public:
    // Reports to `progress`, which outlives the object. The deadline starts disarmed.
    explicit CDownloadStatus(IDownloadProgress& progress) noexcept;
    CDownloadStatus(const CDownloadStatus&) = delete;
    CDownloadStatus& operator=(const CDownloadStatus&) = delete;

    // Not reference counted: AddRef and Release answer 0 and free nothing. The one
    // interface answered is IHttpNegotiate, to learn the HTTP status; every other,
    // IUnknown and IBindStatusCallback included, gets E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override;
    ULONG STDMETHODCALLTYPE AddRef() noexcept override;
    ULONG STDMETHODCALLTYPE Release() noexcept override;

    HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD reserved, IBinding* binding) noexcept override;
    HRESULT STDMETHODCALLTYPE GetPriority(LONG* priority) noexcept override;
    HRESULT STDMETHODCALLTYPE OnLowResource(DWORD reserved) noexcept override;
    // Moves the bar to the notification's percentage and drains the message queue;
    // E_ABORT without either once the deadline has passed, or once the byte count or
    // the announced total is beyond the byte limit.
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) noexcept override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) noexcept override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                              STGMEDIUM* medium) noexcept override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) noexcept override;

    // Lets the window handle what waits in the thread's queue.
    void PumpMessages() noexcept;

    // Sets the deadline to the time limit from now, by the progress's clock.
    void ArmDeadline() noexcept;
    bool DeadlineArmed() const noexcept { return m_deadlineArmed != 0; }
    // Seconds since 1970; the last second in which a notification is still accepted.
    int64_t Deadline() const noexcept { return m_deadline; }
    // Reads the progress's clock: true once the deadline is armed and has passed, by the
    // rule OnProgress keeps, so that a transfer that notifies nothing is ended when a
    // notification would have been.
    bool TimeLimitPassed() noexcept;
    // True once the time limit has refused a notification or been found passed.
    bool TimeLimitReached() const noexcept { return m_timeLimitReached; }

    // Bounds the transfer to a package of `signedSize` bytes: a response that announces,
    // or a body that reaches, more than DownloadByteLimit of it is stopped at once.
    // Without it any length is taken.
    void LimitTo(uint64_t signedSize) noexcept;
    // True once the transfer was stopped for announcing or delivering too much.
    bool Oversized() const noexcept { return m_oversized; }
    // Takes the count of body bytes that have arrived so far; false, and oversized from
    // then on, once it is beyond the byte limit.
    bool AcceptReceived(uint64_t bytesReceived) noexcept;

    // HTTP status of the response, 0 while none has been seen.
    DWORD HttpStatus() const noexcept { return m_httpStatus; }
    // The largest byte count notified so far, and the total the server announced (0
    // when it announced none).
    uint32_t BytesNotified() const noexcept { return m_bytesNotified; }
    uint32_t AnnouncedTotal() const noexcept { return m_announcedTotal; }

  private:
    // Sees the response status line. A member rather than a second base, so the
    // callback's own layout stays that of a single-interface object.
    class CHttpNegotiate : public IHttpNegotiate
    {
      public:
        explicit CHttpNegotiate(CDownloadStatus& outer) noexcept : m_outer(outer) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override;
        ULONG STDMETHODCALLTYPE AddRef() noexcept override;
        ULONG STDMETHODCALLTYPE Release() noexcept override;
        HRESULT STDMETHODCALLTYPE BeginningTransaction(LPCWSTR url, LPCWSTR headers, DWORD reserved,
                                                       LPWSTR* additionalHeaders) noexcept override;
        HRESULT STDMETHODCALLTYPE OnResponse(DWORD status, LPCWSTR responseHeaders, LPCWSTR requestHeaders,
                                             LPWSTR* additionalRequestHeaders) noexcept override;

      private:
        CDownloadStatus& m_outer;
    };

    IDownloadProgress& m_progress;
    int32_t m_deadlineArmed = 0;
    int64_t m_deadline = 0;
    bool m_timeLimitReached = false;
    DWORD m_httpStatus = 0;
    uint32_t m_bytesNotified = 0;
    uint32_t m_announcedTotal = 0;
    bool m_limited = false;
    uint64_t m_byteLimit = 0;
    bool m_oversized = false;
    CHttpNegotiate m_negotiate{*this};
};
