// The progress callback of the package download: a plain object on the stack of the
// download, moving the updater's progress bar, keeping the dialog responsive and
// enforcing the download's time limit.
#pragma once

#include <windows.h>
#include <urlmon.h>

#include <cstdint>

class CUpdaterDlg;

// Current time in whole seconds since 1970-01-01 00:00 UTC.
using SecondsClock = int64_t (*)();

// The runtime's 64-bit clock.
int64_t RuntimeClockSeconds() noexcept;

class CDownloadStatus : public IBindStatusCallback
{
  public:
    CDownloadStatus() noexcept;
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
    // E_ABORT without either once the deadline has passed.
    HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG statusCode,
                                         LPCWSTR statusText) noexcept override;
    HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT result, LPCWSTR error) noexcept override;
    HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD* bindFlags, BINDINFO* bindInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD flags, DWORD size, FORMATETC* format,
                                              STGMEDIUM* medium) noexcept override;
    HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID iid, IUnknown* object) noexcept override;

    // Dispatches every message waiting in the thread's queue, without dialog-key
    // handling: Tab, Enter and Escape do not act as dialog keys during a transfer.
    void PumpMessages() noexcept;

    // Sets the deadline to the time limit from now, by this object's clock.
    void ArmDeadline() noexcept;

    // HTTP status of the response, 0 while none has been seen.
    DWORD HttpStatus() const noexcept { return m_httpStatus; }
    // The largest byte count notified so far, and the total the server announced (0
    // when it announced none).
    uint32_t BytesNotified() const noexcept { return m_bytesNotified; }
    uint32_t AnnouncedTotal() const noexcept { return m_announcedTotal; }

    CUpdaterDlg* m_owner;
    int32_t m_deadlineArmed;
    int64_t m_deadline;
    // Replaceable so that tests can stand on the deadline's exact second.
    SecondsClock m_clock = RuntimeClockSeconds;

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

    DWORD m_httpStatus = 0;
    uint32_t m_bytesNotified = 0;
    uint32_t m_announcedTotal = 0;
    CHttpNegotiate m_negotiate{*this};
};
