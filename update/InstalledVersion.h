// Reading the installed product's version from its module's version resource.
#pragma once

#include <string>

#include "VersionQuad.h"

// Size of the local path buffer, terminator included: a path of more characters than
// this can hold is not read.
constexpr size_t kInstalledPathBuffer = 261;

// Reads the file version of the module at `path` from its version resource into `out`
// (components 0..65535, composite set). Sets the four components to 0 first. False when
// the path does not fit the buffer, the file is missing, is not a module or has no
// version resource (the composite is then left as it was).
[[nodiscard]] bool ReadInstalledVersion(const std::string& path, VersionQuad& out);
