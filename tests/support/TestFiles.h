// File helpers shared by the Windows and end-to-end tests, the demo and the benchmarks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testfiles
{
// Directory of the running test program (the build directory), with a trailing backslash.
std::string BuildDirectory();

bool FileExists(const std::string& path);

// The whole file, or "" when it cannot be read.
std::string ReadFileBytes(const std::string& path);

// The names in a folder, sorted, without "." and "..".
std::vector<std::string> FilesIn(const std::string& folder);

// Creates `path` and every missing folder above it (single-byte paths).
void MakeFolders(const std::string& path);

// Writes `bytes` to `path`, creating its folder.
void WriteFile(const std::string& path, const std::string& bytes);

// Copies `from` to `to`, creating the folders on the way; false when the copy failed.
bool CopyInto(const std::string& from, const std::string& to);

// Removes `folder` with everything in it, read-only files and folders included.
void RemoveFolder(const std::string& folder);

// An environment variable of this process (and of the programs it starts) set to
// `value` for as long as the object lives, then as it was.
class ScopedVariable
{
  public:
    ScopedVariable(const char* name, const std::string& value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    std::string m_name;
    std::string m_previous;
    bool m_had = false;
};

// Deterministic bytes that differ for every seed, so an old and a new package, or a
// shifted or repeated block, are told apart.
std::string MakePackage(size_t size, uint32_t seed);
} // namespace testfiles
