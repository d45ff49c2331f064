// A product version as four components plus the composite the update check compares.
#pragma once

#include <cstddef>
#include <cstdint>

struct VersionQuad
{
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    int32_t revision = 0;
    // The four components written one after another in decimal ("%d%d%d%d") and read
    // back as a number: 3.0.1.2 gives 3012. Not a weighted sum.
    int32_t composite = 0;
};

// Reads a decimal integer the way the C runtime's plain conversion does: leading white
// space, an optional sign, digits up to the first non-digit; wraps modulo 2^32 instead
// of overflowing.
int32_t ParseDecimalWrapping(const char* text, size_t length);

// The composite of four components: their decimal concatenation read back as above.
int32_t ComposeComposite(int32_t major, int32_t minor, int32_t build, int32_t revision);

// Sets the composite of a record from its four components.
void UpdateComposite(VersionQuad& version);

// Parses the start of a version file body ("M.m.b.r", one digit each) at the fixed
// positions: the first character is the major component, and three passes look for the
// dots at 1, 3 and 5; a component whose dot is elsewhere, or whose character is not a
// digit, stays 0. Reads only the first `length` bytes. Sets the composite.
VersionQuad ParseVersionText(const char* text, size_t length);

// True when a body can be a version file at all: not empty, first character a digit.
bool LooksLikeVersionFile(const char* text, size_t length);
