#include "Mbcs.h"

bool NoLeadBytes(unsigned char)
{
    return false;
}

namespace
{
// Length in bytes of the character that starts at `index`; a lead byte at the very end
// of the text has no trail byte and counts as one byte.
size_t CharLength(std::string_view text, size_t index, LeadBytePredicate isLeadByte)
{
    const auto byte = static_cast<unsigned char>(text[index]);
    if (isLeadByte(byte) && index + 1 < text.size())
        return 2;
    return 1;
}
} // namespace

size_t FindLastBackslash(std::string_view path, LeadBytePredicate isLeadByte)
{
    // Walking forward character by character is the only way to know which bytes are
    // trail bytes; scanning backwards cannot tell.
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < path.size(); i += CharLength(path, i, isLeadByte))
    {
        if (path[i] == '\\')
            last = i;
    }
    return last;
}

std::string FolderOfPath(std::string_view path, LeadBytePredicate isLeadByte)
{
    const size_t slash = FindLastBackslash(path, isLeadByte);
    if (slash == std::string_view::npos)
        return std::string();
    return std::string(path.substr(0, slash));
}

std::string DirectoryWithSlash(std::string_view path, LeadBytePredicate isLeadByte)
{
    const size_t slash = FindLastBackslash(path, isLeadByte);
    if (slash == std::string_view::npos)
        return std::string();
    return std::string(path.substr(0, slash + 1));
}

bool ContainsText(std::string_view haystack, std::string_view needle, LeadBytePredicate isLeadByte)
{
    if (needle.empty())
        return true;
    for (size_t start = 0; start < haystack.size(); start += CharLength(haystack, start, isLeadByte))
    {
        if (haystack.size() - start < needle.size())
            return false;
        if (haystack.compare(start, needle.size(), needle) == 0)
            return true;
    }
    return false;
}
