// Firmware containers made in memory for the tests: a module of equal blocks laid one
// after another from a base address, its bytes drawn by a function of the block and the
// byte's index, and the file that holds modules.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware/ldr.h"

using BlockFill = std::function<uint8_t(uint32_t block, uint32_t index)>;

inline ldr::module BuildModule(uint16_t kind, uint16_t version, uint32_t address,
                               uint32_t blockSize, uint32_t blocks, const BlockFill& fill)
{
    ldr::module m;
    m.kind = kind;
    m.version = version;
    m.block_count = blocks;
    m.block_size = blockSize;
    for (uint32_t b = 0; b < blocks; ++b) {
        ldr::block block;
        block.address = address + b * blockSize;
        for (uint32_t i = 0; i < blockSize; ++i)
            block.data.push_back(fill(b, i));
        m.blocks.push_back(std::move(block));
    }
    return m;
}

// The module's bytes in block order, without the addresses.
inline std::vector<uint8_t> ModuleImage(const ldr::module& m)
{
    std::vector<uint8_t> image;
    for (const ldr::block_ref b : m.blocks)
        image.insert(image.end(), b.data.begin(), b.data.end());
    return image;
}

inline ldr::file BuildFile(std::vector<ldr::module> modules)
{
    ldr::file f;
    f.signature = ldr::kSignature;
    f.version = ldr::kFormatVersion;
    f.modules = std::move(modules);
    return f;
}
