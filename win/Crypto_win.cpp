#include "Crypto.h"

#include <algorithm>
#include <cstring>

#include "Platform.h"

namespace
{
using DecodeObjectFunction = BOOL(WINAPI*)(DWORD encoding, LPCSTR type, const BYTE* data, DWORD size,
                                           DWORD flags, PCRYPT_DECODE_PARA parameters, void* decoded,
                                           DWORD* decodedSize);
using ImportPublicKeyInfoFunction = BOOL(WINAPI*)(HCRYPTPROV provider, DWORD encoding,
                                                  PCERT_PUBLIC_KEY_INFO info, HCRYPTKEY* key);

// The certificate library's two functions that turn a DER public key into a key of the
// provider.
struct CertificateFunctions
{
    DecodeObjectFunction decodeObject = nullptr;
    ImportPublicKeyInfoFunction importPublicKeyInfo = nullptr;
};

// crypt32.dll is bound at run time, not imported: a system without it, or with one that
// lacks CryptDecodeObjectEx (NT 4.0 and Windows 98 before Internet Explorer 5), still
// starts the updater, which then says that it cannot check updates. It is loaded by its
// full path in the system folder, never from a folder the user chose, and stays loaded
// until the process ends.
bool BindCertificateFunctions(CertificateFunctions& functions) noexcept
{
    const HMODULE crypt32 = LoadSystemLibrary("crypt32.dll");
    if (crypt32 == nullptr)
        return false;
    functions.decodeObject = BindProcedure<DecodeObjectFunction>(crypt32, "CryptDecodeObjectEx");
    functions.importPublicKeyInfo =
        BindProcedure<ImportPublicKeyInfoFunction>(crypt32, "CryptImportPublicKeyInfo");
    return functions.decodeObject != nullptr && functions.importPublicKeyInfo != nullptr;
}

// The provider type that offers SHA-256 alongside RSA; a verify-only context needs no
// key container of its own.
bool OpenProvider(UniqueCryptProvider& provider) noexcept
{
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextA(&handle, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return false;
    provider.reset(handle);
    return true;
}

bool CreateSha256(HCRYPTPROV provider, UniqueCryptHash& hash) noexcept
{
    HCRYPTHASH handle = 0;
    if (!CryptCreateHash(provider, CALG_SHA_256, 0, 0, &handle))
        return false;
    hash.reset(handle);
    return true;
}

bool HashData(HCRYPTHASH hash, const void* data, size_t size) noexcept
{
    // CryptHashData takes at most a DWORD at a time.
    const auto* bytes = static_cast<const BYTE*>(data);
    while (size > 0)
    {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!CryptHashData(hash, bytes, piece, 0))
            return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

// Imports a DER SubjectPublicKeyInfo as an RSA key of the provider.
bool ImportPublicKey(HCRYPTPROV provider, const std::vector<uint8_t>& der, UniqueCryptKey& key) noexcept
{
    CertificateFunctions certificates;
    if (der.empty() || !BindCertificateFunctions(certificates))
        return false;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!certificates.decodeObject(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                                   static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                                   &infoSize))
        return false;
    HCRYPTKEY handle = 0;
    const BOOL imported = certificates.importPublicKeyInfo(provider, X509_ASN_ENCODING, info, &handle);
    LocalFree(info);
    if (!imported)
        return false;
    key.reset(handle);
    return true;
}

DWORD KeyBits(HCRYPTKEY key) noexcept
{
    DWORD bits = 0;
    DWORD size = sizeof bits;
    if (!CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &size, 0))
        return 0;
    return bits;
}
} // namespace

bool CanCheckSignatures() noexcept
{
    CertificateFunctions certificates;
    UniqueCryptProvider provider;
    UniqueCryptHash hash;
    return BindCertificateFunctions(certificates) && OpenProvider(provider) &&
           CreateSha256(provider.get(), hash);
}

bool FillRandom(void* data, size_t size) noexcept
{
    // Any provider's generator will do, and the oldest type is on every system.
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextA(&handle, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return false;
    const UniqueCryptProvider provider(handle);
    auto* bytes = static_cast<BYTE*>(data);
    while (size > 0)
    {
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!CryptGenRandom(provider.get(), piece, bytes))
            return false;
        bytes += piece;
        size -= piece;
    }
    return true;
}

CSha256::CSha256() noexcept
{
    if (OpenProvider(m_provider))
        (void)CreateSha256(m_provider.get(), m_hash);
}

bool CSha256::Update(const void* data, size_t size) noexcept
{
    return m_hash && HashData(m_hash.get(), data, size);
}

bool CSha256::Finish(Sha256Digest& digest) noexcept
{
    if (!m_hash)
        return false;
    DWORD size = static_cast<DWORD>(digest.size());
    const bool finished =
        CryptGetHashParam(m_hash.get(), HP_HASHVAL, digest.data(), &size, 0) && size == digest.size();
    // A finished hash takes no more data; dropping it keeps Update from pretending.
    m_hash.reset();
    return finished;
}

bool VerifyRsaSha256Signature(const std::vector<uint8_t>& publicKey, const void* data, size_t size,
                              const std::vector<uint8_t>& signature) noexcept
{
    UniqueCryptProvider provider;
    UniqueCryptKey key;
    UniqueCryptHash hash;
    if (!OpenProvider(provider) || !ImportPublicKey(provider.get(), publicKey, key) ||
        KeyBits(key.get()) < kMinimumSigningKeyBits || signature.size() * 8 != KeyBits(key.get()) ||
        !CreateSha256(provider.get(), hash) || !HashData(hash.get(), data, size))
        return false;
    // The provider reads the signature least significant byte first.
    std::vector<uint8_t> littleEndian(signature.rbegin(), signature.rend());
    return CryptVerifySignatureA(hash.get(), littleEndian.data(), static_cast<DWORD>(littleEndian.size()),
                                 key.get(), nullptr, 0) != FALSE;
}
