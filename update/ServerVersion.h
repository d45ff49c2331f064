// Fetching and checking the version the update server offers.
#pragma once

#include <string>

#include "UpdateInfo.h"
#include "UpdateManifest.h"
#include "VersionFileFetch.h"
#include "VersionQuad.h"

// The version file's address: the update server's base URL, the product code and
// "/version.txt".
std::string VersionFileUrl(const std::string& productCode);

enum class ServerAnswer
{
    // No version file: no connection, a status outside 2xx, a body cut short, or a body
    // that does not start like a version file (an error page).
    Unreachable,
    // A version file that is not a well-formed manifest of this product, signed in both
    // parts by the vendor's keys and naming this language's package, or one over the size
    // limit.
    Unverified,
    // The vendor's version file for this product and language, past its expiry or its
    // release part's by the system clock: the server is not being kept up, or an old
    // file is replayed.
    Expired,
    // The vendor's version: `server` and the package entry are filled.
    Verified,
    // This system cannot check the vendor's signature (its CryptoAPI has no SHA-256), so
    // no version file can be believed here; none is fetched.
    CannotVerifyOnThisSystem,
};

// Fetches the version file of `productCode`, checks its signatures with `keys`, its
// product, that it names `packageName` and its expiry against the system clock; asks
// nothing of the server where this system cannot check a signature. The four components
// of `server` are set to 0 first; only a verified answer fills `server` (from the first
// seven characters) and `expected`. The fetch has the version file's deadline; with
// `report`, what it got and why it ended is written there (nothing when none was made).
[[nodiscard]] ServerAnswer FetchServerVersion(const std::string& productCode, const std::string& packageName,
                                              const UpdateKeys& keys, VersionQuad& server,
                                              ManifestPackage& expected, VersionFileFetch* report = nullptr);
