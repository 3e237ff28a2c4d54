// The portable INI document: every byte a write does not concern stays as it was, in the
// encoding the file came in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>

#include "base/utf.h"
#include "settings/profile_ini.h"
#include "support/temp_folder.h"

namespace {

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary);
    out << bytes;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

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

// What the Windows program writes (UTF-16 LE with its mark), UTF-16 without one, and
// UTF-8 with or without one: read, and written back in the file's own encoding.
TEST(IniProfile, EveryEncodingReadsAndIsWrittenBackAsItWas)
{
    CTempFolder folder("trelvo-encoding-");
    const std::string path = (folder.Path() / "trelvo.ini").u8string();
    const auto utf16 = [](const std::string& utf8, bool bigEndian, const std::string& mark) {
        std::string bytes = mark;
        for (wchar_t c : Widen(utf8)) {
            const char hi = char((c >> 8) & 0xFF), lo = char(c & 0xFF);
            bytes += bigEndian ? hi : lo;
            bytes += bigEndian ? lo : hi;
        }
        return bytes;
    };
    const std::string before = "; Прошивки\r\n[Connect]\r\nPortName=COM3\r\nBaudRate=5\r\n";
    const std::string after = "; Прошивки\r\n[Connect]\r\nPortName=COM3\r\nBaudRate=2\r\n";
    using Encode = std::function<std::string(const std::string&)>;
    const std::pair<const char*, Encode> encodings[] = {
        {"UTF-16 LE with its mark", [&](const std::string& t) { return utf16(t, false, "\xFF\xFE"); }},
        {"UTF-16 BE with its mark", [&](const std::string& t) { return utf16(t, true, "\xFE\xFF"); }},
        {"UTF-16 LE", [&](const std::string& t) { return utf16(t, false, ""); }},
        {"UTF-16 BE", [&](const std::string& t) { return utf16(t, true, ""); }},
        {"UTF-8 with its mark", [](const std::string& t) { return "\xEF\xBB\xBF" + t; }},
        {"UTF-8", [](const std::string& t) { return t; }},
    };
    for (const auto& [name, encode] : encodings) {
        SCOPED_TRACE(name);
        WriteBytes(path, encode(before));
        CIniProfile profile(path);
        EXPECT_EQ(profile.State(), CProfile::FileState::Text);
        EXPECT_EQ(profile.GetString("Connect", "PortName", ""), "COM3");
        EXPECT_EQ(profile.GetInt("Connect", "BaudRate", 0), 5);
        EXPECT_TRUE(profile.WriteInt("Connect", "BaudRate", 2));
        EXPECT_EQ(ReadBytes(path), encode(after));
    }

    // No text: NUL bytes where UTF-16 cannot have them, malformed UTF-16 or UTF-8, stray
    // control characters. Neither read nor replaced.
    const std::string notText[] = {std::string("[Connect]\0\0\0PortName=COM3\r\n", 27),
                                   std::string("\xFF\xFE\x00\xD8[\0", 6), "[Connect]\r\nPortName=COM\xC3\r\n",
                                   "[Connect]\r\nPortName=COM3\x01\r\n"};
    for (const std::string& bytes : notText) {
        WriteBytes(path, bytes);
        CIniProfile profile(path);
        EXPECT_EQ(profile.State(), CProfile::FileState::NotText);
        EXPECT_EQ(profile.GetString("Connect", "PortName", "none"), "none");
        EXPECT_FALSE(profile.WriteString("Connect", "PortName", "COM4"));
        EXPECT_EQ(ReadBytes(path), bytes);
    }
}
