#include "VersionQuad.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
VersionQuad Parse(const char* text)
{
    return ParseVersionText(text, std::strlen(text));
}
} // namespace

TEST(VersionText, ParsesWellFormedFile)
{
    const VersionQuad v = Parse("3.0.1.2\r\n");
    EXPECT_EQ(3, v.major);
    EXPECT_EQ(0, v.minor);
    EXPECT_EQ(1, v.build);
    EXPECT_EQ(2, v.revision);
    EXPECT_EQ(3012, v.composite);
}
