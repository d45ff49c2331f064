// The signed manifest of the update server's version file: after the version line, one
// line per package the vendor publishes, and last the vendor's signature over every
// byte before it:
//
//     3.0.1.3
//     package QuorvelSetup.exe 3145728 <sha-256, 64 lower-case hex digits>
//     signature <base64>
//
// Lines end in LF or CRLF. A package name is everything between "package " and the last
// two fields. Lines with other first words are ignored, though signed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A version file larger than this is refused whole.
constexpr size_t kMaxVersionFileBytes = 64 * 1024;
constexpr size_t kSha256Bytes = 32;
using Sha256Digest = std::array<uint8_t, kSha256Bytes>;

struct ManifestPackage
{
    std::string name;
    uint64_t size = 0;
    Sha256Digest sha256{};
};

enum class ManifestStatus
{
    Valid,
    TooLarge,         // more than kMaxVersionFileBytes
    NoVersionLine,    // empty, or the first line is the signature
    NoSignature,      // no "signature " line
    SignatureNotLast, // something other than one line end follows the signature line
    BadSignatureText, // not strict base64, or empty
    BadPackageLine,   // a "package " line without a name, a plain size and a hex digest
    DuplicatePackage, // two package lines of one name, ignoring the case of letters
};

struct UpdateManifest
{
    std::string versionLine;        // the first line, without its line end
    size_t signedLength = 0;        // the bytes from the start that the signature covers
    std::vector<uint8_t> signature; // decoded, most significant byte first
    std::vector<ManifestPackage> packages;
};

// Reads `file` into `out`. Anything but Valid leaves `out` in no particular state and
// must be treated as untrustworthy. Never reads outside `file`.
[[nodiscard]] ManifestStatus ParseUpdateManifest(std::string_view file, UpdateManifest& out);

// The package of that name, ASCII letters compared without case; null when absent.
const ManifestPackage* FindManifestPackage(const UpdateManifest& manifest, std::string_view name);
