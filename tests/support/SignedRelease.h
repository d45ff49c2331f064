// Signed version files for the Windows tests: the local update server stages them, in
// the product folder it serves, with the vendor's staging tool and the build's
// development keys (or a throwaway key of its own that the updater does not hold), and
// makes the forgeries the updater must refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testserver
{
enum class SigningKey
{
    Vendor,        // the build's own key for the part: the development key for the release
                   // part, the build's freshness key (the same key unless configured apart)
                   // for the freshness part
    Other,         // a key the updater does not hold
    FreshnessOnly, // the build's freshness key, which it trusts for the freshness part only
};

// How the staged file is made: as the vendor's tool stages it, or changed into one of the
// forgeries the updater must refuse.
enum class VersionFileForm
{
    TwoPart,
    FreshnessAlteredAfterSigning, // the expiry moved on to the release's under the old signature
    ExpiryInReleasePart,          // an expires line in the release part too, signed
    SingleSignature,              // the older format, one signature by the release key
    NoReleaseExpiry,              // two parts, but no release-expires line
    // Both parts signed by their keys with the expiries asked for, even a freshness
    // expiry later than the release's: an old release part replayed by the holder of
    // the freshness key alone.
    FreshnessBeyondRelease,
};

struct VersionFileRequest
{
    std::string version;
    SigningKey releaseKey = SigningKey::Vendor;
    SigningKey freshnessKey = SigningKey::Vendor;
    // From now; negative for a file that has expired already.
    long long expiresInSeconds = 7 * 24 * 3600;
    // The release part's own expiry, from now; negative for one that has expired.
    long long releaseExpiresInSeconds = 365 * 24 * 3600;
    std::string product = "Quorvel30";
    VersionFileForm form = VersionFileForm::TwoPart;
    std::vector<std::string> extraLines; // of the release part
    std::vector<std::string> packages;   // default every package served now
};

// Stages the version file `request` describes in the product folder and returns it as
// served. On a refusal the test fails with the server's reason, and the result is empty.
std::string PublishVersionFile(const VersionFileRequest& request);

// Stages `version` as a signed version file in the product folder, naming `packages`
// (default: every package served there now) and carrying `extraLines` in its release
// part, and returns the file as served. On a refusal the test fails with the server's
// reason, and the result is empty.
std::string PublishSignedVersion(const std::string& version, SigningKey key = SigningKey::Vendor,
                                 const std::vector<std::string>& extraLines = {},
                                 const std::vector<std::string>& packages = {});

// The build's development public key (from the folder that ends with a backslash),
// which the updater of this build holds.
std::vector<uint8_t> DevelopmentPublicKey(const std::string& buildDirectory);
} // namespace testserver
