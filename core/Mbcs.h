// Byte-string searches that respect double-byte characters: in a double-byte code page
// a lead byte and the byte after it form one character, and a search must never start
// or match on that trailing byte.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Tells whether a byte starts a two-byte character in the current code page.
using LeadBytePredicate = bool (*)(unsigned char);

// A predicate for single-byte code pages: no byte is a lead byte.
bool NoLeadBytes(unsigned char);

// Index of the last backslash that is a character of its own (not the trail byte of a
// double-byte character), or std::string_view::npos.
size_t FindLastBackslash(std::string_view path, LeadBytePredicate isLeadByte);

// The folder of a full path, without its trailing backslash: C:\Downloads for
// C:\Downloads\x.exe, C: for C:\x.exe. A path without a backslash gives an empty folder.
std::string FolderOfPath(std::string_view path, LeadBytePredicate isLeadByte);

// The directory of a path cut after its last backslash (kept): C:\Q\ for C:\Q\u.exe;
// empty when there is no backslash.
std::string DirectoryWithSlash(std::string_view path, LeadBytePredicate isLeadByte);

// Case-sensitive substring search whose candidate starts advance by whole characters.
// An empty needle occurs in every text.
bool ContainsText(std::string_view haystack, std::string_view needle, LeadBytePredicate isLeadByte);
