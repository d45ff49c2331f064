// Names parameterised test rows after their edge, so that test listings read
// "Rows/PercentTest.TruncatesWithoutClamping/unknown_total" instead of a byte dump.
#pragma once

#include <gtest/gtest.h>

#include <string>

struct RowName
{
    template <typename Row> std::string operator()(const testing::TestParamInfo<Row>& info) const
    {
        std::string name;
        bool pendingSeparator = false;
        for (const char* c = info.param.edge; *c != '\0'; ++c)
        {
            const bool alphanumeric =
                (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9');
            if (!alphanumeric)
            {
                pendingSeparator = !name.empty();
                continue;
            }
            if (pendingSeparator)
                name += '_';
            pendingSeparator = false;
            name += *c;
        }
        return name;
    }
};
