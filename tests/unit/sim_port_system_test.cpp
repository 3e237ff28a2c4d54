#include <gtest/gtest.h>

#include "protocol/commands.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "support/sim_bench.h"
#include "support/engine_fixture.h"
#include "transport/com_device.h"

namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

struct Line {
    CVirtualHost host;
    CSimPortSystem system{host};
    std::unique_ptr<CPortHandle> port;

    uint32_t Open(const std::string& name) { return system.OpenPort(name, port); }

    void Timeouts(uint32_t interval, uint32_t multiplier, uint32_t constant)
    {
        ASSERT_EQ(port->SetTimeouts({interval, multiplier, constant, 0, 0}), 0u);
    }

    void Baud(uint32_t baud)
    {
        CPortState state;
        ASSERT_EQ(port->GetState(state), 0u);
        state.baudRate = baud;
        ASSERT_EQ(port->SetState(state), 0u);
    }

    uint32_t Send(const std::vector<uint8_t>& bytes)
    {
        unsigned done = 0;
        const uint32_t e = port->Write(bytes.data(), static_cast<unsigned>(bytes.size()), &done);
        EXPECT_TRUE(e != 0 || done == bytes.size());
        return e;
    }

    std::vector<uint8_t> Receive(unsigned size, uint32_t* error = nullptr)
    {
        std::vector<uint8_t> buffer(size);
        unsigned done = 0;
        const uint32_t e = port->Read(buffer.data(), size, &done);
        if (error)
            *error = e;
        else
            EXPECT_EQ(e, 0u);
        buffer.resize(done);
        return buffer;
    }
};

}  // namespace

TEST(SimPortSystem, OpenErrorsAndExclusiveUse)
{
    Line line;
    line.system.AddScanner("COM3");
    line.system.AddSilentPort("COM4");
    EXPECT_EQ(line.Open(""), kErrorInvalidName);
    EXPECT_EQ(line.Open("COM9"), kErrorFileNotFound);
    EXPECT_FALSE(line.port);
    ASSERT_EQ(line.Open("com3"), kErrorSuccess);
    EXPECT_TRUE(line.system.Held("COM3"));

    std::unique_ptr<CPortHandle> second;
    EXPECT_EQ(line.system.OpenPort("COM3", second), kErrorAccessDenied);
    line.port.reset();
    EXPECT_FALSE(line.system.Held("COM3"));
    EXPECT_EQ(line.system.OpenPort("COM3", second), kErrorSuccess);
    EXPECT_EQ(line.system.OpenCount("COM3"), 2u);

    line.system.SetBusy("COM4", true);
    EXPECT_EQ(line.Open("COM4"), kErrorAccessDenied);
    line.system.SetBusy("COM4", false);
    EXPECT_EQ(line.Open("COM4"), kErrorSuccess);
    EXPECT_EQ(line.system.EnumerateSerialPorts(), (std::vector<std::string>{"COM3", "COM4"}));
    std::string id;
    EXPECT_FALSE(line.system.IsCurrentPortUsb("COM3", "0647", "3339", id));
}

TEST(SimPortSystem, SilentReadsCostTheirTimeOutOnTheVirtualClock)
{
    Line line;
    line.system.AddSilentPort("COM4");
    ASSERT_EQ(line.Open("COM4"), 0u);
    line.Timeouts(100, 0, 100);
    EXPECT_TRUE(line.Receive(1).empty());
    EXPECT_EQ(line.host.NowUs(), 100000u);

    line.Timeouts(0, 10, 5);           // total: 10 ms per byte asked + 5 ms
    EXPECT_TRUE(line.Receive(4).empty());
    EXPECT_EQ(line.host.NowUs(), 145000u);

    line.Timeouts(kMaxDword, 0, 0);    // what is there, at once
    EXPECT_TRUE(line.Receive(4).empty());
    EXPECT_EQ(line.host.NowUs(), 145000u);

    line.Timeouts(0, 0, 0);            // no time-out at all: bounded in the simulator
    EXPECT_TRUE(line.Receive(1).empty());
    EXPECT_EQ(line.host.NowUs(), 145000u + kSimUnboundedReadMs * 1000ull);
}

TEST(SimPortSystem, ReadsWaitForBytesOnTheLineAndStopAtTheIntervalTimeOut)
{
    Line line;
    SimConfig config;
    config.lineRate = true;
    config.turnaroundUs = 3000;
    line.system.AddScanner("COM3", config);
    ASSERT_EQ(line.Open("COM3"), 0u);
    line.Timeouts(5, 0, 1000);

    const std::vector<uint8_t> request = SimRequest(0x9E, {0});
    ASSERT_EQ(line.Send(request), 0u);
    EXPECT_EQ(line.host.NowUs(), 5209u);   // the request's wire time at 9600, 5208.3 us
    EXPECT_EQ(line.system.Sent("COM3"), request);

    // Ten reply bytes, then silence: the interval time-out ends the read.
    const std::vector<uint8_t> reply = line.Receive(64);
    EXPECT_TRUE(SimParseReply(reply).framed);
    EXPECT_EQ(reply.size(), 10u);
    EXPECT_EQ(line.host.NowUs(), 5209u + 3000 + 10417 + 5000);

    // Interval MAXDWORD with multiplier MAXDWORD: back with the first byte.
    line.Timeouts(kMaxDword, kMaxDword, 500);
    ASSERT_EQ(line.Send(request), 0u);
    const uint64_t sent = line.host.NowUs();
    EXPECT_EQ(line.Receive(64).size(), 1u);
    EXPECT_EQ(line.host.NowUs(), sent + 3000 + 1042);
}

TEST(SimPortSystem, SpeedMismatchAndPurge)
{
    Line line;
    line.system.AddScanner("COM3");
    ASSERT_EQ(line.Open("COM3"), 0u);
    line.Timeouts(100, 0, 100);
    line.Baud(19200);
    ASSERT_EQ(line.Send(SimRequest(0x9E, {0})), 0u);
    EXPECT_TRUE(line.Receive(8).empty());

    line.Baud(9600);
    ASSERT_EQ(line.Send(SimRequest(0x9E, {0})), 0u);
    ASSERT_EQ(line.port->Purge(kPurgeRxAbort | kPurgeRxClear), 0u);
    EXPECT_TRUE(line.Receive(8).empty());
    ASSERT_EQ(line.Send(SimRequest(0x9E, {0})), 0u);
    EXPECT_TRUE(SimParseReply(line.Receive(10)).framed);

    CPortState bad;
    bad.baudRate = 0;
    EXPECT_NE(line.port->SetState(bad), 0u);
}

TEST(SimPortSystem, UsbPortVanishesDuringTheRestartAndReturns)
{
    Line line;
    SimConfig config;
    config.usbCdc = true;
    config.restartMs = 1000;
    config.serialNumber = 42;
    line.system.AddScanner("COM5", config);
    std::string id;
    ASSERT_TRUE(line.system.IsCurrentPortUsb("COM5", "0647", "3339", id));
    EXPECT_EQ(id, "USB\\VID_0647&PID_3339\\42");
    EXPECT_FALSE(line.system.IsCurrentPortUsb("COM5", "0647", "3340", id));

    ASSERT_EQ(line.Open("COM5"), 0u);
    line.Timeouts(100, 0, 100);
    ASSERT_EQ(line.Send(SimRequest(0x9F, {0x02, 0x02, 0, 0})), 0u);
    EXPECT_TRUE(SimParseReply(line.Receive(5)).framed);   // the reply still comes

    uint32_t error = 0;
    line.Receive(1, &error);
    EXPECT_EQ(error, kErrorAccessDenied);
    EXPECT_EQ(line.Send({1}), kErrorAccessDenied);
    EXPECT_TRUE(line.system.EnumerateSerialPorts().empty());
    std::unique_ptr<CPortHandle> other;
    EXPECT_EQ(line.system.OpenPort("COM5", other), kErrorFileNotFound);
    EXPECT_FALSE(line.system.IsCurrentPortUsb("COM5", "0647", "3339", id));

    line.host.Sleep(1000);
    EXPECT_EQ(line.system.EnumerateSerialPorts(), std::vector<std::string>{"COM5"});
    // The old handle stays dead; a new one reaches the scanner, now in its loader.
    EXPECT_EQ(line.port->ClearErrors(), kErrorAccessDenied);
    ASSERT_EQ(line.system.OpenPort("COM5", other), kErrorSuccess);
    line.port = std::move(other);
    line.Timeouts(100, 0, 100);
    ASSERT_EQ(line.Send(SimRequest(0x9F)), 0u);
    EXPECT_EQ(SimParseReply(line.Receive(9)).Payload(), (std::vector<uint8_t>{2, 2, 0, 0x80}));
}

TEST(SimPortSystem, HandlesOutlivingTheSystemFailCleanly)
{
    std::unique_ptr<CPortHandle> port;
    {
        CVirtualHost host;
        CSimPortSystem system(host);
        system.AddScanner("COM3");
        ASSERT_EQ(system.OpenPort("COM3", port), 0u);
    }
    unsigned done = 1;
    uint8_t b = 0;
    EXPECT_EQ(port->Read(&b, 1, &done), kErrorInvalidHandle);
    EXPECT_EQ(done, 0u);
}

// A scanner behind an open CComDevice, as the engine sees it.
using SimPortSystemScanner = SimulatedScanner;

TEST_F(SimPortSystemScanner, RemovalAndArrivalReachTheDeviceOnlyWhilePumping)
{
    SimConfig config;
    config.usbCdc = true;
    Attach(config);
    ASSERT_TRUE(device.IsUsbCdc());
    ASSERT_TRUE(device.WatchRemoval());

    const unsigned char loader[4] = {0x02, 0x02, 0, 0};
    ASSERT_EQ(protocol.WriteModeRegister(loader), 0);
    host.Sleep(config.restartMs / 2);
    EXPECT_FALSE(device.WasRemoved());   // gone from the bus, not yet delivered
    EXPECT_TRUE(device.IsOpen());
    host.PumpMessages();
    EXPECT_TRUE(device.WasRemoved());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.HasArrived());
    host.Sleep(config.restartMs);
    EXPECT_FALSE(device.HasArrived());
    host.PumpMessages();
    EXPECT_TRUE(device.HasArrived());
    device.Open(kPort);
    EXPECT_TRUE(Probe(protocol));
}

TEST_F(SimPortSystemScanner, ModeSwitchFollowsAUsbScannerThroughItsRestart)
{
    SimConfig config;
    config.usbCdc = true;
    config.speedCode = 6;   // a USB line passes any baud
    CSimScanner& scanner = Attach(config);

    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_EQ(ports.OpenCount(kPort), 2u);
    unsigned char reg[4];
    ASSERT_EQ(protocol.ReadModeRegister(reg), 0);
    EXPECT_TRUE(IsInMode(reg, MODE_LOADER));
}

TEST_F(SimPortSystemScanner, ModeSwitchOnASerialPortFindsTheScannerBackAtAnotherSpeed)
{
    SimConfig config;
    config.backInOldModeOnce = true;
    config.restartSpeedCode = 4;
    CSimScanner& scanner = Attach(config);

    SwitchMode(protocol, MODE_LOADER, false);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_EQ(scanner.Restarts(), 2u);
    EXPECT_EQ(device.GetBaudRate(), 38400u);
    EXPECT_LT(host.NowMs(), 20000u);
}
