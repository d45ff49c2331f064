// The second lock on the package: the installer's own Authenticode signature, made with
// one of the vendor's code-signing keys that the build pins.
#pragma once

#include <windows.h>

#include <string>

// True when the open package `file` (at `path`) carries an Authenticode signature that
// the platform accepts and whose signer's key is one of those pinned in `module` (null:
// the running executable): RCDATA resources of 32 bytes, the SHA-256 of each key's
// SubjectPublicKeyInfo, numbered from IDR_INSTALLER_SIGNER_FIRST on. Also true in a
// build that pins no key and carries IDR_INSTALLER_SIGNATURE_UNCHECKED instead (a vendor
// without code signing). False for everything else: unsigned, altered, another key, no
// pins, a system without WinTrust.
[[nodiscard]] bool IsSignedByVendor(HANDLE file, const std::string& path, HMODULE module = nullptr) noexcept;
