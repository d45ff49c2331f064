#include "UpdateInfo.h"

#include "Crypto.h"
#include "resource.h"

namespace
{
// More keys than any rotation needs; the walk stops at the first missing number.
constexpr int kMaxSigningKeys = 16;
} // namespace

SigningKeys LoadSigningKeys(HMODULE module)
{
    SigningKeys keys;
    for (int id = IDR_SIGNING_KEY_FIRST; id < IDR_SIGNING_KEY_FIRST + kMaxSigningKeys; ++id)
    {
        HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10)); // RT_RCDATA
        if (resource == nullptr)
            break;
        HGLOBAL loaded = LoadResource(module, resource);
        const auto* bytes = static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
        const DWORD size = SizeofResource(module, resource);
        if (bytes == nullptr || size == 0)
            break;
        keys.emplace_back(bytes, bytes + size);
    }
    return keys;
}

bool VerifyUpdateInfo(std::string_view versionFile, std::string_view packageName, const SigningKeys& keys,
                      ManifestPackage& expected)
{
    UpdateManifest manifest;
    if (ParseUpdateManifest(versionFile, manifest) != ManifestStatus::Valid)
        return false;
    // The package is looked up only in a manifest that is known to be the vendor's.
    bool signedByVendor = false;
    for (const std::vector<uint8_t>& key : keys)
    {
        if (VerifyRsaSha256Signature(key, versionFile.data(), manifest.signedLength, manifest.signature))
        {
            signedByVendor = true;
            break;
        }
    }
    if (!signedByVendor)
        return false;
    const ManifestPackage* package = FindManifestPackage(manifest, packageName);
    if (package == nullptr)
        return false;
    expected = *package;
    return true;
}
