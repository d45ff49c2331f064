// SHA-256 and RSA signature checks through the platform's own cryptographic provider.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Handles.h"
#include "UpdateManifest.h"

// Vendor keys shorter than this are not trusted.
constexpr DWORD kMinimumSigningKeyBits = 3072;

// True when this system can check what the vendor signs: its CryptoAPI offers SHA-256
// with RSA (Windows XP SP3 and later) and its certificate library imports public keys.
// Where it is false, every check below fails closed.
[[nodiscard]] bool CanCheckSignatures() noexcept;

// Fills `size` bytes at `data` with the platform's cryptographic random numbers
// (CryptGenRandom); false when the platform cannot give them.
[[nodiscard]] bool FillRandom(void* data, size_t size) noexcept;

// A SHA-256 digest computed piece by piece. Not ready on a platform whose provider has
// no SHA-256 (older systems): every check built on it then fails closed.
class CSha256
{
  public:
    CSha256() noexcept;
    CSha256(const CSha256&) = delete;
    CSha256& operator=(const CSha256&) = delete;

    [[nodiscard]] bool Ready() const noexcept { return static_cast<bool>(m_hash); }
    // Adds `size` bytes; false when the digest is not ready or the provider fails.
    [[nodiscard]] bool Update(const void* data, size_t size) noexcept;
    // The digest of everything added; false when it cannot be had.
    [[nodiscard]] bool Finish(Sha256Digest& digest) noexcept;

  private:
    UniqueCryptProvider m_provider;
    UniqueCryptHash m_hash;
};

// True when `signature` (big-endian, as the common tools write it) is an RSA PKCS#1 v1.5
// signature of the SHA-256 of `data` made with the private half of `publicKey` (DER
// SubjectPublicKeyInfo) of at least kMinimumSigningKeyBits. False for anything else,
// and whenever the platform cannot tell.
[[nodiscard]] bool VerifyRsaSha256Signature(const std::vector<uint8_t>& publicKey, const void* data,
                                            size_t size, const std::vector<uint8_t>& signature) noexcept;
