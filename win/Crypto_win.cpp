#include "Crypto.h"

#include <algorithm>

namespace
{
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
    if (der.empty())
        return false;
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD infoSize = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &info,
                             &infoSize))
        return false;
    HCRYPTKEY handle = 0;
    const BOOL imported = CryptImportPublicKeyInfo(provider, X509_ASN_ENCODING, info, &handle);
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
