// ldr-make: builds firmware container files from binary images, for the demo and the
// tests. Each module is an image cut into equal blocks at consecutive addresses; the
// last block is padded with 0xFF, the value of erased flash.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/file_open.h"
#include "firmware/ldr.h"

namespace {

const char kUsage[] =
    "usage: ldr-make OUT.ldr MODULE...\n"
    "  --module KIND:VERSION:ADDRESS:BLOCKSIZE:IMAGEFILE\n"
    "        the image file cut into blocks of BLOCKSIZE bytes at ADDRESS,\n"
    "        ADDRESS+BLOCKSIZE, ...; the last block padded with 0xFF\n"
    "  --random KIND:VERSION:ADDRESS:BLOCKSIZE:SIZE:SEED\n"
    "        the same with SIZE pseudo-random bytes made from SEED (the same\n"
    "        seed gives the same bytes on every system)\n"
    "  --help  this text\n"
    "KIND: 0 peripheral, 1 computational, 2 FPGA, 3 Blackfin loader, or any\n"
    "16-bit value. VERSION: MAJOR.MINOR or a 16-bit number. Numbers are decimal\n"
    "or 0x-prefixed hexadecimal. Modules are written in the order given.\n";

constexpr uint8_t kErasedByte = 0xFF;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

uint64_t ParseNumber(const std::string& text, uint64_t max, const char* what)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const int base = hex ? 16 : 10;
    if (digits.empty() || digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos)
        throw UsageError(std::string("bad ") + what + ": '" + text + "'");
    uint64_t value = 0;
    for (char c : digits) {
        const unsigned digit = (c >= '0' && c <= '9') ? unsigned(c - '0') : unsigned((c | 0x20) - 'a' + 10);
        if (value > (max - digit) / base)
            throw UsageError(std::string(what) + " too large: '" + text + "'");
        value = value * base + digit;
    }
    return value;
}

uint16_t ParseVersion(const std::string& text)
{
    const size_t dot = text.find('.');
    if (dot == std::string::npos)
        return static_cast<uint16_t>(ParseNumber(text, 0xFFFF, "version"));
    const uint64_t major = ParseNumber(text.substr(0, dot), 0xFF, "major version");
    const uint64_t minor = ParseNumber(text.substr(dot + 1), 0xFF, "minor version");
    return static_cast<uint16_t>((major << 8) | minor);
}

// Splits the first count - 1 fields at colons; the last field keeps any colons (a
// Windows path such as C:\images\app.bin).
std::vector<std::string> SplitFields(const std::string& text, size_t count, const char* option)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < count) {
        const size_t colon = text.find(':', start);
        if (colon == std::string::npos)
            throw UsageError(std::string(option) + " needs " + std::to_string(count) + " fields: '" + text + "'");
        fields.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    fields.push_back(text.substr(start));
    return fields;
}

std::vector<uint8_t> ReadImage(const std::string& path)
{
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file(OpenFileUtf8(path, "rb"));
    if (!file)
        throw std::runtime_error("cannot open image " + path + ": " + std::strerror(errno));
    std::vector<uint8_t> image;
    uint8_t buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        image.insert(image.end(), buffer, buffer + got);
    if (std::ferror(file.get()))
        throw std::runtime_error("cannot read image " + path);
    return image;
}

std::vector<uint8_t> RandomImage(uint64_t size, uint32_t seed)
{
    // The raw engine output is fixed by the standard; distributions are not.
    std::mt19937 engine(seed);
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < image.size(); i += 4) {
        const uint32_t word = engine();
        for (size_t j = 0; j < 4 && i + j < image.size(); ++j)
            image[i + j] = static_cast<uint8_t>(word >> (8 * j));
    }
    return image;
}

ldr::module MakeModule(const std::vector<std::string>& fields, const std::vector<uint8_t>& image)
{
    ldr::module m;
    m.kind = static_cast<uint16_t>(ParseNumber(fields[0], 0xFFFF, "kind"));
    m.version = ParseVersion(fields[1]);
    const uint64_t address = ParseNumber(fields[2], 0xFFFFFFFF, "address");
    m.block_size = static_cast<uint32_t>(ParseNumber(fields[3], 0xFFFFFFFF, "block size"));
    if (m.block_size == 0)
        throw UsageError("block size must not be 0");

    const uint64_t count = (image.size() + m.block_size - 1) / m.block_size;
    if (count > 0xFFFFFFFF || (count != 0 && address + count * m.block_size - 1 > 0xFFFFFFFF))
        throw UsageError("the image does not fit below 4 GiB from address " + fields[2]);
    m.block_count = static_cast<uint32_t>(count);
    for (uint64_t i = 0; i < count; ++i) {
        ldr::block b;
        b.address = static_cast<uint32_t>(address + i * m.block_size);
        const size_t from = static_cast<size_t>(i * m.block_size);
        const size_t to = std::min(image.size(), from + m.block_size);
        b.data.assign(image.begin() + from, image.begin() + to);
        b.data.resize(m.block_size, kErasedByte);
        m.blocks.push_back(std::move(b));
    }
    return m;
}

int Run(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2 || argv[1][0] == '-')
        throw UsageError("the first argument is the output file");

    ldr::file container;
    container.signature = ldr::kSignature;
    container.version = ldr::kFormatVersion;
    for (int i = 2; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            throw UsageError(option + " needs a value");
        const std::string value = argv[++i];
        if (option == "--module") {
            const std::vector<std::string> fields = SplitFields(value, 5, "--module");
            container.modules.push_back(MakeModule(fields, ReadImage(fields[4])));
        } else if (option == "--random") {
            const std::vector<std::string> fields = SplitFields(value, 6, "--random");
            const uint64_t size = ParseNumber(fields[4], uint64_t(1) << 32, "size");
            const uint32_t seed = static_cast<uint32_t>(ParseNumber(fields[5], 0xFFFFFFFF, "seed"));
            container.modules.push_back(MakeModule(fields, RandomImage(size, seed)));
        } else {
            throw UsageError("unknown option " + option);
        }
    }
    ldr::save(argv[1], container);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return Run(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "ldr-make: %s (see ldr-make --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ldr-make: %s\n", e.what());
        return 1;
    }
}
