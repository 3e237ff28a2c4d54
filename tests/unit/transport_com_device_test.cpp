#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/strings.h"
#include "support/open_message.h"
#include "transport/com_device.h"
#include "support/fake_port_system.h"

namespace {

using Calls = std::vector<std::string>;

constexpr uint32_t kErrorIoDevice = 1117;   // a request failed, the device is still there

std::string OpenFailure(FakePortSystem& system, const std::string& name)
{
    CComDevice device(system, system.host);
    const std::string message = OpenMessage(device, name);
    if (message != "opened")
        EXPECT_FALSE(device.IsOpen());
    return message;
}

}  // namespace

TEST(ComDevice, OpenWritesAFreshBinaryLineStateThenQueuesAndChecksUsb)
{
    FakePortSystem system;
    system.ports["COM3"].state.flags = 0x3011;   // handshaking left by another program
    system.ports["COM3"].state.baudRate = 115200;
    CComDevice device(system, system.host);
    device.Open("COM3");

    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetPortName(), "COM3");
    EXPECT_EQ(system.ports["COM3"].calls, (Calls{"open", "setstate", "queues 1024/1024", "settimeouts"}));
    ASSERT_EQ(system.ports["COM3"].statesWritten.size(), 1u);
    const CPortState& s = system.ports["COM3"].statesWritten[0];
    EXPECT_EQ(s.baudRate, 9600u);
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.flags, kPortFlagBinary);   // the DCB's fBinary must be TRUE; nothing else set
    EXPECT_EQ(s.xonChar, 0x11);
    EXPECT_EQ(s.xoffChar, 0x13);
    EXPECT_EQ(system.calls, (Calls{"open COM3", "usb COM3 0647 3339"}));
    EXPECT_FALSE(device.IsUsbCdc());

    system.usbPorts = {"COM4"};
    device.Open("COM4");
    EXPECT_TRUE(device.IsUsbCdc());
}

TEST(ComDevice, ReopenClosesTheOldPortFirstAndCloseIsIdempotent)
{
    FakePortSystem system;
    {
        CComDevice device(system, system.host);
        device.Open("COM3");
        device.Open("COM3");
        EXPECT_EQ(system.ports["COM3"].calls,
                  (Calls{"open", "setstate", "queues 1024/1024", "settimeouts", "close", "open",
                         "setstate", "queues 1024/1024", "settimeouts"}));
        EXPECT_EQ(system.ports["COM3"].openHandles, 1u);

        device.Close();
        EXPECT_FALSE(device.IsOpen());
        EXPECT_EQ(device.GetPortName(), "");
        device.Close();
        EXPECT_EQ(system.ports["COM3"].calls.back(), "close");
        EXPECT_EQ(system.ports["COM3"].openHandles, 0u);

        device.Open("COM3");
    }
    EXPECT_EQ(system.ports["COM3"].openHandles, 0u);   // the destructor closed it
}

TEST(ComDevice, OpenFailuresCarryTheOperatorMessage)
{
    FakePortSystem system;
    system.openErrors = {{"COM5", 2}, {"COM6", 5}, {"", 123}, {"COM7", 87}, {"COM8", 206},
                         {"COM9", kErrorNotSerialPort}, {"COM10", kErrorPortFailure}};
    EXPECT_EQ(OpenFailure(system, "COM5"), LoadText(IDS_PORT_UNAVAILABLE));
    EXPECT_EQ(OpenFailure(system, "COM6"), LoadText(IDS_PORT_BUSY));
    EXPECT_EQ(OpenFailure(system, ""), LoadText(IDS_PORT_NOT_SET));
    EXPECT_EQ(OpenFailure(system, "COM7"), "Ошибка открытия COM-порта (87)");
    EXPECT_EQ(OpenFailure(system, "COM8"), LoadText(IDS_PORT_NAME_TOO_LONG));
    EXPECT_EQ(OpenFailure(system, "COM9"), LoadText(IDS_PORT_NOT_SERIAL));
    EXPECT_EQ(OpenFailure(system, "COM10"), LoadText(IDS_PORT_FAILED));
}

TEST(ComDevice, FailedSetupClosesTheNewHandleAndLeavesTheDeviceClosed)
{
    FakePortSystem system;
    system.ports["COM3"].failures["queues 1024/1024"] = 5;
    system.ports["COM4"].failures["setstate"] = 31;
    CComDevice device(system, system.host);
    device.Open("COM8");
    EXPECT_EQ(OpenFailure(system, "COM3"), LoadText(IDS_PORT_BUSY));   // denied while not yet open
    EXPECT_EQ(system.ports["COM3"].openHandles, 0u);
    EXPECT_THROW(device.Open("COM4"), CComDevice::CException);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(system.ports["COM8"].openHandles, 0u);
    EXPECT_EQ(system.ports["COM4"].calls.back(), "close");
}

TEST(ComDevice, ConfigurationFailuresOnAnOpenPortKeepItOpen)
{
    FakePortSystem system;
    system.listed = {"COM3"};
    CComDevice device(system, system.host);
    device.Open("COM3");
    system.ports["COM3"].failures["getstate"] = 5;
    auto failure = [&device] {
        try {
            device.SetBaudRate(115200);
        } catch (const CComDevice::CException& e) {
            return e.Text();
        }
        return std::string("no failure");
    };
    EXPECT_EQ(failure(), LoadText(IDS_PORT_BLOCKED));   // denied on a port that is still there
    EXPECT_TRUE(device.IsOpen());
    // Denied on a port whose device has left the list: pulled, not blocked.
    system.listed.clear();
    EXPECT_EQ(failure(), "Сканер или адаптер отключён от порта COM3. Проверьте подключение и повторите.");
    system.listed = {"COM3"};
    system.ports["COM3"].failures["getstate"] = kErrorDeviceRemoved;
    EXPECT_EQ(failure(), "Сканер или адаптер отключён от порта COM3. Проверьте подключение и повторите.");
    EXPECT_TRUE(device.IsOpen());

    device.Close();
    try {
        device.GetTimeout();
        FAIL();
    } catch (const CComDevice::CException& e) {
        EXPECT_EQ(e.Text(), "Ошибка открытия COM-порта (6)");
    }
}

TEST(ComDevice, SetBaudRateReplacesOnlyTheSpeed)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    device.Open("COM3");
    system.ports["COM3"].state.flags = 0x15;   // as if the system reported extra bits
    device.SetBaudRate(921600);
    EXPECT_EQ(device.GetBaudRate(), 921600u);
    const CPortState& s = system.ports["COM3"].statesWritten.back();
    EXPECT_EQ(s.byteSize, 8);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.flags, 0x15u);
}

TEST(ComDevice, TimeoutsAndOpenComPort)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    OpenComPort(device, "COM3", 57600, 250);
    // The port itself waits one slice at a time and returns as soon as a byte is there;
    // the reply time-out is the device's.
    const CPortTimeouts& t = system.ports["COM3"].timeouts;
    EXPECT_EQ(t.readInterval, 0xFFFFFFFFu);
    EXPECT_EQ(t.readTotalMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(t.readTotalConstant, kPortSliceMs);
    EXPECT_EQ(t.writeTotalMultiplier, 0u);
    EXPECT_EQ(t.writeTotalConstant, kPortSliceMs);
    EXPECT_EQ(system.ports["COM3"].state.baudRate, 57600u);
    EXPECT_EQ(device.GetTimeout(), 250u);
}

TEST(ComDevice, TimeoutGuardRestoresOnEveryPath)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    OpenComPort(device, "COM3", 9600, 1000);
    try {
        CTimeoutGuard guard(device, 100);
        EXPECT_EQ(device.GetTimeout(), 100u);
        device.ReadByte();   // nothing on the line: throws
        FAIL();
    } catch (const CBasicDevice::CException&) {
    }
    EXPECT_EQ(device.GetTimeout(), 1000u);

    {
        CTimeoutGuard guard(device, 100);
        device.Close();   // a removal closed the port mid-exchange
    }
    EXPECT_FALSE(device.IsOpen());
}

TEST(ComDevice, ShortOrFailedIoThrowsButReadSomeAcceptsATimeout)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    EXPECT_THROW(device.WriteByte(1), CBasicDevice::CException);   // closed
    device.Open("COM3");
    FakePortLog& line = system.ports["COM3"];

    line.input = {1, 2, 3};
    unsigned char buffer[8] = {};
    EXPECT_THROW(device.Read(buffer, 4), CBasicDevice::CException);
    line.input = {7};
    EXPECT_EQ(device.ReadByte(), 7);
    unsigned size = sizeof buffer;
    device.ReadSome(buffer, &size);
    EXPECT_EQ(size, 0u);
    line.input = {4, 5};
    size = sizeof buffer;
    device.ReadSome(buffer, &size);
    EXPECT_EQ(size, 2u);
    line.failures["read"] = kErrorIoDevice;
    size = sizeof buffer;
    EXPECT_THROW(device.ReadSome(buffer, &size), CBasicDevice::CException);

    device.Write("ab", 2);
    EXPECT_EQ(line.written, (std::vector<uint8_t>{'a', 'b'}));
    line.failures["short write"] = 0;
    EXPECT_THROW(device.Write("cd", 2), CBasicDevice::CException);
    line.failures["write"] = kErrorIoDevice;
    EXPECT_THROW(device.WriteByte(1), CBasicDevice::CException);
    EXPECT_TRUE(device.IsOpen());
}

// What USB serial drivers answer once their device is pulled, each its own: a failure
// with the port's name that the protocol does not retry, where any other failure of a
// request costs only its attempt.
TEST(ComDevice, EveryRemovalErrorOfARequestIsTheDisconnectedFailure)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    device.Open("COM3");
    FakePortLog& line = system.ports["COM3"];
    const std::vector<std::pair<std::string, std::function<void()>>> requests = {
        {"read", [&device] { device.ReadByte(); }},
        {"write", [&device] { device.WriteByte(1); }},
        {"purge 10", [&device] { device.PurgeInput(); }},
        {"clear", [&device] { device.ClearErrors(); }}};
    for (uint32_t code : {5u, 6u, 21u, 22u, 31u, 995u, 1167u, 1617u}) {
        for (const auto& [call, request] : requests) {
            line.failures = {{call, code}};
            try {
                request();
                ADD_FAILURE() << call << " " << code << ": no failure";
            } catch (const CComDevice::CDisconnected& e) {
                EXPECT_EQ(e.Text(), "Сканер или адаптер отключён от порта COM3. Проверьте подключение и повторите.");
                EXPECT_EQ(e.ErrorCode(), code);
            }
        }
    }
    line.failures = {{"read", kErrorIoDevice}};
    try {
        device.ReadByte();
    } catch (const object_description&) {
        ADD_FAILURE() << "an ordinary failure carries no message";
    } catch (const CBasicDevice::CException&) {
    }
}

// A driver releases a port late after it was closed: the next row's open is refused
// for a moment. A port another program holds is told after about a second.
TEST(ComDevice, AnOpenRefusedWithAccessDeniedIsTriedForASecond)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    system.refusedOpens["COM3"] = 3;
    device.Open("COM3");
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(system.host.NowMs(), 3 * kRefusedOpenPauseMs);

    device.Close();
    system.refusedOpens["COM3"] = 1000;
    const uint64_t start = system.host.NowMs();
    EXPECT_EQ(OpenMessage(device, "COM3"), LoadText(IDS_PORT_BUSY));
    EXPECT_GE(system.host.NowMs() - start, kRefusedOpenRetryMs);
    EXPECT_LE(system.host.NowMs() - start, kRefusedOpenRetryMs + kRefusedOpenPauseMs);
}

// Some drivers end an empty read at once, whatever its time-out: the reply is still
// waited for as long as the time-out says, on the clock.
TEST(ComDevice, ADriverEndingEmptyReadsAtOnceStillWaitsTheTimeout)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    OpenComPort(device, "COM3", 115200, 1000);
    system.ports["COM3"].instantEmptyReads = true;
    EXPECT_THROW(device.ReadByte(), CBasicDevice::CException);
    EXPECT_GE(system.host.NowMs(), 1000u);
    EXPECT_LE(system.host.NowMs(), 1000u + kEmptyReadPauseMs);
}

TEST(ComDevice, PurgeAndClearUseTheirFlagsAndReportFailure)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    device.Open("COM3");
    FakePortLog& line = system.ports["COM3"];
    line.calls.clear();
    device.PurgeInput();
    device.PurgeOutput();
    device.ClearErrors();
    EXPECT_EQ(line.calls, (Calls{"purge 10", "purge 5", "clear"}));
    line.failures["purge 10"] = 31;
    line.failures["clear"] = 31;
    EXPECT_THROW(device.PurgeInput(), CBasicDevice::CException);
    EXPECT_THROW(device.ClearErrors(), CBasicDevice::CException);
}

TEST(PortSystem, SerialPortExistsComparesNamesAsThePlatformDoes)
{
    FakePortSystem system;
    system.listed = {"COM1", "COM3"};
    EXPECT_TRUE(system.SerialPortExists("COM3"));
    EXPECT_FALSE(system.SerialPortExists("COM"));
    EXPECT_FALSE(system.SerialPortExists("COM33"));
}

// A silent scanner at a long time-out must not hold up a Stop, and a reply that has begun
// but breaks off costs the rest's own time on the line, not another time-out.
TEST(ComDevice, WaitsInSlicesWithThePumpBetweenAndTimesTheRestOfAReply)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    OpenComPort(device, "COM3", 115200, 30000);
    FakePortLog& line = system.ports["COM3"];
    auto reads = [&line] {
        return std::count(line.calls.begin(), line.calls.end(), std::string("read"));
    };

    system.host.StopAtPump(1);
    line.calls.clear();
    EXPECT_THROW(device.ReadByte(), stop_exception);
    EXPECT_LE(reads(), 2);   // one slice of 50 ms, then the pump took the Stop

    line.input = {0x02};
    line.calls.clear();
    unsigned char frame[4];
    const uint64_t start = system.host.NowMs();
    EXPECT_THROW(device.Read(frame, 4), CBasicDevice::CException);
    // The start byte, one wait of the rest's time (3 bytes at 115200), one last look.
    EXPECT_EQ(reads(), 3);
    EXPECT_EQ(system.host.NowMs() - start, 1 + kFrameMarginMs);
}

// On a busy machine the reading thread may next run only after the rest's time is up:
// bytes that arrived in time are still taken, not called a broken reply.
TEST(ComDevice, BytesThatCameInTimeCountWhenTheThreadLooksLate)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    OpenComPort(device, "COM3", 115200, 1000);
    FakePortLog& line = system.ports["COM3"];
    line.input = {0x02};
    system.host.At(system.host.NowMs() + 10, [&line] { line.input = {7, 8, 9}; });
    unsigned char frame[4];
    device.Read(frame, 4);
    EXPECT_EQ(frame[3], 9);
}
