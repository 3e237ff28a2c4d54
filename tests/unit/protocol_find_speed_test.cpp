// The speed search and change on a serial port over the simulated line, with the port
// calls recorded on the way.
#include <gtest/gtest.h>

#include <vector>

#include "base/host.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "transport/com_device.h"

namespace {

// Passes every call to a port of another system, noting the line speed of each write
// (one write per command attempt) and, on request, failing a read with a Stop.
class CRecordingHandle : public CPortHandle {
public:
    CRecordingHandle(std::unique_ptr<CPortHandle> inner, std::vector<uint32_t>& writes,
                     unsigned& stopAtRead)
        : inner(std::move(inner)), writes(writes), stopAtRead(stopAtRead)
    {
    }
    uint32_t SetState(const CPortState& s) override { return inner->SetState(s); }
    uint32_t GetState(CPortState& s) override { return inner->GetState(s); }
    uint32_t SetupQueues(uint32_t in, uint32_t out) override { return inner->SetupQueues(in, out); }
    uint32_t SetTimeouts(const CPortTimeouts& t) override { return inner->SetTimeouts(t); }
    uint32_t GetTimeouts(CPortTimeouts& t) override { return inner->GetTimeouts(t); }
    uint32_t Read(void* buffer, unsigned size, unsigned* done) override
    {
        if (stopAtRead != 0 && --stopAtRead == 0)
            throw stop_exception(0);
        return inner->Read(buffer, size, done);
    }
    uint32_t Write(const void* data, unsigned size, unsigned* done) override
    {
        CPortState state;
        inner->GetState(state);
        writes.push_back(state.baudRate);
        return inner->Write(data, size, done);
    }
    uint32_t Purge(unsigned flags) override { return inner->Purge(flags); }
    uint32_t ClearErrors() override { return inner->ClearErrors(); }

private:
    std::unique_ptr<CPortHandle> inner;
    std::vector<uint32_t>& writes;
    unsigned& stopAtRead;
};

class CRecordingPortSystem : public CPortSystem {
public:
    explicit CRecordingPortSystem(CPortSystem& inner) : inner(inner) {}
    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override
    {
        std::unique_ptr<CPortHandle> opened;
        const uint32_t error = inner.OpenPort(name, opened);
        if (error == kErrorSuccess)
            handle = std::make_unique<CRecordingHandle>(std::move(opened), writes, stopAtRead);
        return error;
    }
    std::vector<std::string> EnumerateSerialPorts() override { return inner.EnumerateSerialPorts(); }
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid, const std::string& pid,
                          std::string& hardwareId) override
    {
        return inner.IsCurrentPortUsb(name, vid, pid, hardwareId);
    }
    CDeviceNotifier& Notifier() override { return inner.Notifier(); }

    std::vector<uint32_t> writes;
    unsigned stopAtRead = 0;

private:
    CPortSystem& inner;
};

// Line speeds at which commands went out, one entry per run of equal speeds.
std::vector<uint32_t> SpeedsProbed(const std::vector<uint32_t>& writes)
{
    std::vector<uint32_t> speeds;
    for (uint32_t baud : writes) {
        if (speeds.empty() || speeds.back() != baud)
            speeds.push_back(baud);
    }
    return speeds;
}

constexpr unsigned kCallerTimeoutMs = 1000;

class FindSpeedOnPort : public testing::Test {
protected:
    void Open(unsigned baud)
    {
        OpenComPort(device, "COM7", baud, kCallerTimeoutMs);
        protocol.SetDevice(&device);
        recorder.writes.clear();
    }

    CVirtualHost host;
    CSimPortSystem sim{host};
    CRecordingPortSystem recorder{sim};
    CComDevice device{recorder, host};
    CScannerProtocol protocol{host};
};

}  // namespace

TEST_F(FindSpeedOnPort, PreferredCodesFirstThenTheSearchableSpeedsInOrder)
{
    SimConfig config;
    config.speedCode = 5;
    sim.AddScanner("COM7", config);
    Open(9600);
    const int preferred[] = {4};
    EXPECT_TRUE(FindSpeed(protocol, preferred, 1));
    EXPECT_EQ(SpeedsProbed(recorder.writes),
              (std::vector<uint32_t>{9600, 38400, 2400, 4800, 19200, 57600}));
    EXPECT_EQ(device.GetBaudRate(), 57600u);
    EXPECT_EQ(device.GetTimeout(), kCallerTimeoutMs);
}

TEST_F(FindSpeedOnPort, FastPortCountsOnlyItsOwnSpeedAsTriedAndIsPutBackWhenNothingAnswers)
{
    // The scanner at 9600 behind a port left at 230400: 9600 is probed like any other.
    SimConfig config;
    config.speedCode = 2;
    sim.AddScanner("COM7", config);
    Open(230400);
    EXPECT_TRUE(FindSpeed(protocol, nullptr, 0));
    EXPECT_EQ(SpeedsProbed(recorder.writes), (std::vector<uint32_t>{230400, 2400, 4800, 9600}));

    sim.AddSilentPort("COM8");
    OpenComPort(device, "COM8", 921600, kCallerTimeoutMs);
    recorder.writes.clear();
    const uint64_t start = host.NowMs();
    EXPECT_FALSE(FindSpeed(protocol, nullptr, 0));
    // The fast speeds after the others.
    EXPECT_EQ(SpeedsProbed(recorder.writes),
              (std::vector<uint32_t>{921600, 2400, 4800, 9600, 19200, 38400, 57600, 115200,
                                     230400, 460800}));
    EXPECT_EQ(device.GetBaudRate(), 921600u);
    EXPECT_EQ(device.GetTimeout(), kCallerTimeoutMs);
    // Each silent speed costs three short read time-outs, not three of the caller's.
    const uint64_t spent = host.NowMs() - start;
    EXPECT_GE(spent, 10u * 300u);
    EXPECT_LT(spent, 10u * 300u + 100u);

    // A scanner at 460800 behind a port at 9600 is found after the others.
    SimConfig fast;
    fast.speedCode = 8;
    sim.AddScanner("COM9", fast);
    OpenComPort(device, "COM9", 9600, kCallerTimeoutMs);
    EXPECT_TRUE(FindSpeed(protocol, nullptr, 0));
    EXPECT_EQ(device.GetBaudRate(), 460800u);
}

TEST_F(FindSpeedOnPort, TimeoutComesBackWhenTheSearchIsLeftEarly)
{
    SimConfig config;
    config.speedCode = 6;
    CSimScanner& scanner = sim.AddScanner("COM7", config);
    Open(9600);
    recorder.stopAtRead = 4;
    EXPECT_THROW(FindSpeed(protocol, nullptr, 0), stop_exception);
    EXPECT_EQ(device.GetTimeout(), kCallerTimeoutMs);

    // A scanner that answers the probe with an error fails the search with its text.
    scanner.AddFault(SimFaultRule{CMD_GET_INFO, SimFault::ErrorStatus, 1, 115});
    device.SetBaudRate(115200);
    EXPECT_THROW(FindSpeed(protocol, nullptr, 0), test_exception);
    EXPECT_EQ(device.GetTimeout(), kCallerTimeoutMs);
}

TEST_F(FindSpeedOnPort, SetSpeedMovesScannerAndPortTogether)
{
    CSimScanner& scanner = sim.AddScanner("COM7");
    Open(9600);
    SetSpeed(protocol, 6, false);
    EXPECT_EQ(scanner.SpeedCode(), 6);
    EXPECT_EQ(device.GetBaudRate(), 115200u);
    EXPECT_EQ(device.GetTimeout(), kCallerTimeoutMs);
    EXPECT_EQ(GetSpeed(protocol, false), 6);

    // Up to a fast speed, and back down from it.
    SetSpeed(protocol, 7, false);
    EXPECT_EQ(device.GetBaudRate(), 230400u);
    SetSpeed(protocol, 2, false);
    EXPECT_EQ(scanner.SpeedCode(), 2);
    EXPECT_EQ(device.GetBaudRate(), 9600u);
}

// A 16550 behind the 8250 driver: a speed above its clock's limit is taken without an
// error and not made. The scanner is never told to go there, and the searches pass it by.
TEST_F(FindSpeedOnPort, SpeedThePortCannotMakeIsNeverAskedOfTheScanner)
{
    SimConfig config;
    config.speedCode = 5;
    CSimScanner& scanner = sim.AddScanner("COM7", config);
    sim.LimitSpeed("COM7", 115200);
    Open(57600);
    for (int code : {7, 9}) {
        try {
            SetSpeed(protocol, code, false);
            ADD_FAILURE() << "speed code " << code << " was taken";
        } catch (const CComDevice::CException& e) {
            EXPECT_EQ(e.Text(), "COM-порт не поддерживает скорость " +
                                    std::to_string(BaudFromCode(code)) + " бод");
        }
    }
    EXPECT_EQ(scanner.SpeedCode(), 5);
    EXPECT_EQ(scanner.CommandsReceived(CMD_BAUD_RATE), 2u);   // two reads, no change asked
    EXPECT_EQ(device.GetBaudRate(), 57600u);
    EXPECT_THROW(device.SetBaudRate(230400), CComDevice::CException);
    EXPECT_EQ(device.GetBaudRate(), 57600u);

    device.SetBaudRate(9600);
    recorder.writes.clear();
    const int preferred[] = {9, 8, 5};
    EXPECT_TRUE(FindSpeed(protocol, preferred, 3));
    EXPECT_EQ(SpeedsProbed(recorder.writes), (std::vector<uint32_t>{9600, 57600}));
}
