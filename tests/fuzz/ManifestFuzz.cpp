// Feeds arbitrary bytes to the reader of the signed manifest and checks what it says
// about a file it accepts against the file itself.
#include "FuzzCheck.h"
#include "UpdateManifest.h"

#include <cstdint>
#include <string_view>

namespace
{
constexpr std::string_view kReleaseSignatureWord = "release-signature ";
constexpr std::string_view kSignatureWord = "signature ";

// Base64 gives three bytes for four characters, less what the padding drops; the line
// of `word` at `start` ends at the first LF (one CR before it not counted) or the file.
bool DecodedSizeFits(std::string_view file, size_t start, std::string_view word, size_t decoded)
{
    std::string_view line = file.substr(start);
    line = line.substr(0, line.find('\n'));
    if (start + line.size() < file.size() && !line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const size_t encoded = line.size() - word.size();
    return encoded % 4 == 0 && decoded <= encoded / 4 * 3 && decoded + 2 >= encoded / 4 * 3;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    UpdateManifest manifest;
    // A freshness part that outlives its release part is the one fault of a file read
    // whole: everything below holds for it too.
    const ManifestStatus status = ParseUpdateManifest(file, manifest);
    if (status != ManifestStatus::Valid && status != ManifestStatus::FreshnessBeyondRelease)
        return 0;
    FUZZ_CHECK(size <= kMaxVersionFileBytes);
    FUZZ_CHECK(file.substr(0, manifest.versionLine.size()) == manifest.versionLine);

    // The release part ends with a line end, right before the release signature's line;
    // the signed part ends with a line end too, after it, right before the last line.
    const size_t release = manifest.releaseSignedLength;
    const size_t whole = manifest.signedLength;
    FUZZ_CHECK(release > 0 && release < whole && whole < size);
    FUZZ_CHECK(file[release - 1] == '\n' && file[whole - 1] == '\n');
    FUZZ_CHECK(file.substr(release, kReleaseSignatureWord.size()) == kReleaseSignatureWord);
    FUZZ_CHECK(file.substr(whole, kSignatureWord.size()) == kSignatureWord);
    const size_t lastNewline = file.find('\n', whole);
    FUZZ_CHECK(lastNewline == std::string_view::npos || lastNewline == size - 1);
    FUZZ_CHECK(!manifest.releaseSignature.empty() && !manifest.signature.empty());
    FUZZ_CHECK(DecodedSizeFits(file, release, kReleaseSignatureWord, manifest.releaseSignature.size()));
    FUZZ_CHECK(DecodedSizeFits(file, whole, kSignatureWord, manifest.signature.size()));

    // The product and the packages come from the release part only.
    FUZZ_CHECK(!manifest.product.empty());
    for (const char c : manifest.product)
        FUZZ_CHECK(c > ' ' && c < 0x7F);
    FUZZ_CHECK(file.substr(0, release).find("product " + manifest.product) != std::string_view::npos);
    // Between the first second of 1970 and the last one of 9999, and a valid freshness
    // part never fresh for longer than the release part allows.
    FUZZ_CHECK(manifest.expires >= 0 && manifest.releaseExpires <= 253402300799);
    FUZZ_CHECK((status == ManifestStatus::Valid) == (manifest.expires <= manifest.releaseExpires));
    FUZZ_CHECK(file.substr(0, release).find("\nrelease-expires ") != std::string_view::npos);
    FUZZ_CHECK(file.substr(release).find("\nrelease-expires ") == std::string_view::npos);
    // Every package is found again by its own name, and is that very entry.
    for (const ManifestPackage& package : manifest.packages)
    {
        FUZZ_CHECK(!package.name.empty());
        FUZZ_CHECK(package.size > 0 && package.size < (uint64_t{1} << 32));
        FUZZ_CHECK(FindManifestPackage(manifest, package.name) == &package);
        FUZZ_CHECK(file.substr(0, release).find(package.name) != std::string_view::npos);
    }
    return 0;
}
