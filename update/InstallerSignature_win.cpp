#include "InstallerSignature.h"

#include <algorithm>

#include "Authenticode.h"
#include "resource.h"

namespace
{
// As many as the vendor's signing keys; the walk stops at the first missing number.
constexpr int kMaxInstallerSigners = 16;

// The bytes of RCDATA resource `id` of `module`; null when it is missing or empty.
const uint8_t* ResourceBytes(HMODULE module, int id, DWORD& size) noexcept
{
    size = 0;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10)); // RT_RCDATA
    if (resource == nullptr)
        return nullptr;
    HGLOBAL loaded = LoadResource(module, resource);
    const auto* bytes = static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
    size = SizeofResource(module, resource);
    return size != 0 ? bytes : nullptr;
}

bool PinsAnyKey(HMODULE module) noexcept
{
    DWORD size = 0;
    return ResourceBytes(module, IDR_INSTALLER_SIGNER_FIRST, size) != nullptr;
}

bool IsPinnedKey(HMODULE module, const Sha256Digest& key) noexcept
{
    for (int id = IDR_INSTALLER_SIGNER_FIRST; id < IDR_INSTALLER_SIGNER_FIRST + kMaxInstallerSigners; ++id)
    {
        DWORD size = 0;
        const uint8_t* pin = ResourceBytes(module, id, size);
        if (pin == nullptr)
            return false;
        if (size == key.size() && std::equal(key.begin(), key.end(), pin))
            return true;
    }
    return false;
}
} // namespace

bool IsSignedByVendor(HANDLE file, const std::string& path, HMODULE module) noexcept
{
    if (!PinsAnyKey(module))
    {
        // Only a build that says it checks no signature runs an installer without one;
        // a build that lost its pins runs nothing.
        DWORD size = 0;
        return ResourceBytes(module, IDR_INSTALLER_SIGNATURE_UNCHECKED, size) != nullptr;
    }
    Sha256Digest signerKey{};
    return VerifyAuthenticode(file, path, signerKey) && IsPinnedKey(module, signerKey);
}
