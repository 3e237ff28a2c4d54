// The firmware container (.ldr): a signature, a format version and modules of
// address-tagged blocks, all little-endian, with no count, padding or checksum. The
// module data is opaque here: it is neither interpreted nor checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/host.h"

namespace ldr {

constexpr uint32_t kSignature = 0x52444C23;  // "#LDR" read as a little-endian word
constexpr uint16_t kFormatVersion = 0x0100;

// Bounds of what the reader takes. A scanner's whole address space for its programs is
// 16 MiB and a real container holds a few modules of at most a few MB, so a larger file
// or one with more modules is not firmware for any scanner. With these bounds the
// reader's memory stays within the file's size plus kMaxModules module records.
constexpr uint64_t kMaxFileSize = 32ull * 1024 * 1024;
constexpr unsigned kMaxModules = 256;

enum module_kind : uint16_t {
    peripheral = 0,       // the ATmega
    computational = 1,    // the Blackfin application
    fpga = 2,
    blackfin_loader = 3,
};

// A block as a writer builds it.
struct block {
    uint32_t address = 0;       // scanner memory address of data[0]
    std::vector<uint8_t> data;  // exactly the module's block_size bytes
};

// Bytes held elsewhere.
struct byte_span {
    const uint8_t* bytes = nullptr;
    size_t count = 0;
    const uint8_t* data() const { return bytes; }
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    const uint8_t* begin() const { return bytes; }
    const uint8_t* end() const { return bytes + count; }
    bool operator==(const byte_span& o) const;
    bool operator!=(const byte_span& o) const { return !(*this == o); }
};

// A stored block: its address and its bytes, valid while the module is unchanged.
struct block_ref {
    uint32_t address;
    byte_span data;
};

// A module's blocks stored compactly: one array of addresses and one of the bytes of
// all blocks, so that memory grows exactly as the file does (a block of the file takes
// its 4 address bytes and its data, nothing more). Every block has the same size.
class block_list {
public:
    class iterator {
    public:
        iterator(const block_list* list, size_t index) : list(list), index(index) {}
        block_ref operator*() const { return (*list)[index]; }
        iterator& operator++() { ++index; return *this; }
        bool operator!=(const iterator& o) const { return index != o.index; }
        bool operator==(const iterator& o) const { return index == o.index; }

    private:
        const block_list* list;
        size_t index;
    };

    block_list() = default;
    block_list(std::initializer_list<block> list)
    {
        for (const block& b : list)
            push_back(b);
    }

    size_t size() const { return addresses.size(); }
    bool empty() const { return addresses.empty(); }
    // The size of every block (0 while the list is empty).
    size_t block_size() const { return stride; }
    block_ref operator[](size_t index) const;
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, size()); }

    // Throws std::invalid_argument for a block whose size differs from the others'.
    void push_back(const block& b);
    void push_back(uint32_t address, const uint8_t* data, size_t size);
    // Adds a block of size zero bytes and returns where its bytes are, so a reader can
    // fill it in place without a second copy.
    uint8_t* append(uint32_t address, size_t size);
    void pop_back();
    void clear();
    // Room for count blocks of size bytes each, so a load allocates exactly once.
    void reserve(size_t count, size_t size);

private:
    std::vector<uint32_t> addresses;
    std::vector<uint8_t> bytes;
    size_t stride = 0;
};

struct module {
    uint16_t kind = 0;
    uint16_t version = 0;  // high byte major, low byte minor
    uint32_t block_count = 0;
    uint32_t block_size = 0;
    block_list blocks;  // after a load: exactly block_count blocks
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
// Only a regular file is read (a folder, FIFO or device is refused without waiting on
// it), of at most kMaxFileSize bytes and kMaxModules modules. A header that declares
// more data than the file holds is a cut file: nothing is allocated for it.
void load(const std::string& path, file& out);

// The same checks as load, but the modules keep only their headers: no block is
// stored (blocks stays empty), for listing a file's modules.
void load_headers(const std::string& path, file& out);

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
    // A message of the id made with the file's particulars (its name, its size).
    ldr_exception(unsigned textId, std::string text);
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
