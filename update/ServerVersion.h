// Fetching the version the update server offers.
#pragma once

#include <string>

#include "VersionQuad.h"

// The version file's address: the update server's base URL, the product code and
// "/version.txt".
std::string VersionFileUrl(const std::string& productCode);

// Fetches the version file of `productCode` and parses its start into `server`. Once a
// session is open, the four components are set to 0 whatever follows. False when the
// server cannot be reached, answers with a status outside 2xx, ends the body early, or
// sends something that is not a version file; `server` then holds no offered version.
[[nodiscard]] bool FetchServerVersion(const std::string& productCode, VersionQuad& server);
