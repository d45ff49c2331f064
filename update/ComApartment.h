// COM on the calling thread for the length of one operation.
#pragma once

#include <windows.h>
#include <objbase.h>

// A single-threaded apartment, as the shell and the platform's URL downloads expect of
// their caller: the shell may start a package through COM and its documentation asks for
// an apartment without OLE 1 DDE; an asynchronous URL binding delivers its notifications
// through the apartment's message queue. Systems whose COM does not know that flag get a
// plain apartment instead. A thread that is in an apartment already stays in it.
class CComApartment
{
  public:
    CComApartment() noexcept
        : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))
    {
        if (FAILED(m_result) && m_result != RPC_E_CHANGED_MODE)
            m_result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    ~CComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;

  private:
    HRESULT m_result;
};
