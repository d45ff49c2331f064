// Where a language module is looked for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The platform's path limit, terminator included.
constexpr size_t kMaxPath = 260;

// AppPath + "Languages\" + language + "\Res.dll"; nothing is put between AppPath and
// "Languages\", so AppPath must end with a backslash.
std::string ComposeModulePath(std::string_view appPath, std::string_view language);

// True for "X:\..." and "\\server\..." paths, which the loader takes as they are.
bool IsFullyQualifiedPath(std::string_view path);

// A path that is not fully qualified would make the loader search the DLL search path
// (the current directory included); anchor it to `directory` (which ends with a
// backslash) instead. A drive prefix ("C:Quorvel\") and leading backslashes are dropped
// first. Fully qualified paths come back unchanged.
std::string AnchorToDirectory(std::string_view path, std::string_view directory);
