// Signed version files for the Windows tests: the local update server stages them, in
// the product folder it serves, with the vendor's staging tool and the build's
// development key (or a throwaway key of its own that the updater does not hold).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testserver
{
enum class SigningKey
{
    Vendor, // the build's development key, compiled into the updater
    Other,  // a key the updater does not hold
};

// Stages `version` as a signed version file in the product folder, naming `packages`
// (default: every package served there now) and carrying `extraLines` before the
// signature, and returns the file as served. On a refusal the test fails with the
// server's reason, and the result is empty.
std::string PublishSignedVersion(const std::string& version, SigningKey key = SigningKey::Vendor,
                                 const std::vector<std::string>& extraLines = {},
                                 const std::vector<std::string>& packages = {});

// The build's development public key (from the folder that ends with a backslash),
// which the updater of this build holds.
std::vector<uint8_t> DevelopmentPublicKey(const std::string& buildDirectory);
} // namespace testserver
