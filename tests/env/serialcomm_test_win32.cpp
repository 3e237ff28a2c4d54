// Serial port discovery under Wine: the end-to-end script lists the COM port named in
// TRELVO_TEST_COM under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM; without it the test skips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "transport/com_device.h"
#include "transport/port_system.h"

TEST(Win32SerialComm, ListsTheRegisteredPortExactly)
{
    const char* name = std::getenv("TRELVO_TEST_COM");
    if (!name || !*name)
        GTEST_SKIP() << "TRELVO_TEST_COM names no COM port (run tests/e2e/transport_sim_port.sh)";
    const std::string port = name;
    const std::vector<std::string> ports = NativePortSystem().EnumerateSerialPorts();
    EXPECT_NE(std::find(ports.begin(), ports.end(), port), ports.end());
    EXPECT_EQ(std::count(ports.begin(), ports.end(), port), 1);   // listed twice by the script
    EXPECT_TRUE(NativePortSystem().SerialPortExists(port));
    std::string lower = port;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(NativePortSystem().SerialPortExists(lower));   // Windows names ignore case
    std::string id;
    EXPECT_FALSE(NativePortSystem().IsCurrentPortUsb(port, kScannerUsbVid, kScannerUsbPid, id));
}
