#include "Authenticode.h"

#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include "Crypto.h"
#include "Platform.h"

namespace
{
using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFromStateDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFromChainFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using EncodeObjectFn = BOOL(WINAPI*)(DWORD encoding, LPCSTR type, const void* info, BYTE* encoded,
                                     DWORD* encodedSize);

// Paths are read into 261-byte buffers; their wide form fits as many characters.
constexpr int kWidePathBuffer = 261;
// An RSA key of 16384 bits with its algorithm fits easily.
constexpr DWORD kMaxPublicKeyInfo = 4096;

struct WinTrustEntryPoints
{
    WinVerifyTrustFn verify = nullptr;
    ProvDataFromStateDataFn stateData = nullptr;
    ProvSignerFromChainFn signer = nullptr;
};

// wintrust.dll is not imported (systems before Internet Explorer 4 lack it): it is loaded
// from the system folder when a package is checked.
bool BindWinTrust(WinTrustEntryPoints& entry) noexcept
{
    const HMODULE wintrust = LoadSystemLibrary("wintrust.dll");
    if (wintrust == nullptr)
        return false;
    entry.verify = BindProcedure<WinVerifyTrustFn>(wintrust, "WinVerifyTrust");
    entry.stateData = BindProcedure<ProvDataFromStateDataFn>(wintrust, "WTHelperProvDataFromStateData");
    entry.signer = BindProcedure<ProvSignerFromChainFn>(wintrust, "WTHelperGetProvSignerFromChain");
    return entry.verify != nullptr && entry.stateData != nullptr && entry.signer != nullptr;
}

// One verification of one file, with the state WinTrust keeps for it between the verify
// and the close; the destructor closes that state whatever the outcome.
class CWinTrustVerification
{
  public:
    CWinTrustVerification(WinVerifyTrustFn verify, HANDLE file, const wchar_t* path) noexcept
        : m_verify(verify)
    {
        m_file.cbStruct = sizeof m_file;
        m_file.pcwszFilePath = path;
        m_file.hFile = file;
        m_data.cbStruct = sizeof m_data;
        m_data.dwUIChoice = WTD_UI_NONE;
        // Revocation is not asked for: the signer is trusted for its pinned key, not for
        // a certificate authority's word, and asking would mean fetching lists over the
        // network that may be the attacker's (or block for long), or a cache whose
        // contents decide the answer by chance. URLs are taken from the cache only, so no
        // part of the chain is fetched either.
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
    }
    CWinTrustVerification(const CWinTrustVerification&) = delete;
    CWinTrustVerification& operator=(const CWinTrustVerification&) = delete;
    ~CWinTrustVerification()
    {
        if (m_data.hWVTStateData == nullptr)
            return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        (void)Call();
    }

    // True when the platform accepts the file's signature.
    [[nodiscard]] bool Verify() noexcept { return Call() == ERROR_SUCCESS; }

    // The verification's state: null when the platform kept none.
    HANDLE State() const noexcept { return m_data.hWVTStateData; }

  private:
    LONG Call() noexcept
    {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        // INVALID_HANDLE_VALUE as the window: there is no user to ask.
        return m_verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }

    WinVerifyTrustFn m_verify;
    WINTRUST_FILE_INFO m_file{};
    WINTRUST_DATA m_data{};
};

bool HashPublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info, Sha256Digest& digest) noexcept
{
    // crypt32.dll is bound, not imported (see Crypto_win.cpp); WinTrust has loaded it by now.
    const HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
    const auto encodeObject =
        crypt32 != nullptr ? BindProcedure<EncodeObjectFn>(crypt32, "CryptEncodeObject") : nullptr;
    BYTE encoded[kMaxPublicKeyInfo];
    DWORD size = sizeof encoded;
    // The certificate holds the key info in DER, whose one encoding this reproduces.
    if (encodeObject == nullptr ||
        !encodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, encoded, &size))
        return false;
    CSha256 sha;
    return sha.Update(encoded, size) && sha.Finish(digest);
}

// The key of the primary signature's signer, from the verification's own state.
bool SignerKeyHash(const WinTrustEntryPoints& entry, HANDLE state, Sha256Digest& digest) noexcept
{
    CRYPT_PROVIDER_DATA* data = entry.stateData(state);
    CRYPT_PROVIDER_SGNR* signer = data != nullptr ? entry.signer(data, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr)
        return false;
    // The chain starts with the signer's own certificate.
    PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
    if (certificate == nullptr || certificate->pCertInfo == nullptr)
        return false;
    return HashPublicKeyInfo(certificate->pCertInfo->SubjectPublicKeyInfo, digest);
}
} // namespace

bool VerifyAuthenticode(HANDLE file, const std::string& path, Sha256Digest& signerKeyHash) noexcept
{
    wchar_t widePath[kWidePathBuffer] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, widePath, kWidePathBuffer) == 0)
        return false;
    WinTrustEntryPoints entry;
    if (!BindWinTrust(entry))
        return false;
    CWinTrustVerification verification(entry.verify, file, widePath);
    return verification.Verify() && verification.State() != nullptr &&
           SignerKeyHash(entry, verification.State(), signerKeyHash);
}
