// The Authenticode signature of a file, checked by the platform's WinTrust service.
#pragma once

#include <windows.h>

#include <string>

#include "UpdateManifest.h"

// Asks WinTrust to verify the Authenticode signature of the open `file` (at `path`, which
// WinTrust uses only to tell the kind of file) as the platform's generic verifier does:
// no user interface, no revocation check and nothing fetched from the network. True when
// the platform accepts the signature, digest and chain; `signerKeyHash` then holds the
// SHA-256 of the signer certificate's SubjectPublicKeyInfo, read from that same
// verification. False for an unsigned file, a bad digest or signature, a chain the
// platform refuses, a system without WinTrust, and whenever the answer cannot be had.
[[nodiscard]] bool VerifyAuthenticode(HANDLE file, const std::string& path,
                                      Sha256Digest& signerKeyHash) noexcept;
