// sim-line: sends one request packet on a serial port at a given baud and shows what
// comes back, below the protocol layer (no retries, no purge, no echo check). For
// end-to-end checks of the simulator and for looking at a real line.
//
//   sim-line PORT BAUD[/READ_BAUD] TIMEOUT_MS OPCODE [PARAM...]   (numbers decimal or 0x-hex)
//
// With READ_BAUD the port moves to that speed kSwitchDelayMs after the request is written,
// to read a reply sent at one speed with the receiver at another.
//
// Prints one line: "reply" and the reply's data bytes (echo, status, payload) in hex,
// "garbage" and the bytes received when they hold no valid packet, or "silent". Exit
// code 0 for a reply, 1 for garbage or silence, 2 for a usage or port error.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/host.h"
#include "sim/sim_frames.h"
#include "transport/port_system.h"

namespace {

constexpr uint32_t kGapMs = 50;   // the reply is over once the line is quiet this long
constexpr unsigned kMaxReply = 600;
constexpr uint32_t kSwitchDelayMs = 100;

bool Number(const char* text, unsigned long limit, unsigned long& value)
{
    char* end = nullptr;
    value = std::strtoul(text, &end, 0);
    return *text != '\0' && *text != '-' && *end == '\0' && value <= limit;
}

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string text;
    char item[4];
    for (uint8_t b : bytes) {
        std::snprintf(item, sizeof item, " %02X", b);
        text += item;
    }
    return text;
}

int Fail(const char* what, uint32_t error)
{
    std::fprintf(stderr, "sim-line: %s failed with system error %u\n", what, error);
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned long baud = 0, readBaud = 0, timeoutMs = 0, opcode = 0;
    std::string bauds = argc > 2 ? argv[2] : "";
    const size_t slash = bauds.find('/');
    const std::string sendText = bauds.substr(0, slash);
    const std::string readText = slash == std::string::npos ? sendText : bauds.substr(slash + 1);
    if (argc < 5 || !Number(sendText.c_str(), 4000000, baud) || baud == 0 ||
        !Number(readText.c_str(), 4000000, readBaud) || readBaud == 0 ||
        !Number(argv[3], 600000, timeoutMs) || !Number(argv[4], 255, opcode)) {
        std::fputs("usage: sim-line PORT BAUD[/READ_BAUD] TIMEOUT_MS OPCODE [PARAM...]\n", stderr);
        return 2;
    }
    std::vector<uint8_t> params;
    for (int i = 5; i < argc; ++i) {
        unsigned long value = 0;
        if (!Number(argv[i], 255, value)) {
            std::fprintf(stderr, "sim-line: bad parameter byte %s\n", argv[i]);
            return 2;
        }
        params.push_back(static_cast<uint8_t>(value));
    }

    std::unique_ptr<CPortHandle> port;
    if (uint32_t e = NativePortSystem().OpenPort(argv[1], port))
        return Fail("open", e);
    CPortState state;
    state.baudRate = static_cast<uint32_t>(baud);
    if (uint32_t e = port->SetState(state))
        return Fail("line setup", e);
    const CPortTimeouts timeouts{kGapMs, 0, static_cast<uint32_t>(timeoutMs), 0, 1000};
    if (uint32_t e = port->SetTimeouts(timeouts))
        return Fail("time-out setup", e);

    const std::vector<uint8_t> request = SimRequest(static_cast<uint8_t>(opcode), params);
    unsigned done = 0;
    if (uint32_t e = port->Write(request.data(), unsigned(request.size()), &done))
        return Fail("write", e);
    if (readBaud != baud) {
        PlatformHost().Sleep(kSwitchDelayMs);
        state.baudRate = static_cast<uint32_t>(readBaud);
        if (uint32_t e = port->SetState(state))
            return Fail("line setup", e);
    }
    // Byte by byte, so that a complete packet ends the read at once: a USB scanner that
    // restarts drops off the bus right after its reply.
    std::vector<uint8_t> received;
    while (received.size() < kMaxReply && !SimParseReply(received).framed) {
        if (received.size() == 1) {
            const CPortTimeouts between{kGapMs, 0, kGapMs, 0, 1000};
            if (uint32_t e = port->SetTimeouts(between))
                return Fail("time-out setup", e);
        }
        uint8_t b = 0;
        if (uint32_t e = port->Read(&b, 1, &done))
            return Fail("read", e);
        if (done == 0)
            break;
        received.push_back(b);
    }

    const SimReply reply = SimParseReply(received);
    if (reply.framed) {
        std::printf("reply%s\n", Hex(reply.data).c_str());
        return 0;
    }
    std::printf("%s%s\n", received.empty() ? "silent" : "garbage", Hex(received).c_str());
    return 1;
}
