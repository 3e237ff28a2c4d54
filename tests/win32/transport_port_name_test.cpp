// Windows device names ignore case: a port written "com3" in the settings is the listed
// COM3, found at once rather than after the whole wait for the port to be listed.
#include <gtest/gtest.h>

#include "support/fake_port_system.h"

TEST(Win32PortNames, CompareWithoutRegardToCase)
{
    EXPECT_TRUE(SamePortName("com3", "COM3"));
    EXPECT_FALSE(SamePortName("COM3", "COM33"));
    FakePortSystem system;
    system.listed = {"COM1", "COM3"};
    EXPECT_TRUE(system.SerialPortExists("com3"));
}
