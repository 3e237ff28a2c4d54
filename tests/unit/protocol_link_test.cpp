// Commands over the serial device on a simulated line whose bytes take their time on the
// wire: what a broken, missing or slow reply costs, and a port whose device goes away.
#include "support/engine_fixture.h"

#include <vector>

namespace {

constexpr int kSpeed115200 = 6;
constexpr unsigned kLongTimeoutMs = 3000;
const char kDisconnectedText[] =
    "Сканер или адаптер отключён от порта COM3. Проверьте подключение и повторите.";

class Link : public SimulatedScanner {
protected:
    CSimScanner& Attach(int speedCode, unsigned timeout)
    {
        SimConfig config;
        config.speedCode = speedCode;
        config.lineRate = true;
        config.turnaroundUs = 1000;
        return SimulatedScanner::Attach(config, timeout);
    }

    // One identity command; returns its result and how long it took (ms).
    int TimedGetInfo(uint64_t& ms)
    {
        const uint64_t start = host.NowUs();
        unsigned char reply[5];
        const int result = protocol.GetInfo(reply, 1);
        ms = (host.NowUs() - start) / 1000;
        return result;
    }
};

}  // namespace

// A reply that comes but is broken leaves its evidence on the line: the command is sent
// again once the line is quiet, long before a reply time-out would have passed.
TEST_F(Link, ABrokenReplyCostsOneResendAndNotTheTimeout)
{
    CSimScanner& scanner = Attach(kSpeed115200, kLongTimeoutMs);
    uint64_t clean = 0;
    ASSERT_EQ(TimedGetInfo(clean), RESULT_OK);
    for (SimFault fault : {SimFault::BadChecksum, SimFault::TwoNoiseBytes, SimFault::TruncatedReply}) {
        scanner.AddFault({CMD_GET_INFO, fault, 1});
        const unsigned before = scanner.CommandsReceived();
        uint64_t ms = 0;
        EXPECT_EQ(TimedGetInfo(ms), RESULT_OK);
        EXPECT_EQ(scanner.CommandsReceived() - before, 2u) << int(fault);
        EXPECT_LE(ms, 2 * clean + kFrameMarginMs + kDrainQuietMs + 2) << int(fault);
    }
}

// Silence is the only thing the reply time-out is for, and it costs it once.
TEST_F(Link, AReplyThatNeverComesCostsOneTimeout)
{
    CSimScanner& scanner = Attach(kSpeed115200, kLongTimeoutMs);
    uint64_t clean = 0;
    ASSERT_EQ(TimedGetInfo(clean), RESULT_OK);
    scanner.AddFault({CMD_GET_INFO, SimFault::NoReply, 1});
    uint64_t ms = 0;
    EXPECT_EQ(TimedGetInfo(ms), RESULT_OK);
    EXPECT_GE(ms, kLongTimeoutMs);
    EXPECT_LE(ms, kLongTimeoutMs + clean + 1);
}

// The time-out bounds the wait for a reply's first byte, not the bytes' own time: the
// largest reply takes over a second at 2400 baud. A driver that completes each read
// with the bytes it has, before its time-out, is fine as well.
TEST_F(Link, ALongReplyOnASlowLineAndReadsCompletedEarly)
{
    Attach(0, 100);
    ports.SetEarlyReads(kPort, true);
    std::vector<uint8_t> memory(kMaxReadChunk);
    // 256 data bytes and the frame's three: 259 bytes, 1079 ms on the wire.
    EXPECT_EQ(protocol.ReadMemory(0x1000, memory.data(), kMaxReadChunk, nullptr, nullptr, kMaxReadChunk),
              RESULT_OK);
    EXPECT_EQ(memory, std::vector<uint8_t>(kMaxReadChunk, 0xFF));   // never written
    EXPECT_LT(host.NowMs(), 1200u);
}

// A pulled scanner (its line stops mid-reply and the port is gone) is told at once, with
// the port's name, instead of three time-outs of "no link".
TEST_F(Link, APortThatGoesMidReplyIsDisconnectedAtOnce)
{
    CSimScanner& scanner = Attach(kSpeed115200, kLongTimeoutMs);
    scanner.AddFault({CMD_GET_INFO, SimFault::CutLine, 1});
    uint64_t ms = 0;
    try {
        TimedGetInfo(ms);
        FAIL() << "no failure";
    } catch (const CComDevice::CDisconnected& e) {
        EXPECT_EQ(e.Text(), kDisconnectedText);
    }
    EXPECT_EQ(scanner.CommandsReceived(), 1u);
    EXPECT_LT(host.NowMs(), 100u);
    // The next command, and a configuration call, say the same.
    unsigned char reg[4];
    EXPECT_THROW(protocol.ReadModeRegister(reg), CComDevice::CDisconnected);
    EXPECT_THROW(device.SetBaudRate(9600), CComDevice::CDisconnected);
}
