// The scanner's memory as the simulator keeps it: sparse pages allocated on the first
// write, so a multi-megabyte firmware image costs its own size and an untouched address
// space costs nothing. Bytes never written read as 0xFF, like erased flash.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

class CSimMemory {
public:
    struct Range {
        uint32_t address;
        uint32_t size;
    };

    void Write(uint32_t address, const uint8_t* data, size_t size);
    uint8_t Read(uint32_t address) const;
    // size bytes from address; 0xFF where never written. Wraps at 2^32 like an address bus.
    std::vector<uint8_t> Read(uint32_t address, size_t size) const;
    bool Written(uint32_t address) const;
    // The runs of written bytes, in address order, each as long as possible.
    std::vector<Range> Ranges() const;
    uint64_t WrittenBytes() const { return writtenBytes; }
    bool Empty() const { return writtenBytes == 0; }
    void Clear();

    // Same addresses written with the same values (unwritten bytes do not compare).
    bool operator==(const CSimMemory& other) const;
    bool operator!=(const CSimMemory& other) const { return !(*this == other); }

private:
    static constexpr uint32_t kPageBits = 12;
    static constexpr uint32_t kPageSize = 1u << kPageBits;
    struct Page {
        std::array<uint8_t, kPageSize> data;
        std::bitset<kPageSize> written;
    };
    std::map<uint32_t, Page> pages;   // keyed by address >> kPageBits

    // Splits size bytes from address at page boundaries (wrapping at 2^32) and calls
    // span(page index, offset in the page, bytes before this span, span length).
    template <typename Span>
    static void ForEachSpan(uint32_t address, size_t size, Span span)
    {
        size_t done = 0;
        while (done < size) {
            const uint32_t a = address + static_cast<uint32_t>(done);
            const uint32_t offset = a & (kPageSize - 1);
            const size_t n = size - done < kPageSize - offset ? size - done : kPageSize - offset;
            span(a >> kPageBits, offset, done, n);
            done += n;
        }
    }
    uint64_t writtenBytes = 0;
};

// CRC-32 (IEEE 802.3, as zip uses it) of a byte range, for state summaries.
uint32_t SimCrc32(const uint8_t* data, size_t size);
