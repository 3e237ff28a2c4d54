#include "base/version.h"

#include "base/strings.h"

std::string FormatVersionText(uint32_t ms, uint32_t ls)
{
    std::string text = StringPrintf("%u.%u.%u", unsigned(ms >> 16), unsigned(ms & 0xFFFF),
                                    unsigned(ls >> 16));
    if ((ls & 0xFFFF) != 0)
        text += StringPrintf(".%u", unsigned(ls & 0xFFFF));
    return text;
}
