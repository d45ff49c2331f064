// Formats the one translatable string that carries printf conversions (the update
// question) without trusting it: only integer conversions are filled, at most four,
// each from the next of the four given numbers. Any other conversion (%s, %n, %p, %f,
// a '*' width, a fifth conversion) is shown as written instead of reading an argument
// that is not there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

std::string FormatWithFourIntegers(std::string_view format, int32_t first, int32_t second, int32_t third,
                                   int32_t fourth);
