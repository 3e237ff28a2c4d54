#include <gtest/gtest.h>

#include "settings/settings.h"

TEST(SettingsSheet, SpeedWithoutItemKeepsTheStoredCode)
{
    EXPECT_EQ(SpeedCodeFromSheet(8, -1), 8);   // 460800 has no item in the page's list
    EXPECT_EQ(SpeedCodeFromSheet(8, 5), 5);
    EXPECT_EQ(SpeedCodeFromSheet(2, 0), 0);
}
