// A bench for driving the simulated scanner directly: frames requests, collects and
// parses replies, and keeps a clock, without the protocol layer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/sim_scanner.h"

struct SimReply {
    bool framed = false;          // a well-formed reply packet was found
    std::vector<uint8_t> data;    // echo, status, payload
    uint8_t Status() const { return data.size() > 1 ? data[1] : 0xFF; }
    std::vector<uint8_t> Payload() const
    {
        return data.size() > 2 ? std::vector<uint8_t>(data.begin() + 2, data.end())
                               : std::vector<uint8_t>{};
    }
};

inline std::vector<uint8_t> SimRequest(uint8_t opcode, const std::vector<uint8_t>& params = {})
{
    std::vector<uint8_t> frame{0x02, static_cast<uint8_t>(params.size() + 1), opcode};
    uint8_t checksum = frame[1] ^ opcode;
    for (uint8_t b : params) {
        frame.push_back(b);
        checksum ^= b;
    }
    frame.push_back(checksum);
    return frame;
}

// Parses one reply packet, allowing any bytes before the start byte.
inline SimReply SimParseReply(const std::vector<uint8_t>& bytes)
{
    SimReply reply;
    size_t i = 0;
    while (i < bytes.size() && bytes[i] != 0x02)
        ++i;
    if (i + 2 > bytes.size())
        return reply;
    const uint8_t length = bytes[i + 1];
    const size_t n = length == 0 ? 256 : length;
    if (i + 2 + n + 1 > bytes.size())
        return reply;
    uint8_t checksum = length;
    for (size_t k = 0; k < n; ++k)
        checksum ^= bytes[i + 2 + k];
    if (checksum != bytes[i + 2 + n])
        return reply;
    reply.framed = true;
    reply.data.assign(bytes.begin() + i + 2, bytes.begin() + i + 2 + n);
    return reply;
}

class SimBench {
public:
    explicit SimBench(SimConfig config = {}) : scanner(std::move(config)), baud(scanner.Baud()) {}

    void Send(const std::vector<uint8_t>& bytes)
    {
        scanner.Receive(bytes.data(), bytes.size(), baud, now);
    }

    // Reads every byte the scanner sends, each at its time, moving the clock along.
    std::vector<uint8_t> Collect()
    {
        std::vector<uint8_t> out;
        while (auto at = scanner.NextByteAtUs()) {
            now = std::max(now, *at);
            uint8_t b = 0;
            if (scanner.Transmit(&b, 1, baud, now) == 1)
                out.push_back(b);
        }
        return out;
    }

    std::vector<uint8_t> Raw(uint8_t opcode, const std::vector<uint8_t>& params = {})
    {
        Send(SimRequest(opcode, params));
        return Collect();
    }

    SimReply Command(uint8_t opcode, const std::vector<uint8_t>& params = {})
    {
        return SimParseReply(Raw(opcode, params));
    }

    std::vector<uint8_t> Register()
    {
        return Command(0x9F).Payload();
    }

    void Wait(uint64_t ms)
    {
        now += ms * 1000;
        scanner.Advance(now);
    }

    CSimScanner scanner;
    uint32_t baud;
    uint64_t now = 1000000;
};
