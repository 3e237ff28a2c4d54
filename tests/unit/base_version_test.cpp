#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "base/version.h"

TEST(VersionText, FourthNumberOnlyWhenNotZero)
{
    EXPECT_EQ(FormatVersionText(0x00010003, 0x00020000), "1.3.2");
    EXPECT_EQ(FormatVersionText(0x00010003, 0x0002000B), "1.3.2.11");
    EXPECT_EQ(FormatVersionText(0x00020000, 0x00000000), "2.0.0");
    EXPECT_EQ(FormatVersionText(0x00020000, 0x00000005), "2.0.0.5");
    EXPECT_EQ(FormatVersionText(0xFFFFFFFF, 0xFFFFFFFF), "65535.65535.65535.65535");
}

TEST(VersionText, RunningProgramHasNoneOrAWellFormedOne)
{
    // The test program may carry no version resource; then the text is empty.
    const std::string text = GetVersionText();
    EXPECT_TRUE(text.empty() || std::regex_match(text, std::regex(R"(\d+\.\d+\.\d+(\.[1-9]\d*)?)")))
        << text;
}
