// Request and reply packets as the scanner sees them, for tests and tools that talk to
// the simulator below the protocol layer.
#pragma once

#include <cstdint>
#include <vector>

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
