// Tests that need a double-byte code page run through their own test entries, which
// start the test program with a Japanese locale (code page 932) and say so in
// SEEKWELL_EXPECT_ACP; everywhere else they are skipped.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestServer.h"

namespace codepage
{
// Why a double-byte test cannot run here, or "" when it can. An entry that asked for a
// double-byte code page and did not get one is a failure, not a skip.
inline std::string WhyNotDoubleByte()
{
    if (IsDBCSLeadByte(0x83))
        return {};
    const std::string expected = testserver::Env("SEEKWELL_EXPECT_ACP");
    EXPECT_TRUE(expected.empty()) << "expected code page " << expected << ", running in " << GetACP();
    return "single-byte code page " + std::to_string(GetACP());
}
} // namespace codepage
