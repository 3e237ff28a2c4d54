#include "sim/sim_memory.h"

#include <algorithm>

void CSimMemory::Write(uint32_t address, const uint8_t* data, size_t size)
{
    ForEachSpan(address, size, [&](uint32_t index, uint32_t offset, size_t done, size_t n) {
        auto it = pages.find(index);
        if (it == pages.end()) {
            it = pages.emplace(index, Page{}).first;
            it->second.data.fill(0xFF);
        }
        Page& page = it->second;
        for (size_t i = 0; i < n; ++i) {
            if (!page.written[offset + i]) {
                page.written[offset + i] = true;
                ++writtenBytes;
            }
        }
        std::copy_n(data + done, n, page.data.begin() + offset);
    });
}

uint8_t CSimMemory::Read(uint32_t address) const
{
    auto it = pages.find(address >> kPageBits);
    if (it == pages.end())
        return 0xFF;
    return it->second.data[address & (kPageSize - 1)];
}

std::vector<uint8_t> CSimMemory::Read(uint32_t address, size_t size) const
{
    std::vector<uint8_t> out(size, 0xFF);
    // A page at a time: an image of megabytes is summarised after every command.
    ForEachSpan(address, size, [&](uint32_t index, uint32_t offset, size_t done, size_t n) {
        auto it = pages.find(index);
        if (it != pages.end())
            std::copy_n(it->second.data.begin() + offset, n, out.begin() + done);
    });
    return out;
}

bool CSimMemory::Written(uint32_t address) const
{
    auto it = pages.find(address >> kPageBits);
    return it != pages.end() && it->second.written[address & (kPageSize - 1)];
}

std::vector<CSimMemory::Range> CSimMemory::Ranges() const
{
    std::vector<Range> ranges;
    auto add = [&ranges](uint32_t a, uint32_t n) {
        if (!ranges.empty() && ranges.back().address + ranges.back().size == a)
            ranges.back().size += n;
        else
            ranges.push_back(Range{a, n});
    };
    for (const auto& [index, page] : pages) {
        const uint32_t base = index << kPageBits;
        if (page.written.all()) {
            add(base, kPageSize);
            continue;
        }
        for (uint32_t offset = 0; offset < kPageSize; ++offset) {
            if (page.written[offset])
                add(base + offset, 1);
        }
    }
    return ranges;
}

void CSimMemory::Clear()
{
    pages.clear();
    writtenBytes = 0;
}

bool CSimMemory::operator==(const CSimMemory& other) const
{
    if (writtenBytes != other.writtenBytes || pages.size() != other.pages.size())
        return false;
    for (auto a = pages.begin(), b = other.pages.begin(); a != pages.end(); ++a, ++b) {
        if (a->first != b->first || a->second.written != b->second.written)
            return false;
        for (uint32_t offset = 0; offset < kPageSize; ++offset) {
            if (a->second.written[offset] && a->second.data[offset] != b->second.data[offset])
                return false;
        }
    }
    return true;
}

uint32_t SimCrc32(const uint8_t* data, size_t size)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int bit = 0; bit < 8; ++bit)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
    return ~crc;
}
