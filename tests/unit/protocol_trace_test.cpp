#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "base/trace.h"
#include "protocol/scanner_protocol.h"
#include "sim/virtual_host.h"
#include "support/scripted_device.h"

namespace {

using Bytes = CScriptedDevice::Bytes;

// A trace into a list of lines, on a clock that moves 5 us per reading.
struct CollectedTrace {
    std::vector<std::string> lines;
    uint64_t now = 1000;
    CTraceWriter writer{[this](const std::string& line) { lines.push_back(line); },
                        [this] { return now += 5; }};
};

class TracedDevice : public CScriptedDevice {
public:
    using CScriptedDevice::CScriptedDevice;
    CTraceSink* Trace() const override { return sink; }
    std::string TraceName() const override { return "COM7"; }
    CTraceSink* sink = nullptr;
};

}  // namespace

TEST(TraceWriter, LinesCarryTimePortDirectionBytesCommandAndStatus)
{
    CollectedTrace trace;
    const unsigned char request[] = {0x02, 0x02, 0x9E, 0x00, 0x9C};
    const unsigned char reply[] = {0x02, 0x03, 0x9E, 0x08, 0xAB, 0x3E};
    trace.writer.Frame("COM7", TraceDirection::Sent, request, sizeof request, "get-info",
                       kTraceNoStatus, nullptr);
    trace.writer.Frame("COM7", TraceDirection::Received, reply, sizeof reply, "get-info", 8,
                       nullptr);
    trace.writer.Frame("COM7", TraceDirection::Received, reply, 3, "?", kTraceNoStatus,
                       "incomplete");
    trace.writer.Frame("COM7", TraceDirection::Received, nullptr, 0, "?", kTraceNoStatus,
                       "no reply");
    trace.writer.Event("/dev/ttyUSB0", "speed 115200");
    EXPECT_EQ(trace.lines, (std::vector<std::string>{
                               "5\tCOM7\t>\t02029e009c\tget-info\n",
                               "10\tCOM7\t<\t02039e08ab3e\tget-info\tstatus=8\n",
                               "15\tCOM7\t<\t02039e\t?\tincomplete\n",
                               "20\tCOM7\t<\t-\t?\tno reply\n",
                               "25\t/dev/ttyUSB0\t*\tspeed 115200\n",
                           }));
}

TEST(TraceWriter, LinesOfSeveralThreadsStayWholeAndInTimeOrder)
{
    std::vector<std::string> lines;
    std::atomic<uint64_t> clock{0};
    CTraceWriter writer([&](const std::string& line) { lines.push_back(line); },
                        [&] { return clock++; });
    const unsigned char frame[200] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                writer.Frame("P" + std::to_string(t), TraceDirection::Sent, frame, sizeof frame,
                             "write-memory", kTraceNoStatus, nullptr);
        });
    for (std::thread& t : threads)
        t.join();
    ASSERT_EQ(lines.size(), 800u);
    uint64_t last = 0;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.size(), line.find('\t') + 4 + 400 + 14 + 1 + 1) << line;
        const uint64_t time = std::stoull(line);
        EXPECT_GE(time, last);
        last = time;
    }
}

TEST(ProtocolTrace, EveryFrameOfAnExchangeIsTracedAsItWentOverTheLine)
{
    CVirtualHost host;
    TracedDevice device(&host, 100);
    CollectedTrace trace;
    device.sink = &trace.writer;
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    const unsigned char selector = 0;
    unsigned char reply[5];

    // Busy, then a reply behind a stray byte, then good.
    device.Script(CMD_GET_INFO, CScriptedDevice::Busy());
    device.Script(CMD_GET_INFO, CScriptedDevice::Ok({1, 2, 3, 4, 5}).WithNoise({0x55}));
    ASSERT_EQ(protocol.Execute(CMD_GET_INFO, reply, 5, &selector, 1), RESULT_OK);
    // A broken checksum, then silence on both retries.
    device.Script(CMD_MODE_REGISTER, CScriptedDevice::Ok({0}).WithBadChecksum());
    EXPECT_EQ(protocol.Execute(CMD_MODE_REGISTER, reply, 1, nullptr, 0), RESULT_NO_LINK);

    std::vector<std::string> frames;
    for (const std::string& line : trace.lines)
        frames.push_back(line.substr(line.find('\t') + 1));
    EXPECT_EQ(frames, (std::vector<std::string>{
                          "COM7\t>\t02029e009c\tget-info\n",
                          "COM7\t<\t02029e029e\tget-info\tstatus=2\n",
                          "COM7\t>\t02029e009c\tget-info\n",
                          "COM7\t<\t5502079e00010203040598\tget-info\tstatus=0\n",
                          "COM7\t>\t02019f9e\tmode-register\n",
                          "COM7\t<\t02039f0000" + std::string("39") + "\tmode-register\tstatus=0\tbroken\n",
                          "COM7\t>\t02019f9e\tmode-register\n",
                          "COM7\t<\t-\t?\tno reply\n",
                          "COM7\t>\t02019f9e\tmode-register\n",
                          "COM7\t<\t-\t?\tno reply\n",
                      }));
}
