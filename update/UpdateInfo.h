// Trust in the update information: the vendor's keys and the check of the signed
// manifest in the server's version file.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "UpdateManifest.h"

// Public keys (DER SubjectPublicKeyInfo) of which any one may sign the manifest.
using SigningKeys = std::vector<std::vector<uint8_t>>;

// The keys compiled into `module` (null: the running executable) as RCDATA resources
// numbered from IDR_SIGNING_KEY_FIRST on, in order; empty when it holds none.
SigningKeys LoadSigningKeys(HMODULE module = nullptr);

// True when `versionFile` is a well-formed manifest whose signature one of `keys`
// verifies and that names `packageName` (ASCII letters in any case); `expected` then
// holds that package's entry. False for anything else, a file over the size limit and a
// platform that cannot verify included; `expected` is then unchanged.
[[nodiscard]] bool VerifyUpdateInfo(std::string_view versionFile, std::string_view packageName,
                                    const SigningKeys& keys, ManifestPackage& expected);
