// The portable INI document: every byte a write does not concern stays as it was.
#include <gtest/gtest.h>

#include <string>

#include "settings/profile_ini.h"

namespace {

std::string Set(const std::string& text, const char* section, const char* key, const char* value)
{
    CIniDocument document(text);
    document.Set(section, key, value);
    return document.Text();
}

}  // namespace

TEST(IniDocument, UntouchedTextIsKeptByteForByte)
{
    const std::string text = "\xEF\xBB\xBF; comment\r\n\r\n[A]\n  x = 1 \r\nno equals sign\r[B]\r\n\t\r\nlast";
    EXPECT_EQ(CIniDocument(text).Text(), text);
    EXPECT_EQ(CIniDocument("").Text(), "");
}

TEST(IniDocument, UpdateRewritesOnlyTheKeyLine)
{
    const std::string text = "; head\n[Connect]\n  PortName = COM1 \nTimeout=5\n\n[Other]\nPortName=X\n";
    EXPECT_EQ(Set(text, "connect", "portname", "COM9"),
              "; head\n[Connect]\n  PortName=COM9\nTimeout=5\n\n[Other]\nPortName=X\n");
    EXPECT_EQ(Set("[A]\r\nk=1\r\n", "A", "k", ""), "[A]\r\nk=\r\n");
}

TEST(IniDocument, NewKeyGoesAfterTheSectionsLastLine)
{
    EXPECT_EQ(Set("[Connect]\r\nPortName=COM1\r\n\r\n[Tests]\r\nTestingMode=1\r\n", "Connect", "Timeout", "300"),
              "[Connect]\r\nPortName=COM1\r\nTimeout=300\r\n\r\n[Tests]\r\nTestingMode=1\r\n");
    // The last section of a file without a final line end.
    EXPECT_EQ(Set("[A]\nx=1", "a", "y", "2"), "[A]\nx=1\ny=2\n");
    EXPECT_EQ(Set("[A]\n", "A", "y", "2"), "[A]\ny=2\n");
}

TEST(IniDocument, NewSectionGoesAtTheEndInTheFilesLineEnds)
{
    EXPECT_EQ(Set("", "Connect", "PortName", "COM3"), "[Connect]\r\nPortName=COM3\r\n");
    EXPECT_EQ(Set("[A]\nx=1\n", "B", "k", "v"), "[A]\nx=1\n\n[B]\nk=v\n");
    EXPECT_EQ(Set("[A]\nx=1", "B", "k", "v"), "[A]\nx=1\n\n[B]\nk=v\n");
    EXPECT_EQ(Set("[A]\r\nx=1\r\n\r\n", "B", "k", "v"), "[A]\r\nx=1\r\n\r\n[B]\r\nk=v\r\n");
}

TEST(IniDocument, InsertedBareCrLineDoesNotSwallowAFollowingLfLine)
{
    // Lines ending in a bare CR; the section's last key line ends in LF and an empty LF
    // line follows. The new key's line must not end up as "k=v\r" + "\n".
    const std::string text = "[S]\rk=1\n\n[T]\rx=2\r";
    const std::string written = Set(text, "S", "new", "v");
    EXPECT_EQ(written, "[S]\rk=1\nnew=v\r\n\n[T]\rx=2\r");
    const CIniDocument back(written);
    ASSERT_NE(back.Find("S", "new"), nullptr);
    EXPECT_EQ(*back.Find("S", "new"), "v");
    EXPECT_EQ(*back.Find("T", "x"), "2");
    EXPECT_EQ(Set("[A]\rx=1\r", "A", "y", "2"), "[A]\rx=1\ry=2\r");
}

TEST(IniDocument, LookupRules)
{
    const CIniDocument document(
        "\xEF\xBB\xBF[First]\r\n"
        "orphan-free=1\r\n"
        "; Key=commented\r\n"
        "Key=one\r\n"
        "KEY=two\r\n"
        "Quoted=\"  spaced  \"\r\n"
        "Single='x'\r\n"
        "Half=\"x\r\n"
        "=nameless\r\n"
        "[ Second ]\r\n"
        "Only=here\r\n"
        "[first]\r\n"
        "Late=found\r\n");
    ASSERT_NE(document.Find("first", "key"), nullptr);
    EXPECT_EQ(*document.Find("first", "key"), "one");
    EXPECT_EQ(*document.Find("First", "Quoted"), "  spaced  ");
    EXPECT_EQ(*document.Find("First", "Single"), "x");
    EXPECT_EQ(*document.Find("First", "Half"), "\"x");
    EXPECT_EQ(*document.Find("second", "only"), "here");
    EXPECT_EQ(*document.Find("First", "Late"), "found");  // a repeated section is searched too
    EXPECT_EQ(document.Find("First", "Only"), nullptr);
    EXPECT_EQ(document.Find("First", "; Key"), nullptr);
    EXPECT_EQ(document.Find("First", ""), nullptr);

    EXPECT_EQ(CIniDocument("Key=before any section\r\n").Find("", "Key"), nullptr);
}

TEST(IniDocument, IntegersReadLikeTheWindowsProfileCalls)
{
    EXPECT_EQ(ProfileIntFromText("", 7), 7);
    EXPECT_EQ(ProfileIntFromText("42", 7), 42);
    EXPECT_EQ(ProfileIntFromText("  +42", 7), 42);
    EXPECT_EQ(ProfileIntFromText("-15", 7), -15);
    EXPECT_EQ(ProfileIntFromText("12ms", 7), 12);
    EXPECT_EQ(ProfileIntFromText("abc", 7), 0);
    EXPECT_EQ(ProfileIntFromText("-", 7), 0);
    EXPECT_EQ(ProfileIntFromText("4294967297", 7), 1);  // wraps at 32 bits
}
