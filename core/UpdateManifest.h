// The signed manifest that follows the version line of the update server's version file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
    TooLarge,
    NoVersionLine,
    NoSignature,
    SignatureNotLast,
    BadSignatureText,
    BadPackageLine,
    DuplicatePackage,
};

struct UpdateManifest
{
    std::string versionLine;
    size_t signedLength = 0;
    std::vector<uint8_t> signature;
    std::vector<ManifestPackage> packages;
};

[[nodiscard]] ManifestStatus ParseUpdateManifest(std::string_view file, UpdateManifest& out);
const ManifestPackage* FindManifestPackage(const UpdateManifest& manifest, std::string_view name);
