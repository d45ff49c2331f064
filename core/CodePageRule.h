// How loaded UTF-16 strings are turned into 8-bit text.
#pragma once

#include <cstddef>
#include <cstdint>

enum class CodePageRule : int32_t
{
    Undecided = 0,
    ThreadAnsi,    // NT family 5.0 and later: the thread's ANSI code page
    LocaleDefault, // otherwise: the thread locale's default ANSI code page, else the system's
};

// The rule for a platform family and major version.
CodePageRule ChooseCodePageRule(uint32_t platformId, uint32_t majorVersion);

// A locale's code-page text ("1252") as a number; 0 when empty or not a number.
uint32_t ParseCodePageText(const char* text, size_t length);
