#include "Install.h"

#include <windows.h>
#include <shellapi.h>

void OpenPackage(const std::string& packagePath) noexcept
{
    (void)ShellExecuteA(nullptr, nullptr, packagePath.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
