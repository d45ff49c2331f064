// Tests that need a double-byte code page run through their own test entries, which
// start the test program with a Japanese locale (code page 932) and say so in
// SEEKWELL_EXPECT_ACP; everywhere else they are skipped.
#pragma once

#include <string>

namespace codepage
{
// Why a double-byte test cannot run here, or "" when it can. An entry that asked for a
// double-byte code page and did not get one is a failure, not a skip.
std::string WhyNotDoubleByte();
} // namespace codepage
