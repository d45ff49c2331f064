// Handing the downloaded package to the shell.
#pragma once

#include <string>

// Opens the package at `packagePath` with the shell's default action and returns at
// once; the installer then runs on its own. The shell's answer is not looked at: a
// path that names no file simply runs nothing.
void OpenPackage(const std::string& packagePath) noexcept;
