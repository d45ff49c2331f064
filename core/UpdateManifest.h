// The signed manifest of the update server's version file, in two parts. The release
// part is the version line, the product line, one line per package and the release's
// own expiry, signed by a release key; the freshness part says until when the file may
// be believed and is signed, together with everything before it, by a freshness key:
//
//     3.0.1.3
//     product Quorvel30
//     package QuorvelSetup.exe 3145728 <sha-256, 64 lower-case hex digits>
//     release-expires 2027-12-01T00:00:00Z
//     release-signature <base64>
//     expires 2026-12-23T00:00:00Z
//     signature <base64>
//
// Lines end in LF or CRLF. A package name is everything between "package " and the last
// two fields. "release-expires" comes after the product and package lines, and the
// freshness expiry may not be later than it: the freshness key, used online, can keep a
// release part fresh only for as long as the offline release key allowed. Lines with
// other first words are ignored, though signed.
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
    uint64_t size = 0; // 1 to 2^32 - 1 bytes in a valid manifest
    Sha256Digest sha256{};
};

// The reader's verdict: the first fault met, reading from the start.
enum class ManifestStatus
{
    Valid,
    TooLarge,                  // more than kMaxVersionFileBytes
    NoVersionLine,             // empty, or the first line is a signature
    NoProduct,                 // no "product " line before the release signature
    DuplicateProduct,          // a second product line
    BadProductLine,            // an empty product, or one with a byte outside 0x21..0x7E
    BadPackageLine,            // a package line without a name, a plain size and a hex digest
    DuplicatePackage,          // two package lines of one name, ignoring the case of letters
    BadPackageSize,            // a package of 0 bytes, or of 4 GiB or more
    NoReleaseSignature,        // the file or the "signature " line comes before a release signature
    DuplicateReleaseSignature, // a second release signature
    BadReleaseSignatureText,   // the release signature is not strict base64, or empty
    MisplacedLine,             // "expires " in the release part, "product "/"package " after it or
                               // after "release-expires ", "release-expires " after it
    NoReleaseExpiry,           // no "release-expires " line before the release signature
    DuplicateReleaseExpiry,    // a second release-expires line
    BadReleaseExpiry,          // as BadExpiry, for the release-expires line
    NoExpiry,                  // no "expires " line before the signature
    DuplicateExpiry,           // a second expires line
    BadExpiry,                 // not exactly YYYY-MM-DDTHH:MM:SSZ, a real second from 1970 on
    FreshnessBeyondRelease,    // "expires " later than "release-expires "; the only fault found
                               // with the file read whole, every field filled
    NoSignature,               // the file ends before the "signature " line
    SignatureNotLast,          // something other than one line end follows the signature line
    BadSignatureText,          // the signature is not strict base64, or empty
};

struct UpdateManifest
{
    std::string versionLine; // the first line, without its line end
    std::string product;     // the product code of the "product " line
    std::vector<ManifestPackage> packages;
    // The release part: the bytes from the start up to the release signature's line,
    // and that signature, decoded, most significant byte first.
    size_t releaseSignedLength = 0;
    std::vector<uint8_t> releaseSignature;
    // Seconds since 1970-01-01 00:00 UTC from which the release part, and so the file,
    // is no longer believed, whatever its freshness part says.
    int64_t releaseExpires = 0;
    // Seconds since 1970-01-01 00:00 UTC from which the file is no longer believed; in a
    // valid manifest never later than releaseExpires.
    int64_t expires = 0;
    // The bytes from the start up to the last line, which the signature covers.
    size_t signedLength = 0;
    std::vector<uint8_t> signature;
};

// Reads `file` into `out`. Anything but Valid leaves `out` in no particular state and
// must be treated as untrustworthy. Never reads outside `file`. Checks the signatures'
// place and spelling only, not whether they verify.
[[nodiscard]] ManifestStatus ParseUpdateManifest(std::string_view file, UpdateManifest& out);

// The package of that name, ASCII letters compared without case; null when absent.
const ManifestPackage* FindManifestPackage(const UpdateManifest& manifest, std::string_view name);
