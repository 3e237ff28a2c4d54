#include "base/sha256.h"

std::string HexDigest(const std::array<uint8_t, 32>& digest)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}
