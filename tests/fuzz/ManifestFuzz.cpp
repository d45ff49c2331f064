// Feeds arbitrary bytes to the reader of the signed manifest and checks what it says
// about a file it accepts against the file itself.
#include "FuzzCheck.h"
#include "UpdateManifest.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    UpdateManifest manifest;
    if (ParseUpdateManifest(file, manifest) != ManifestStatus::Valid)
        return 0;
    // The signed part ends with a line end, right before the one signature line, and
    // that line is the file's last.
    FUZZ_CHECK(size <= kMaxVersionFileBytes);
    FUZZ_CHECK(manifest.signedLength > 0 && manifest.signedLength < size);
    FUZZ_CHECK(file[manifest.signedLength - 1] == '\n');
    FUZZ_CHECK(file.substr(manifest.signedLength, 10) == "signature ");
    const std::string_view rest = file.substr(manifest.signedLength);
    const size_t newline = rest.find('\n');
    FUZZ_CHECK(newline == std::string_view::npos || newline == rest.size() - 1);
    FUZZ_CHECK(!manifest.signature.empty());
    // Base64 gives three bytes for four characters, less what the padding drops.
    const size_t encoded = rest.size() - 10 - (newline == std::string_view::npos ? 0 : 1) -
                           (rest.size() >= 12 && rest[rest.size() - 2] == '\r' ? 1 : 0);
    FUZZ_CHECK(manifest.signature.size() <= encoded / 4 * 3 &&
               manifest.signature.size() + 2 >= encoded / 4 * 3);
    FUZZ_CHECK(file.substr(0, manifest.versionLine.size()) == manifest.versionLine);
    // Every package is found again by its own name, and is that very entry.
    for (const ManifestPackage& package : manifest.packages)
    {
        FUZZ_CHECK(!package.name.empty());
        FUZZ_CHECK(FindManifestPackage(manifest, package.name) == &package);
        FUZZ_CHECK(file.find(package.name) < manifest.signedLength);
    }
    return 0;
}
