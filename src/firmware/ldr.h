// The firmware container (.ldr): a signature, a format version and modules of
// address-tagged blocks, all little-endian, with no count, padding or checksum. The
// module data is opaque here: it is neither interpreted nor checked.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "base/host.h"

namespace ldr {

constexpr uint32_t kSignature = 0x52444C23;  // "#LDR" read as a little-endian word
constexpr uint16_t kFormatVersion = 0x0100;

enum module_kind : uint16_t {
    peripheral = 0,       // the ATmega
    computational = 1,    // the Blackfin application
    fpga = 2,
    blackfin_loader = 3,
};

struct block {
    uint32_t address = 0;       // scanner memory address of data[0]
    std::vector<uint8_t> data;  // exactly the module's block_size bytes
};

struct module {
    uint16_t kind = 0;
    uint16_t version = 0;  // high byte major, low byte minor
    uint32_t block_count = 0;
    uint32_t block_size = 0;
    std::vector<block> blocks;  // after a load: exactly block_count blocks
};

struct file {
    uint32_t signature = 0;
    uint16_t version = 0;
    std::vector<module> modules;  // in file order
};

enum error_code {
    invalid_signature = 0,
    new_version = 1,
    unknown_version = 2,
    stream_error = 3,
};

// A format failure found by the parser; load turns it into an ldr_exception.
struct error : std::exception {
    explicit error(int errorCode) : code(errorCode) {}
    const char* what() const noexcept override;
    int code;
};

// Loads the file at a UTF-8 path into out, replacing what out held. Throws
// ldr_exception for any fault of the file or its format; out is left untouched then.
// A header that declares more data than the file holds is a cut file: nothing is
// allocated for it.
void load(const std::string& path, file& out);

// The first module of the kind, in file order (the kind compared as 16 bits); null when
// there is none. Valid while the file object lives and its module list is unchanged.
const module* find_module(const file& f, unsigned kind);

// The bytes of a container. Throws std::invalid_argument for a module whose block list
// disagrees with its block count or block size, so the result always loads back.
std::vector<uint8_t> serialize(const file& f);

// Writes serialize(f) to a UTF-8 path. Throws std::runtime_error when it cannot.
void save(const std::string& path, const file& f);

}  // namespace ldr

// The reader's failure for the operator: the message of a string-table id.
class ldr_exception : public std::exception, public object_description {
public:
    explicit ldr_exception(unsigned textId);
    explicit ldr_exception(const ldr::error& e);
    unsigned TextId() const { return textId; }

private:
    unsigned textId;
};

// Display of a module on the firmware page.
unsigned ModuleKindTextId(uint16_t kind);  // 213 "unknown module" outside the table
std::string ModuleVersionText(uint16_t version);
// Image size in bytes (addresses not counted), block count x block size. Computed in
// 64 bits: the product of two 32-bit fields can exceed 32 bits.
std::string ModuleSizeText(const ldr::module& m);
uint64_t ModuleImageSize(const ldr::module& m);
