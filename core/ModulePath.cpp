#include "ModulePath.h"

namespace
{
bool IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
} // namespace

std::string ComposeModulePath(std::string_view appPath, std::string_view language)
{
    std::string path(appPath);
    path += "Languages\\";
    path.append(language);
    path += "\\Res.dll";
    return path;
}

bool IsFullyQualifiedPath(std::string_view path)
{
    if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\')
        return true;
    return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

std::string AnchorToDirectory(std::string_view path, std::string_view directory)
{
    if (IsFullyQualifiedPath(path))
        return std::string(path);
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':')
        path.remove_prefix(2);
    while (!path.empty() && (path.front() == '\\' || path.front() == '/'))
        path.remove_prefix(1);
    std::string anchored(directory);
    anchored.append(path);
    return anchored;
}
