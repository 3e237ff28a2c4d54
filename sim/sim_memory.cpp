#include "sim/sim_memory.h"

void CSimMemory::Write(uint32_t address, const uint8_t* data, size_t size)
{
    for (size_t i = 0; i < size; ++i) {
        const uint32_t a = address + static_cast<uint32_t>(i);
        auto it = pages.find(a >> kPageBits);
        if (it == pages.end()) {
            it = pages.emplace(a >> kPageBits, Page{}).first;
            it->second.data.fill(0xFF);
        }
        Page& page = it->second;
        const uint32_t offset = a & (kPageSize - 1);
        if (!page.written[offset]) {
            page.written[offset] = true;
            ++writtenBytes;
        }
        page.data[offset] = data[i];
    }
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
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = Read(address + static_cast<uint32_t>(i));
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
    for (const auto& [index, page] : pages) {
        const uint32_t base = index << kPageBits;
        for (uint32_t offset = 0; offset < kPageSize; ++offset) {
            if (!page.written[offset])
                continue;
            const uint32_t a = base + offset;
            if (!ranges.empty() && ranges.back().address + ranges.back().size == a)
                ++ranges.back().size;
            else
                ranges.push_back(Range{a, 1});
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
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}
