#include "UpdateInfo.h"

#include "Crypto.h"
#include "resource.h"

namespace
{
// More keys than any rotation needs; the walk stops at the first missing number.
constexpr int kMaxSigningKeys = 16;

SigningKeys LoadKeysFrom(HMODULE module, int firstId)
{
    SigningKeys keys;
    for (int id = firstId; id < firstId + kMaxSigningKeys; ++id)
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

// True when one of `keys` made `signature` over the first `length` bytes of the file.
bool SignedByOneOf(const SigningKeys& keys, std::string_view versionFile, size_t length,
                   const std::vector<uint8_t>& signature)
{
    for (const std::vector<uint8_t>& key : keys)
    {
        if (VerifyRsaSha256Signature(key, versionFile.data(), length, signature))
            return true;
    }
    return false;
}
} // namespace

SigningKeys LoadSigningKeys(HMODULE module)
{
    return LoadKeysFrom(module, IDR_SIGNING_KEY_FIRST);
}

SigningKeys LoadFreshnessKeys(HMODULE module)
{
    return LoadKeysFrom(module, IDR_FRESHNESS_KEY_FIRST);
}

UpdateKeys LoadUpdateKeys(HMODULE module)
{
    return UpdateKeys{LoadSigningKeys(module), LoadFreshnessKeys(module)};
}

UpdateInfoVerdict VerifyUpdateInfo(std::string_view versionFile, std::string_view productCode,
                                   std::string_view packageName, const UpdateKeys& keys, int64_t now,
                                   ManifestPackage& expected)
{
    UpdateManifest manifest;
    // A freshness part that outlives its release part is read whole: it is never
    // believed, but an authentic one whose release has expired is told apart below.
    const ManifestStatus status = ParseUpdateManifest(versionFile, manifest);
    if (status != ManifestStatus::Valid && status != ManifestStatus::FreshnessBeyondRelease)
        return UpdateInfoVerdict::NotBelieved;
    // Each part only under its own keys: a freshness key, kept on the server to sign
    // again every few days, cannot make a release, and a release key alone cannot make
    // an old file look fresh where the two are kept apart.
    if (!SignedByOneOf(keys.release, versionFile, manifest.releaseSignedLength, manifest.releaseSignature) ||
        !SignedByOneOf(keys.freshness, versionFile, manifest.signedLength, manifest.signature))
        return UpdateInfoVerdict::NotBelieved;
    // What is looked up is looked up only in a manifest known to be the vendor's; a
    // release of another product, signed with the same keys, is not this one's.
    if (manifest.product != productCode)
        return UpdateInfoVerdict::NotBelieved;
    const ManifestPackage* package = FindManifestPackage(manifest, packageName);
    if (package == nullptr)
        return UpdateInfoVerdict::NotBelieved;
    // Last, so that the hint about the date is given only for the vendor's own file.
    // A release part past its own expiry is expired whatever its freshness part says:
    // an old release part that the online freshness key alone signed fresh again gets
    // the same warning as any expired file. One still within its expiry, but fresh for
    // longer than the release key allowed, is not the vendor's to believe.
    if (now >= manifest.releaseExpires)
        return UpdateInfoVerdict::Expired;
    if (status == ManifestStatus::FreshnessBeyondRelease)
        return UpdateInfoVerdict::NotBelieved;
    if (now >= manifest.expires)
        return UpdateInfoVerdict::Expired;
    expected = *package;
    return UpdateInfoVerdict::Believed;
}
