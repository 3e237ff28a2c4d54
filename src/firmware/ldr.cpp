#include "firmware/ldr.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "base/file_open.h"
#include "base/strings.h"
#include "base/system_error.h"
#include "base/utf.h"

namespace {

constexpr size_t kFileHeaderSize = 6;
constexpr size_t kModuleHeaderSize = 12;
constexpr size_t kBlockAddressSize = 4;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A buffered input that remembers the first short or failed read, and knows how many
// bytes the file still holds so that no header can make it allocate beyond them.
class InputStream {
public:
    InputStream(std::FILE* f, uint64_t fileSize) : file(f), size(fileSize) {}

    bool Read(void* buffer, size_t count)
    {
        if (failed)
            return false;
        if (count != 0 && std::fread(buffer, 1, count, file) != count) {
            failed = true;
            readError = std::ferror(file) != 0;
        } else {
            consumed += count;
        }
        return !failed;
    }

    // True at the end of the file; a read error there also marks the stream failed.
    bool AtEnd()
    {
        const int c = std::getc(file);
        if (c == EOF) {
            if (std::ferror(file))
                failed = readError = true;
            return true;
        }
        std::ungetc(c, file);
        return false;
    }

    // Passes over count bytes without storing them.
    bool Skip(uint64_t count)
    {
        if (failed)
            return false;
        // Within the file, and so within kMaxFileSize: fits a long on every platform.
        if (count > Remaining()) {
            failed = true;
        } else if (count != 0 && std::fseek(file, static_cast<long>(count), SEEK_CUR) != 0) {
            failed = readError = true;
        } else {
            consumed += count;
        }
        return !failed;
    }

    bool Failed() const { return failed; }
    // The system failed a read (rather than the file ending too soon).
    bool ReadError() const { return readError; }
    uint64_t Remaining() const { return size > consumed ? size - consumed : 0; }

private:
    std::FILE* file;
    uint64_t size;
    uint64_t consumed = 0;
    bool failed = false;
    bool readError = false;
};

// block_count x (4 + block_size) <= available, without overflowing 64 bits.
bool BlocksFit(uint32_t blockCount, uint32_t blockSize, uint64_t available)
{
    if (blockCount == 0)
        return true;
    const uint64_t recordSize = kBlockAddressSize + uint64_t(blockSize);
    return recordSize <= available / blockCount;
}

void ReadModule(InputStream& in, ldr::module& m, bool withBlocks)
{
    uint8_t header[kModuleHeaderSize];
    if (!in.Read(header, sizeof header))
        throw ldr::error(ldr::stream_error);
    m.kind = Get16(header);
    m.version = Get16(header + 2);
    m.block_count = Get32(header + 4);
    m.block_size = Get32(header + 8);
    if (!BlocksFit(m.block_count, m.block_size, in.Remaining()))
        throw ldr::error(ldr::stream_error);

    if (!withBlocks) {
        if (!in.Skip(uint64_t(m.block_count) * (kBlockAddressSize + uint64_t(m.block_size))))
            throw ldr::error(ldr::stream_error);
        return;
    }
    m.blocks.reserve(m.block_count, m.block_size);
    for (uint32_t k = 0; k < m.block_count; ++k) {
        uint8_t address[kBlockAddressSize];
        if (!in.Read(address, sizeof address))
            throw ldr::error(ldr::stream_error);
        if (!in.Read(m.blocks.append(Get32(address), m.block_size), m.block_size))
            throw ldr::error(ldr::stream_error);
    }
}

// Thrown when the file has more modules than any scanner's firmware.
struct TooManyModules {};

void Parse(InputStream& in, ldr::file& out, bool withBlocks)
{
    uint8_t header[kFileHeaderSize];
    if (!in.Read(header, sizeof header))
        throw ldr::error(ldr::stream_error);
    out.signature = Get32(header);
    out.version = Get16(header + 4);
    if (out.signature != ldr::kSignature)
        throw ldr::error(ldr::invalid_signature);
    out.modules.clear();
    if (out.version > ldr::kFormatVersion)
        throw ldr::error(ldr::new_version);
    if (out.version < ldr::kFormatVersion)
        throw ldr::error(ldr::unknown_version);

    while (!in.AtEnd()) {
        if (out.modules.size() == ldr::kMaxModules)
            throw TooManyModules();
        out.modules.emplace_back();
        ReadModule(in, out.modules.back(), withBlocks);
    }
    if (in.Failed())
        throw ldr::error(ldr::stream_error);
}

unsigned TextIdOfError(int code)
{
    switch (code) {
    case ldr::invalid_signature: return IDS_LDR_BAD_SIGNATURE;
    case ldr::new_version: return IDS_LDR_NEW_VERSION;
    case ldr::unknown_version: return IDS_LDR_UNKNOWN_VERSION;
    case ldr::stream_error: return IDS_LDR_IO_ERROR;
    default: return IDS_LDR_UNKNOWN_ERROR;
    }
}

}  // namespace

namespace ldr {

const char* error::what() const noexcept
{
    switch (code) {
    case invalid_signature: return "invalid signature";
    case new_version: return "new version";
    case unknown_version: return "unknown version";
    case stream_error: return "stream error";
    default: return "unknown error_code";
    }
}

namespace {

// A message of the reader followed by the file it is about.
ldr_exception FileError(unsigned textId, const std::string& message, const std::string& path)
{
    return ldr_exception(textId, AppendSentence(message, StringPrintf(LoadText(IDS_FILE_NAMED),
                                                                      path.c_str())));
}

// The name as the operator can read it: bytes that are not UTF-8 shown as \xNN.
std::string ShownName(const std::string& path)
{
    std::string shown;
    for (size_t i = 0; i < path.size();) {
        const size_t length = ValidUtf8SequenceLength(path, i);
        if (length == 0) {
            shown += StringPrintf("\\x%02X", unsigned(static_cast<uint8_t>(path[i])));
            ++i;
        } else {
            shown.append(path, i, length);
            i += length;
        }
    }
    return shown;
}

void LoadFile(const std::string& path, file& out, bool withBlocks)
{
    if (path.empty())
        throw ldr_exception(IDS_LDR_BAD_NAME);
    // Names are UTF-8 everywhere in the program; any other bytes would be shown as
    // garbage, or on Windows name no file at all.
    if (!IsValidUtf8(path))
        throw ldr_exception(IDS_LDR_NAME_NOT_UTF8,
                            StringPrintf(LoadText(IDS_LDR_NAME_NOT_UTF8), ShownName(path).c_str()));
    FileOpenError reason = FileOpenError::None;
    FilePtr handle(OpenRegularFileUtf8(path, &reason));
    if (!handle) {
        if (reason == FileOpenError::NotRegular)
            throw ldr_exception(IDS_LDR_NOT_REGULAR,
                                StringPrintf(LoadText(IDS_LDR_NOT_REGULAR), path.c_str()));
        if (reason == FileOpenError::NotFound)
            throw FileError(IDS_LDR_NOT_FOUND, LoadText(IDS_LDR_NOT_FOUND), path);
        throw FileError(IDS_LDR_OPEN_FAILED,
                        std::string(LoadText(IDS_LDR_OPEN_FAILED)) + ": " + ErrnoText(errno), path);
    }

    // An unknown size leaves no room for any module, so nothing is ever allocated
    // on a header's word alone.
    const int64_t size = OpenFileSize(handle.get());
    if (size > 0 && uint64_t(size) > kMaxFileSize)
        throw ldr_exception(IDS_LDR_TOO_LARGE,
                            StringPrintf(LoadText(IDS_LDR_TOO_LARGE), path.c_str(),
                                         static_cast<unsigned long long>(size),
                                         static_cast<unsigned long long>(kMaxFileSize)));
    InputStream in(handle.get(), size > 0 ? uint64_t(size) : 0);
    file result;
    try {
        Parse(in, result, withBlocks);
    } catch (const error& e) {
        const ldr_exception plain(e);
        if (e.code != stream_error)
            throw FileError(plain.TextId(), plain.Text(), path);
        // What was found says more than "input/output": nothing, or where it ends.
        std::string found;
        if (in.ReadError())
            found = StringPrintf(LoadText(IDS_LDR_FILE_READ_FAILED), path.c_str());
        else if (size == 0)
            found = StringPrintf(LoadText(IDS_LDR_FILE_EMPTY), path.c_str());
        else
            found = StringPrintf(LoadText(IDS_LDR_FILE_CUT), path.c_str(),
                                 static_cast<unsigned long long>(size > 0 ? size : 0));
        throw ldr_exception(plain.TextId(), AppendSentence(plain.Text(), found));
    } catch (const TooManyModules&) {
        throw ldr_exception(IDS_LDR_TOO_MANY_MODULES,
                            StringPrintf(LoadText(IDS_LDR_TOO_MANY_MODULES), path.c_str(),
                                         kMaxModules));
    }
    out = std::move(result);
}

}  // namespace

bool byte_span::operator==(const byte_span& o) const
{
    return count == o.count && (count == 0 || std::memcmp(bytes, o.bytes, count) == 0);
}

block_ref block_list::operator[](size_t index) const
{
    return block_ref{addresses[index], byte_span{bytes.data() + index * stride, stride}};
}

void block_list::push_back(const block& b)
{
    push_back(b.address, b.data.data(), b.data.size());
}

void block_list::push_back(uint32_t address, const uint8_t* data, size_t size)
{
    uint8_t* place = append(address, size);
    if (size != 0)
        std::memcpy(place, data, size);
}

uint8_t* block_list::append(uint32_t address, size_t size)
{
    if (addresses.empty())
        stride = size;
    else if (size != stride)
        throw std::invalid_argument("every block of a module has the same size");
    addresses.push_back(address);
    bytes.resize(bytes.size() + size);
    return bytes.data() + bytes.size() - size;
}

void block_list::pop_back()
{
    addresses.pop_back();
    bytes.resize(bytes.size() - stride);
    if (addresses.empty())
        stride = 0;
}

void block_list::clear()
{
    addresses.clear();
    bytes.clear();
    stride = 0;
}

void block_list::reserve(size_t count, size_t size)
{
    addresses.reserve(count);
    bytes.reserve(count * size);
}

void load(const std::string& path, file& out)
{
    LoadFile(path, out, true);
}

void load_headers(const std::string& path, file& out)
{
    LoadFile(path, out, false);
}

const module* find_module(const file& f, unsigned kind)
{
    for (const module& m : f.modules)
        if (m.kind == static_cast<uint16_t>(kind))
            return &m;
    return nullptr;
}

std::vector<uint8_t> serialize(const file& f)
{
    std::vector<uint8_t> out;
    Put32(out, f.signature);
    Put16(out, f.version);
    for (const module& m : f.modules) {
        if (m.blocks.size() != m.block_count)
            throw std::invalid_argument("module block list does not match its block count");
        if (!m.blocks.empty() && m.blocks.block_size() != m.block_size)
            throw std::invalid_argument("block data does not match the module's block size");
        Put16(out, m.kind);
        Put16(out, m.version);
        Put32(out, m.block_count);
        Put32(out, m.block_size);
        for (const block_ref b : m.blocks) {
            Put32(out, b.address);
            out.insert(out.end(), b.data.begin(), b.data.end());
        }
    }
    return out;
}

void save(const std::string& path, const file& f)
{
    const std::vector<uint8_t> bytes = serialize(f);
    FilePtr handle(OpenFileUtf8(path, "wb"));
    if (!handle)
        throw std::runtime_error("cannot create " + path);
    const bool written = bytes.empty() ||
                         std::fwrite(bytes.data(), 1, bytes.size(), handle.get()) == bytes.size();
    if (!written || std::fclose(handle.release()) != 0)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace ldr

ldr_exception::ldr_exception(unsigned id) : object_description(LoadText(id)), textId(id) {}

ldr_exception::ldr_exception(unsigned id, std::string text)
    : object_description(std::move(text)), textId(id)
{
}

ldr_exception::ldr_exception(const ldr::error& e) : ldr_exception(TextIdOfError(e.code)) {}

unsigned ModuleKindTextId(uint16_t kind)
{
    switch (kind) {
    case ldr::peripheral: return IDS_MODULE_PERIPHERAL;
    case ldr::computational: return IDS_MODULE_COMPUTATIONAL;
    case ldr::fpga: return IDS_MODULE_FPGA;
    case ldr::blackfin_loader: return IDS_MODULE_BLACKFIN_LOADER;
    default: return IDS_MODULE_UNKNOWN;
    }
}

std::string ModuleVersionText(uint16_t version)
{
    return StringPrintf("%u.%u", unsigned(version >> 8), unsigned(version & 0xFF));
}

uint64_t ModuleImageSize(const ldr::module& m)
{
    return uint64_t(m.block_count) * m.block_size;
}

std::string ModuleSizeText(const ldr::module& m)
{
    return std::to_string(ModuleImageSize(m));
}
