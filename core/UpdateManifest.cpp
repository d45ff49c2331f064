#include "UpdateManifest.h"

#include <limits>

#include "UtcTime.h"

namespace
{
constexpr std::string_view kProductWord = "product ";
constexpr std::string_view kPackageWord = "package ";
constexpr std::string_view kReleaseExpiresWord = "release-expires ";
constexpr std::string_view kReleaseSignatureWord = "release-signature ";
constexpr std::string_view kExpiresWord = "expires ";
constexpr std::string_view kSignatureWord = "signature ";
constexpr size_t kShaHexDigits = 2 * kSha256Bytes;
// A download counts its bytes in 32 bits, so a package must be smaller than 4 GiB.
constexpr uint64_t kPackageSizeLimit = uint64_t{1} << 32;

struct Line
{
    std::string_view text; // without its line end
    size_t start = 0;      // offset of the line in the file
    size_t end = 0;        // offset just past its line end
};

// The line that starts at `start`; its end is past the LF (CRLF or LF), or the file's end.
Line LineAt(std::string_view file, size_t start)
{
    Line line;
    line.start = start;
    const size_t newline = file.find('\n', start);
    const size_t stop = newline == std::string_view::npos ? file.size() : newline;
    size_t textEnd = stop;
    if (newline != std::string_view::npos && textEnd > start && file[textEnd - 1] == '\r')
        --textEnd;
    line.text = file.substr(start, textEnd - start);
    line.end = newline == std::string_view::npos ? file.size() : newline + 1;
    return line;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
    {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

// Plain decimal digits, nothing else, at most 2^63 - 1.
bool ParseSize(std::string_view text, uint64_t& size)
{
    constexpr uint64_t kLargest = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (const char c : text)
    {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (kLargest - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    size = value;
    return true;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1; // upper-case digits too: the digest is written in lower case only
}

bool ParseDigest(std::string_view text, Sha256Digest& digest)
{
    if (text.size() != kShaHexDigits)
        return false;
    for (size_t i = 0; i < kSha256Bytes; ++i)
    {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        digest[i] = static_cast<uint8_t>(high * 16 + low);
    }
    return true;
}

// "package <name> <size> <sha-256>": the name may hold spaces, so the last two fields
// are taken from the end.
bool ParsePackageLine(std::string_view rest, ManifestPackage& package)
{
    const size_t shaSpace = rest.rfind(' ');
    if (shaSpace == std::string_view::npos || shaSpace == 0)
        return false;
    const size_t sizeSpace = rest.rfind(' ', shaSpace - 1);
    if (sizeSpace == std::string_view::npos || sizeSpace == 0)
        return false;
    package.name = std::string(rest.substr(0, sizeSpace));
    return ParseSize(rest.substr(sizeSpace + 1, shaSpace - sizeSpace - 1), package.size) &&
           ParseDigest(rest.substr(shaSpace + 1), package.sha256);
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Standard alphabet, "=" padding to a multiple of four, no white space; the bits that
// padding leaves over must be zero, so that every signature has one spelling only.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& bytes)
{
    if (text.empty() || text.size() % 4 != 0)
        return false;
    size_t padding = 0;
    while (padding < 2 && text[text.size() - 1 - padding] == '=')
        ++padding;
    bytes.clear();
    uint32_t bits = 0;
    int bitCount = 0;
    for (size_t i = 0; i < text.size() - padding; ++i)
    {
        const int value = Base64Value(text[i]);
        if (value < 0)
            return false;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        bitCount += 6;
        if (bitCount >= 8)
        {
            bitCount -= 8;
            bytes.push_back(static_cast<uint8_t>(bits >> bitCount));
            bits &= (1u << bitCount) - 1;
        }
    }
    return bits == 0;
}
// A product code is compared byte for byte, so it is printable ASCII without spaces.
bool IsProductCode(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
    {
        if (c < 0x21 || c > 0x7E)
            return false;
    }
    return true;
}

// Where the walk through the lines stands.
struct Walk
{
    bool releaseExpirySeen = false;
    bool inFreshnessPart = false;
    bool expirySeen = false;
    bool signatureSeen = false;
};

ManifestStatus ReadProductLine(std::string_view value, UpdateManifest& out)
{
    if (!out.product.empty())
        return ManifestStatus::DuplicateProduct;
    if (!IsProductCode(value))
        return ManifestStatus::BadProductLine;
    out.product = std::string(value);
    return ManifestStatus::Valid;
}

ManifestStatus ReadPackageLine(std::string_view rest, UpdateManifest& out)
{
    ManifestPackage package;
    if (!ParsePackageLine(rest, package))
        return ManifestStatus::BadPackageLine;
    if (package.size == 0 || package.size >= kPackageSizeLimit)
        return ManifestStatus::BadPackageSize;
    if (FindManifestPackage(out, package.name) != nullptr)
        return ManifestStatus::DuplicatePackage;
    out.packages.push_back(std::move(package));
    return ManifestStatus::Valid;
}

ManifestStatus ReadReleaseExpiryLine(std::string_view value, UpdateManifest& out, Walk& walk)
{
    if (walk.releaseExpirySeen)
        return ManifestStatus::DuplicateReleaseExpiry;
    if (!ParseUtcTimestamp(value, out.releaseExpires))
        return ManifestStatus::BadReleaseExpiry;
    walk.releaseExpirySeen = true;
    return ManifestStatus::Valid;
}

// One line of the release part; Valid when it holds no fault. The release signature
// ends the part.
ManifestStatus ReadReleaseLine(const Line& line, UpdateManifest& out, Walk& walk)
{
    if (StartsWith(line.text, kReleaseSignatureWord))
    {
        if (!DecodeBase64(line.text.substr(kReleaseSignatureWord.size()), out.releaseSignature))
            return ManifestStatus::BadReleaseSignatureText;
        if (out.product.empty())
            return ManifestStatus::NoProduct;
        // A release part without its own expiry could be kept fresh for ever by the
        // freshness key alone.
        if (!walk.releaseExpirySeen)
            return ManifestStatus::NoReleaseExpiry;
        out.releaseSignedLength = line.start;
        walk.inFreshnessPart = true;
        return ManifestStatus::Valid;
    }
    // A file with a single signature is one of the older format: it says nothing of
    // its freshness, so it is not read as one.
    if (StartsWith(line.text, kSignatureWord))
        return ManifestStatus::NoReleaseSignature;
    if (StartsWith(line.text, kExpiresWord))
        return ManifestStatus::MisplacedLine;
    if (StartsWith(line.text, kReleaseExpiresWord))
        return ReadReleaseExpiryLine(line.text.substr(kReleaseExpiresWord.size()), out, walk);
    // The release's expiry closes what the release names.
    const bool namesRelease = StartsWith(line.text, kProductWord) || StartsWith(line.text, kPackageWord);
    if (namesRelease && walk.releaseExpirySeen)
        return ManifestStatus::MisplacedLine;
    if (StartsWith(line.text, kProductWord))
        return ReadProductLine(line.text.substr(kProductWord.size()), out);
    if (StartsWith(line.text, kPackageWord))
        return ReadPackageLine(line.text.substr(kPackageWord.size()), out);
    return ManifestStatus::Valid;
}

// One line of the freshness part; Valid when it holds no fault. The signature ends the
// file.
ManifestStatus ReadFreshnessLine(std::string_view file, const Line& line, UpdateManifest& out, Walk& walk)
{
    if (StartsWith(line.text, kSignatureWord))
    {
        // Only one line end may follow; no second signature, no trailing lines.
        if (line.end != file.size())
            return ManifestStatus::SignatureNotLast;
        if (!DecodeBase64(line.text.substr(kSignatureWord.size()), out.signature))
            return ManifestStatus::BadSignatureText;
        if (!walk.expirySeen)
            return ManifestStatus::NoExpiry;
        out.signedLength = line.start;
        walk.signatureSeen = true;
        // Fresh beyond the release's own expiry is more than the release key allowed, at
        // any time by any clock. Judged once the file has been read whole, so that the
        // updater can still tell an authentic file past its release expiry by its dates.
        return out.expires > out.releaseExpires ? ManifestStatus::FreshnessBeyondRelease
                                                : ManifestStatus::Valid;
    }
    if (StartsWith(line.text, kReleaseSignatureWord))
        return ManifestStatus::DuplicateReleaseSignature;
    // What the release key vouches for cannot be added under the freshness key alone.
    if (StartsWith(line.text, kProductWord) || StartsWith(line.text, kPackageWord) ||
        StartsWith(line.text, kReleaseExpiresWord))
        return ManifestStatus::MisplacedLine;
    if (StartsWith(line.text, kExpiresWord))
    {
        if (walk.expirySeen)
            return ManifestStatus::DuplicateExpiry;
        if (!ParseUtcTimestamp(line.text.substr(kExpiresWord.size()), out.expires))
            return ManifestStatus::BadExpiry;
        walk.expirySeen = true;
    }
    return ManifestStatus::Valid;
}
} // namespace

ManifestStatus ParseUpdateManifest(std::string_view file, UpdateManifest& out)
{
    out = UpdateManifest();
    if (file.size() > kMaxVersionFileBytes)
        return ManifestStatus::TooLarge;
    if (file.empty())
        return ManifestStatus::NoVersionLine;
    const Line first = LineAt(file, 0);
    if (StartsWith(first.text, kSignatureWord) || StartsWith(first.text, kReleaseSignatureWord))
        return ManifestStatus::NoVersionLine;
    out.versionLine = std::string(first.text);

    Walk walk;
    for (size_t at = first.end; at < file.size() && !walk.signatureSeen;)
    {
        const Line line = LineAt(file, at);
        at = line.end;
        const ManifestStatus status = walk.inFreshnessPart ? ReadFreshnessLine(file, line, out, walk)
                                                           : ReadReleaseLine(line, out, walk);
        if (status != ManifestStatus::Valid)
            return status;
    }
    if (walk.signatureSeen)
        return ManifestStatus::Valid;
    return walk.inFreshnessPart ? ManifestStatus::NoSignature : ManifestStatus::NoReleaseSignature;
}

const ManifestPackage* FindManifestPackage(const UpdateManifest& manifest, std::string_view name)
{
    for (const ManifestPackage& package : manifest.packages)
    {
        if (SameNameIgnoringCase(package.name, name))
            return &package;
    }
    return nullptr;
}
