// A bench for driving the simulated scanner directly: frames requests, collects and
// parses replies, and keeps a clock, without the protocol layer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/sim_frames.h"
#include "sim/sim_scanner.h"

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
