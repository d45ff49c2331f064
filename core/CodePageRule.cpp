#include "CodePageRule.h"

CodePageRule ChooseCodePageRule(uint32_t platformId, uint32_t majorVersion)
{
    constexpr uint32_t kNtFamily = 2;
    if (platformId == kNtFamily && majorVersion >= 5)
        return CodePageRule::ThreadAnsi;
    return CodePageRule::LocaleDefault;
}

uint32_t ParseCodePageText(const char* text, size_t length)
{
    uint32_t value = 0;
    for (size_t i = 0; i < length && text[i] >= '0' && text[i] <= '9'; ++i)
    {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
        if (value > 0xFFFFu)
            return 0;
    }
    return value;
}
