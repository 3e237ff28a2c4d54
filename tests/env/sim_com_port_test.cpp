// The native serial port against trelvo-sim: the end-to-end script starts the simulator
// and names its port in TRELVO_TEST_COM (under Wine a COM port mapped onto the
// simulator's pseudo-terminal, natively the link to it) and its model code in
// TRELVO_TEST_SIM_MODEL. Without the script there is no port, and the tests skip.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "base/strings.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "support/open_message.h"
#include "transport/com_device.h"
#include "transport/port_system.h"

namespace {

class SimComPort : public testing::Test {
protected:
    void SetUp() override
    {
        const char* name = std::getenv("TRELVO_TEST_COM");
        if (!name || !*name)
            GTEST_SKIP() << "TRELVO_TEST_COM names no COM port (run tests/e2e/transport_sim_port.sh)";
        port = name;
        const char* model = std::getenv("TRELVO_TEST_SIM_MODEL");
        simModel = model ? std::atoi(model) : -1;
    }
    std::string port;
    int simModel = -1;
};

}  // namespace

TEST_F(SimComPort, OpensAt9600AndChangesOnlyTheSpeed)
{
    CComDevice device(NativePortSystem(), PlatformHost());
    device.Open(port);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetPortName(), port);
    EXPECT_FALSE(device.IsUsbCdc());
    EXPECT_EQ(device.GetBaudRate(), 9600u);
    device.SetBaudRate(57600);
    EXPECT_EQ(device.GetBaudRate(), 57600u);
    CPortState state;
    ASSERT_EQ(device.Handle()->GetState(state), 0u);
    EXPECT_EQ(state.byteSize, 8);
    EXPECT_EQ(state.parity, 0);
    EXPECT_EQ(state.stopBits, 0);
    EXPECT_EQ(state.xonChar, 0x11);
    EXPECT_EQ(state.xoffChar, 0x13);
    // Drivers refuse equal XON/XOFF characters; the port code does not wait for them to.
    CPortState equal = state;
    equal.xoffChar = equal.xonChar;
    EXPECT_EQ(device.Handle()->SetState(equal), kErrorInvalidParameter);
    device.SetTimeout(250);
    EXPECT_EQ(device.GetTimeout(), 250u);
    device.Open(port);   // the same name again: closed first, so not busy
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetBaudRate(), 9600u);
}

TEST_F(SimComPort, SilentLineTimesOutAfterTheTimeout)
{
    CComDevice device(NativePortSystem(), PlatformHost());
    OpenComPort(device, port, 9600, 100);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(device.ReadByte(), CBasicDevice::CException);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(ms, 80);
    EXPECT_LT(ms, 1000);
    unsigned char buffer[8];
    unsigned size = sizeof buffer;
    device.ReadSome(buffer, &size);
    EXPECT_EQ(size, 0u);
}

TEST_F(SimComPort, ExchangesWithTheScannerOnlyAtItsSpeed)
{
    CComDevice device(NativePortSystem(), PlatformHost());
    OpenComPort(device, port, 9600, 300);
    device.ClearErrors();
    device.PurgeInput();
    device.PurgeOutput();
    CScannerProtocol protocol(PlatformHost());
    protocol.SetDevice(&device);
    unsigned char model = 0;
    ASSERT_TRUE(Probe(protocol, &model));
    if (simModel >= 0)
        EXPECT_EQ(model, simModel);

    device.SetBaudRate(19200);   // the scanner hears garbage
    EXPECT_FALSE(Probe(protocol, nullptr));
    device.SetBaudRate(9600);
    EXPECT_TRUE(Probe(protocol, nullptr));
}

TEST_F(SimComPort, MissingPortGivesItsMessage)
{
    CComDevice device(NativePortSystem(), PlatformHost());
    const std::string missing = port + "9";   // never mapped by the script
    EXPECT_EQ(OpenMessage(device, missing), LoadText(IDS_PORT_UNAVAILABLE));
    EXPECT_EQ(OpenMessage(device, ""), LoadText(IDS_PORT_NOT_SET));
    EXPECT_EQ(OpenMessage(device, std::string(100 * 1024, 'C')), LoadText(IDS_PORT_NAME_TOO_LONG));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(NativePortSystem().SerialPortExists(missing));
    EXPECT_TRUE(NativePortSystem().SerialPortExists(port));
}
