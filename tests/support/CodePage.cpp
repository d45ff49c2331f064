#include "CodePage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "TestServer.h"

namespace codepage
{
std::string WhyNotDoubleByte()
{
    if (IsDBCSLeadByte(0x83))
        return {};
    const std::string expected = testserver::Env("SEEKWELL_EXPECT_ACP");
    EXPECT_TRUE(expected.empty()) << "expected code page " << expected << ", running in " << GetACP();
    return "single-byte code page " + std::to_string(GetACP());
}
} // namespace codepage
