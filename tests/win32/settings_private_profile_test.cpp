// The Windows settings file keeps any Unicode path: a new file is made UTF-16, which
// the private-profile calls then keep; a file that already exists keeps its encoding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "settings/profile.h"
#include "settings/settings.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class PrivateProfileFile : public testing::Test {
protected:
    void SetUp() override
    {
        path = dir / "trelvo.ini";
        profile = OpenNativeProfile(path.u8string());
    }
    std::string Bytes() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    CTempFolder folder{"trelvo-profile-"};
    const fs::path dir = folder.Path();
    fs::path path;
    std::unique_ptr<CProfile> profile;
};

std::string Utf16(const std::string& ascii)
{
    std::string wide;
    for (char c : ascii) {
        wide += c;
        wide += '\0';
    }
    return wide;
}

}  // namespace

TEST_F(PrivateProfileFile, NewFileIsUtf16)
{
    const std::string path = u8"D:\\Прошивки\\固件.ldr";
    ASSERT_TRUE(profile->WriteString("Firmware", "FileName", path));
    const std::string bytes = Bytes();
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes.find(Utf16("FileName=D:\\")), std::string::npos);
    EXPECT_EQ(profile->GetString("Firmware", "FileName", ""), path);
}

TEST_F(PrivateProfileFile, ExistingFileKeepsItsEncoding)
{
    {
        std::ofstream out(path, std::ios::binary);
        out << "[Connect]\r\nPortName=COM1\r\n";
    }
    ASSERT_TRUE(profile->WriteString("Connect", "PortName", "COM5"));
    const std::string bytes = Bytes();
    EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes.find("PortName=COM5"), std::string::npos) << bytes;
}

// The file the program starts when the operator first confirms the settings sheet. With
// TRELVO_SAVED_SETTINGS (and TRELVO_SAVED_PORT) set, it is written there, so that the
// end-to-end test reads a file the Windows build wrote with the native tool.
TEST_F(PrivateProfileFile, TheProgramsFirstSaveIsUtf16WithItsMark)
{
    const char* target = std::getenv("TRELVO_SAVED_SETTINGS");
    const char* port = std::getenv("TRELVO_SAVED_PORT");
    if (target != nullptr)
        profile = OpenNativeProfile(target);
    CSettings settings;
    settings.portName = port != nullptr ? port : "COM3";
    settings.timeout = 1000;
    settings.firmwareFile = u8"C:\\Прошивки\\demo.ldr";
    ASSERT_TRUE(ExchangeSettings(*profile, settings, true));
    std::ifstream in(target != nullptr ? fs::u8path(target) : path, std::ios::binary);
    char mark[2] = {};
    in.read(mark, 2);
    EXPECT_EQ(std::string(mark, 2), "\xFF\xFE");
}
