// The settings file through every profile this platform has: the native one (the
// private-profile calls on Windows, the INI reader elsewhere) and the portable INI
// reader. Both must keep the same promises.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "settings/profile.h"
#include "settings/profile_ini.h"
#include "settings/settings.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

struct ProfileKind {
    const char* name;
    std::function<std::unique_ptr<CProfile>(const std::string&)> open;
};

void PrintTo(const ProfileKind& kind, std::ostream* out) { *out << kind.name; }

std::string PrintKind(const testing::TestParamInfo<ProfileKind>& info) { return info.param.name; }

class SettingsContract : public testing::TestWithParam<ProfileKind> {
protected:
    void SetUp() override
    {
        path = (dir / "trelvo.ini").u8string();
        profile = GetParam().open(path);
    }

    void WriteFile(const std::string& text) const
    {
        std::ofstream out(fs::u8path(path), std::ios::binary);
        out << text;
    }
    std::string ReadFile() const
    {
        std::ifstream in(fs::u8path(path), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    CSettings Load() const
    {
        CSettings s;
        ExchangeSettings(*profile, s, false);
        return s;
    }

    CTempFolder folder{"trelvo-settings-"};
    const fs::path dir = folder.Path();
    std::string path;
    std::unique_ptr<CProfile> profile;
};

CSettings Sample()
{
    CSettings s;
    s.portName = "COM12";
    s.baudCode = 6;
    s.timeout = 750;
    s.firmwareFile = "C:\\Program Files\\Fw\\release 2.ldr";
    s.transferSpeedCode = 9;
    s.testingMode = 0;
    s.bootloaderFile = "D:\\boot\\loader.ldr";
    s.bootloaderPort = "COM4";
    s.bootloaderBaudCode = 5;
    return s;
}

}  // namespace

TEST_P(SettingsContract, MissingFileKeepsDefaultsAndCreatesNothing)
{
    const CSettings s = Load();
    EXPECT_EQ(s, CSettings());
    EXPECT_EQ(s.baudCode, 2);
    EXPECT_EQ(s.timeout, 3000u);
    EXPECT_EQ(s.testingMode, 1);
    EXPECT_TRUE(s.portName.empty());
    EXPECT_TRUE(s.firmwareFile.empty());
    EXPECT_FALSE(fs::exists(fs::u8path(path)));
}

TEST_P(SettingsContract, SaveWritesEveryKeyAndLoadsBack)
{
    CSettings saved = Sample();
    EXPECT_TRUE(ExchangeSettings(*profile, saved, true));
    EXPECT_EQ(Load(), Sample());

    const std::string absent = "<absent>";
    EXPECT_EQ(profile->GetString("Connect", "PortName", absent), "COM12");
    EXPECT_EQ(profile->GetString("Connect", "BaudRate", absent), "6");
    EXPECT_EQ(profile->GetString("Connect", "Timeout", absent), "750");
    EXPECT_EQ(profile->GetString("Firmware", "FileName", absent), Sample().firmwareFile);
    EXPECT_EQ(profile->GetString("Firmware", "TransferSpeed", absent), "9");
    EXPECT_EQ(profile->GetString("Tests", "TestingMode", absent), "0");
    EXPECT_EQ(profile->GetString("Bootloader", "FileName", absent), "D:\\boot\\loader.ldr");
    EXPECT_EQ(profile->GetString("Bootloader", "PortName", absent), "COM4");
    EXPECT_EQ(profile->GetString("Bootloader", "BaudRate", absent), "5");

    // Defaults are written too, empty texts included.
    CSettings defaults;
    EXPECT_TRUE(ExchangeSettings(*profile, defaults, true));
    EXPECT_EQ(profile->GetString("Bootloader", "PortName", absent), "");
    EXPECT_EQ(Load(), CSettings());
}

TEST_P(SettingsContract, ForeignLinesSurviveASave)
{
    WriteFile("; written by hand\r\n"
              "[Connect]\r\n"
              "PortName=COM3\r\n"
              "Extra=kept\r\n"
              "\r\n"
              "[Vendor]\r\n"
              "Colour=blue\r\n"
              "; vendor comment\r\n"
              "[Log]\r\n"
              "FileName=C:\\logs\\runs.jsonl\r\n");
    // The result log's name is read, and a save (which never writes it) keeps it.
    EXPECT_EQ(Load().logFile, "C:\\logs\\runs.jsonl");
    CSettings s = Sample();
    EXPECT_TRUE(ExchangeSettings(*profile, s, true));

    const std::string text = ReadFile();
    EXPECT_NE(text.find("; written by hand"), std::string::npos) << text;
    EXPECT_NE(text.find("; vendor comment"), std::string::npos) << text;
    EXPECT_EQ(profile->GetString("Connect", "Extra", ""), "kept");
    EXPECT_EQ(profile->GetString("Vendor", "Colour", ""), "blue");
    CSettings expected = Sample();
    expected.logFile = "C:\\logs\\runs.jsonl";
    EXPECT_EQ(Load(), expected);
}

TEST_P(SettingsContract, NamesMatchWithoutRegardToCase)
{
    WriteFile("[connect]\r\nportname=COM7\r\nTIMEOUT=500\r\n[FIRMWARE]\r\nfilename=a.ldr\r\n");
    CSettings s = Load();
    EXPECT_EQ(s.portName, "COM7");
    EXPECT_EQ(s.timeout, 500u);
    EXPECT_EQ(s.firmwareFile, "a.ldr");

    s.portName = "COM8";
    EXPECT_TRUE(ExchangeSettings(*profile, s, true));
    std::string lower = ReadFile();
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.find("[connect]"), lower.rfind("[connect]")) << "one Connect section";
    size_t portKeys = 0;
    for (size_t at = lower.find("portname="); at != std::string::npos; at = lower.find("portname=", at + 1))
        ++portKeys;
    EXPECT_EQ(portKeys, 2u) << "Connect and Bootloader each hold one PortName:\n" << lower;
    EXPECT_EQ(Load().portName, "COM8");
}

// The record's station and tags are read from [Log], each Tag.NAME key once in file
// order; a save leaves their lines as they were.
TEST_P(SettingsContract, LogStationAndTagsAreReadAndKept)
{
    const std::string text = "[Log]\r\nFileName=%PATH%.jsonl\r\nStation=Линия 2\r\n"
                             "tag.Operator=Иванов\r\nTag.=empty name\r\nOther=1\r\n"
                             "TAG.order=WO-7\r\nTag.operator=second\r\n[Tags]\r\nTag.x=no\r\n";
    // UTF-16 with its mark, as the Windows program writes: the system's calls read a
    // file without one in the ANSI code page.
    std::string bytes;
    ASSERT_TRUE(EncodeSettingsText(text, SettingsEncoding::Utf16LeBom, bytes));
    WriteFile(bytes);
    CSettings s = Load();
    EXPECT_EQ(s.logFile, std::string(std::getenv("PATH")) + ".jsonl");
    EXPECT_EQ(s.logStation, "Линия 2");
    EXPECT_EQ(s.logTags, (std::vector<std::pair<std::string, std::string>>{
                             {"Operator", "Иванов"}, {"order", "WO-7"}}));
    EXPECT_TRUE(ExchangeSettings(*profile, s, true));
    std::string saved;
    SettingsEncoding encoding;
    ASSERT_TRUE(DecodeSettingsText(ReadFile(), false, saved, encoding));
    EXPECT_NE(saved.find(text.substr(0, text.find("[Tags]"))), std::string::npos) << saved;
}

TEST_P(SettingsContract, MissingTimeoutKeepsTheDefault)
{
    WriteFile("[Connect]\r\nPortName=COM3\r\n");
    const CSettings s = Load();
    EXPECT_EQ(s.portName, "COM3");
    EXPECT_EQ(s.timeout, 3000u);
    EXPECT_EQ(s.baudCode, 2);
}

TEST_P(SettingsContract, OutOfRangeValuesFallBackToDefaults)
{
    struct Case {
        const char* timeout;
        unsigned expected;
    };
    const Case timeouts[] = {{"0", 3000},    {"99", 3000},     {"100", 100},
                             {"300000", 300000}, {"300001", 3000}, {"-5", 3000},
                             {"never", 3000}, {"1500ms", 1500}};
    for (const Case& c : timeouts) {
        WriteFile(std::string("[Connect]\r\nTimeout=") + c.timeout + "\r\n");
        EXPECT_EQ(Load().timeout, c.expected) << c.timeout;
    }
    const std::pair<const char*, int> bauds[] = {{"0", 0}, {"9", 9}, {"10", 2}, {"-1", 2}};
    for (const auto& b : bauds) {
        WriteFile(std::string("[Connect]\r\nBaudRate=") + b.first + "\r\n");
        EXPECT_EQ(Load().baudCode, b.second) << b.first;
    }
    // The module is never written below 115200.
    const std::pair<const char*, int> transfers[] = {{"5", 6}, {"6", 6}, {"9", 9}, {"10", 6}};
    for (const auto& t : transfers) {
        WriteFile(std::string("[Firmware]\r\nTransferSpeed=") + t.first + "\r\n");
        EXPECT_EQ(Load().transferSpeedCode, t.second) << t.first;
    }
    // Carried values are not judged.
    WriteFile("[Tests]\r\nTestingMode=-5\r\n[Bootloader]\r\nBaudRate=42\r\n");
    EXPECT_EQ(Load().testingMode, -5);
    EXPECT_EQ(Load().bootloaderBaudCode, 42);
}

TEST_P(SettingsContract, ValuesAreTrimmedAndUnquotedAndEmptyIntegersKeepTheDefault)
{
    WriteFile("[Connect]\r\n  PortName =  COM5  \r\nBaudRate=\r\nTimeout = 2500 \r\n"
              "[Firmware]\r\nFileName=\"C:\\a b.ldr\"\r\n");
    const CSettings s = Load();
    EXPECT_EQ(s.portName, "COM5");
    EXPECT_EQ(s.firmwareFile, "C:\\a b.ldr");  // one pair of enclosing quotes is dropped
    EXPECT_EQ(s.baudCode, 2);
    EXPECT_EQ(s.timeout, 2500u);
}

TEST_P(SettingsContract, UnicodeValuesRoundTrip)
{
    CSettings s;
    s.firmwareFile = u8"C:\\Прошивки\\固件 Ω.ldr";
    EXPECT_TRUE(ExchangeSettings(*profile, s, true));
    EXPECT_EQ(Load().firmwareFile, s.firmwareFile);
}

TEST_P(SettingsContract, UnwritableFileFailsQuietly)
{
    // A folder where the file should be cannot be written even with every right.
    fs::create_directory(fs::u8path(path));
    CSettings s = Sample();
    bool saved = true;
    EXPECT_NO_THROW(saved = ExchangeSettings(*profile, s, true));
    EXPECT_FALSE(saved);
    EXPECT_EQ(s, Sample());
    EXPECT_EQ(Load(), CSettings());

    const std::string nowhere = (dir / "missing-folder" / "trelvo.ini").u8string();
    std::unique_ptr<CProfile> lost = GetParam().open(nowhere);
    EXPECT_FALSE(ExchangeSettings(*lost, s, true));
    EXPECT_FALSE(fs::exists(dir / "missing-folder"));
}

TEST_P(SettingsContract, TextsThatWouldBreakTheFileAreRefused)
{
    EXPECT_FALSE(profile->WriteString("Connect", "PortName", "COM1\r\n[Evil]\r\nx=1"));
    EXPECT_FALSE(profile->WriteString("Connect", "Port=Name", "COM1"));
    EXPECT_FALSE(profile->WriteString("Con]nect", "PortName", "COM1"));
    EXPECT_FALSE(profile->WriteString("", "PortName", "COM1"));
    // Keys that would read back as a section, a comment or another name.
    for (const char* key : {"[Evil]", ";PortName", " PortName", "PortName\t"})
        EXPECT_FALSE(profile->WriteString("Connect", key, "COM1")) << key;
    EXPECT_FALSE(profile->WriteString(" Connect", "PortName", "COM1"));
    // A NUL would cut the value silently.
    EXPECT_FALSE(profile->WriteString("Connect", "PortName", std::string("CO\0M1", 5)));
    EXPECT_EQ(profile->GetString("Evil", "x", "none"), "none");
    EXPECT_EQ(profile->GetString("Connect", "PortName", "none"), "none");
    EXPECT_TRUE(profile->WriteInt("Connect", "BaudRate", 4));
    EXPECT_EQ(profile->GetInt("Connect", "BaudRate", 0), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, SettingsContract,
    testing::Values(ProfileKind{"Native", [](const std::string& p) { return OpenNativeProfile(p); }},
                    ProfileKind{"Ini", [](const std::string& p) -> std::unique_ptr<CProfile> {
                                    return std::make_unique<CIniProfile>(p);
                                }}),
    PrintKind);
