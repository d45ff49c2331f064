// What a test run may have written: the files of the prefix's writable drives and the
// registry under HKCU\Software and HKLM\Software, taken before and after a run and
// compared. What the platform itself writes during any run is left out.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace snapshot
{
// Size and last write of a file; folders count by name only.
struct FileState
{
    uint64_t size = 0;
    uint64_t written = 0;
    bool operator==(const FileState& other) const { return size == other.size && written == other.written; }
};
// Lower-case paths (folders with a trailing backslash) to their state.
using FileList = std::map<std::string, FileState>;

// Registry values: "key\\:name" (lower case) to "type:bytes", and "key\\" to "key".
using RegistryList = std::map<std::string, std::string>;

// Every file and folder of C: and the runner's small drives.
FileList ListFiles();

// Differences between two lists outside `allowedFolder` (anywhere when it is empty), as
// "new PATH", "changed PATH" and "removed PATH".
std::vector<std::string> FileChanges(const FileList& before, const FileList& after,
                                     const std::string& allowedFolder);

// HKCU\Software and HKLM\Software, the product's settings keys left out (tests compare
// them value by value).
RegistryList ListRegistry();

std::vector<std::string> RegistryChanges(const RegistryList& before, const RegistryList& after);

// Paths and key names compared without case; the tests' names are plain ASCII.
std::string Lower(std::string text);

bool StartsWith(const std::string& text, const std::string& start);
} // namespace snapshot
