#include <gtest/gtest.h>

#include <string>

#include "base/app_paths.h"

TEST(SettingsPath, ExtensionOfTheFileNameIsReplaced)
{
    EXPECT_EQ(SettingsPathFor("C:\\Tools\\Scan.exe"), "C:\\Tools\\Scan.ini");
    EXPECT_EQ(SettingsPathFor("C:\\Tools\\Scan.copy.exe"), "C:\\Tools\\Scan.copy.ini");
    EXPECT_EQ(SettingsPathFor("/opt/trelvo/trelvo"), "/opt/trelvo/trelvo.ini");
    EXPECT_EQ(SettingsPathFor("C:\\v1.2\\Scan"), "C:\\v1.2\\Scan.ini");
    EXPECT_EQ(SettingsPathFor("/home/u/my.tools/trelvo"), "/home/u/my.tools/trelvo.ini");
    EXPECT_EQ(SettingsPathFor("/home/u/.trelvo"), "/home/u/.trelvo.ini");
    EXPECT_EQ(SettingsPathFor("Scan.exe"), "Scan.ini");
    EXPECT_EQ(SettingsPathFor("C:\\Tools\\Scan."), "C:\\Tools\\Scan.ini");
}

TEST(SettingsPath, NoNameNoSettingsFile)
{
    EXPECT_FALSE(SettingsPathFor(""));
    EXPECT_FALSE(SettingsPathFor("C:\\Tools\\"));
    EXPECT_FALSE(SettingsPathFor("/opt/trelvo/"));
}

TEST(SettingsPath, TheTestProgramFindsItself)
{
    const std::optional<std::string> path = ExecutablePath();
    ASSERT_TRUE(path);
    EXPECT_NE(path->find("trelvo_tests"), std::string::npos) << *path;
    const std::optional<std::string> ini = SettingsPathFor(*path);
    ASSERT_TRUE(ini);
    EXPECT_EQ(ini->substr(ini->size() - 16), "trelvo_tests.ini");
}
