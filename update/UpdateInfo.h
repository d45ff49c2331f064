// Trust in the update information: the vendor's keys and the check of the signed
// manifest in the server's version file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "UpdateManifest.h"

// Public keys (DER SubjectPublicKeyInfo) of which any one may sign a part of the manifest.
using SigningKeys = std::vector<std::vector<uint8_t>>;

// The keys the updater trusts, one set for each part of the manifest: the release keys
// vouch for the version and the packages, the freshness keys for the expiry.
struct UpdateKeys
{
    SigningKeys release;
    SigningKeys freshness;
};

// The release keys compiled into `module` (null: the running executable) as RCDATA
// resources numbered from IDR_SIGNING_KEY_FIRST on, in order; empty when it holds none.
SigningKeys LoadSigningKeys(HMODULE module = nullptr);

// The freshness keys compiled into `module` (null: the running executable), numbered
// from IDR_FRESHNESS_KEY_FIRST on, in order; empty when it holds none.
SigningKeys LoadFreshnessKeys(HMODULE module = nullptr);

// Both sets of keys of `module` (null: the running executable).
UpdateKeys LoadUpdateKeys(HMODULE module = nullptr);

enum class UpdateInfoVerdict
{
    // The vendor's current update information for this product and language.
    Believed,
    // The vendor's update information, authentic in every other way, past its expiry or
    // its release part's: what a server that stopped being refreshed, or an old copy
    // replayed, offers.
    Expired,
    // Anything else: malformed, a signature that does not verify under its part's keys,
    // a freshness expiry later than the release's (no clock makes that file right),
    // another product, no package of this language; a platform that cannot verify too.
    NotBelieved,
};

// Checks `versionFile`: the release part's signature with a release key, the whole
// signed part's with a freshness key, the product code exactly `productCode`, a package
// named `packageName` (ASCII letters in any case), and `now` (seconds since 1970, UTC)
// before both the expiry and the release part's expiry. Only Believed sets `expected`
// to that package's entry.
[[nodiscard]] UpdateInfoVerdict VerifyUpdateInfo(std::string_view versionFile, std::string_view productCode,
                                                 std::string_view packageName, const UpdateKeys& keys,
                                                 int64_t now, ManifestPackage& expected);
