// SHA-256 of a byte stream, for naming exactly which firmware file went into a scanner.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class CSha256 {
public:
    CSha256();
    void Update(const void* data, size_t size);
    // The digest; the object is spent afterwards.
    std::array<uint8_t, 32> Finish();

private:
    void Block(const uint8_t* p);

    std::array<uint32_t, 8> state;
    std::array<uint8_t, 64> buffer{};
    size_t buffered = 0;
    uint64_t totalBytes = 0;
};

// Lower-case hex of a digest.
std::string HexDigest(const std::array<uint8_t, 32>& digest);
