#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/strings.h"
#include "firmware/ldr.h"
#include "support/firmware_builder.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

class LdrFile : public testing::Test {
protected:

    std::string PathOf(const std::string& name) const { return (dir / fs::u8path(name)).u8string(); }

    std::string Write(const Bytes& bytes, const std::string& name = "test.ldr") const
    {
        const std::string path = PathOf(name);
        std::FILE* f = std::fopen((dir / fs::u8path(name)).string().c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f) {
            if (!bytes.empty()) {
                EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
            }
            std::fclose(f);
        }
        return path;
    }

    // The message id of the ldr_exception that loading the path throws, 0 when it loads.
    static unsigned LoadError(const std::string& path)
    {
        ldr::file f;
        try {
            ldr::load(path, f);
        } catch (const ldr_exception& e) {
            // The message of the id, then the file it is about (every file has a name).
            const std::string plain = LoadText(e.TextId());
            if (plain.find('%') == std::string::npos) {
                EXPECT_EQ(e.Text().compare(0, plain.size(), plain), 0) << e.Text();
                if (!path.empty()) {
                    EXPECT_NE(e.Text().find("\"" + path + "\""), std::string::npos) << e.Text();
                }
            }
            return e.TextId();
        }
        return 0;
    }
    unsigned LoadBytesError(const Bytes& bytes) const { return LoadError(Write(bytes)); }
    // The message of the ldr_exception that loading the path throws, empty when it loads.
    static std::string LoadMessage(const std::string& path)
    {
        ldr::file f;
        try {
            ldr::load(path, f);
        } catch (const ldr_exception& e) {
            return e.Text();
        }
        return std::string();
    }

    CTempFolder folder{"trelvo-ldr-"};
    const fs::path dir = folder.Path();
};

void Put16(Bytes& b, uint16_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void Put32(Bytes& b, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        b.push_back(uint8_t(v >> shift));
}

Bytes Header(uint16_t version = 0x0100)
{
    Bytes b = {'#', 'L', 'D', 'R'};
    Put16(b, version);
    return b;
}

void PutModuleHeader(Bytes& b, uint16_t kind, uint16_t version, uint32_t count, uint32_t size)
{
    Put16(b, kind);
    Put16(b, version);
    Put32(b, count);
    Put32(b, size);
}

// A module record whose blocks are filled with a running byte pattern.
void PutModule(Bytes& b, uint16_t kind, uint16_t version, uint32_t count, uint32_t size,
               uint32_t address = 0x1000)
{
    PutModuleHeader(b, kind, version, count, size);
    for (uint32_t i = 0; i < count; ++i) {
        Put32(b, address + i * size);
        for (uint32_t j = 0; j < size; ++j)
            b.push_back(uint8_t(i * 31 + j));
    }
}

ldr::module MakeModule(uint16_t kind, uint16_t version, uint32_t count, uint32_t size)
{
    return BuildModule(kind, version, 0x20000, size, count,
                       [](uint32_t b, uint32_t i) { return uint8_t(b ^ (i * 7)); });
}

void ExpectSameModules(const ldr::file& a, const ldr::file& b)
{
    ASSERT_EQ(a.modules.size(), b.modules.size());
    for (size_t i = 0; i < a.modules.size(); ++i) {
        const ldr::module& x = a.modules[i];
        const ldr::module& y = b.modules[i];
        EXPECT_EQ(x.kind, y.kind);
        EXPECT_EQ(x.version, y.version);
        EXPECT_EQ(x.block_count, y.block_count);
        EXPECT_EQ(x.block_size, y.block_size);
        ASSERT_EQ(x.blocks.size(), y.blocks.size());
        for (size_t j = 0; j < x.blocks.size(); ++j) {
            EXPECT_EQ(x.blocks[j].address, y.blocks[j].address);
            EXPECT_EQ(x.blocks[j].data, y.blocks[j].data);
        }
    }
}

}  // namespace

TEST_F(LdrFile, HeaderOnlyFileHasNoModules)
{
    ldr::file f;
    f.modules.push_back(MakeModule(1, 1, 1, 1));
    ldr::load(Write(Header()), f);
    EXPECT_EQ(f.signature, 0x52444C23u);
    EXPECT_EQ(f.version, 0x0100);
    EXPECT_TRUE(f.modules.empty());
}

TEST_F(LdrFile, SignatureIsCheckedBeforeVersion)
{
    EXPECT_EQ(LoadBytesError(Header(0x0101)), 13u);
    EXPECT_EQ(LoadBytesError(Header(0x00FF)), 14u);
    EXPECT_EQ(LoadBytesError(Header(0x0001)), 14u);
    EXPECT_EQ(LoadBytesError({'R', 'D', 'L', '#', 0x00, 0x01}), 12u);
    EXPECT_EQ(LoadBytesError({'R', 'D', 'L', '#', 0x01, 0x01}), 12u);
    Bytes newer = Header(0x0200);
    PutModule(newer, 1, 1, 1, 4);
    EXPECT_EQ(LoadBytesError(newer), 13u);
}

TEST_F(LdrFile, ShortHeaderIsStreamError)
{
    EXPECT_EQ(LoadBytesError({}), 15u);
    EXPECT_EQ(LoadBytesError({'#', 'L', 'D', 'R', 0x00}), 15u);
    EXPECT_EQ(LoadBytesError({'R', 'D', 'L'}), 15u);
    // What was found: nothing, or where the file ends.
    const std::string empty = Write({}, "empty.ldr");
    EXPECT_EQ(LoadMessage(empty), "Ошибка ввода/вывода при работе с ldr-файлом. Файл \"" + empty + "\" пуст.");
    const std::string cut = Write({'#', 'L', 'D', 'R', 0x00}, "cut.ldr");
    EXPECT_EQ(LoadMessage(cut), "Ошибка ввода/вывода при работе с ldr-файлом. Файл \"" + cut +
                                "\" обрывается после 5 байт.");
}

TEST_F(LdrFile, FileCutAnywhereInsideAModuleFails)
{
    Bytes whole = Header();
    PutModule(whole, 0, 0x0102, 2, 5);
    const size_t firstEnd = whole.size();
    PutModule(whole, 1, 0x0203, 3, 2);
    for (size_t length = 6; length <= whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + length);
        const bool atBoundary = length == 6 || length == firstEnd || length == whole.size();
        EXPECT_EQ(LoadBytesError(cut), atBoundary ? 0u : 15u) << "length " << length;
    }
}

TEST_F(LdrFile, StrayBytesAfterTheLastModuleFail)
{
    for (size_t stray = 1; stray <= 11; ++stray) {
        Bytes b = Header();
        PutModule(b, 1, 1, 1, 8);
        b.insert(b.end(), stray, 0x00);
        EXPECT_EQ(LoadBytesError(b), 15u) << stray << " stray bytes";
    }
}

TEST_F(LdrFile, EmptyModules)
{
    Bytes b = Header();
    PutModule(b, 2, 0x0001, 0, 64);
    PutModule(b, 3, 0x0001, 3, 0, 0x400);
    ldr::file f;
    ldr::load(Write(b), f);
    ASSERT_EQ(f.modules.size(), 2u);
    EXPECT_TRUE(f.modules[0].blocks.empty());
    EXPECT_EQ(ModuleSizeText(f.modules[0]), "0");
    ASSERT_EQ(f.modules[1].blocks.size(), 3u);
    for (const ldr::block_ref blk : f.modules[1].blocks)
        EXPECT_TRUE(blk.data.empty());
    EXPECT_EQ(f.modules[1].blocks[2].address, 0x400u);
    EXPECT_EQ(ModuleSizeText(f.modules[1]), "0");
}

TEST_F(LdrFile, SaveAndLoadKeepEveryModuleInOrder)
{
    const ldr::file written = BuildFile({MakeModule(3, 0x0100, 2, 16), MakeModule(1, 0x0203, 3, 100),
                                        MakeModule(7, 0xFFFF, 1, 1), MakeModule(1, 0x0300, 1, 2),
                                        MakeModule(0, 0x0000, 0, 5)});
    const std::string path = PathOf("roundtrip.ldr");
    ldr::save(path, written);
    EXPECT_EQ(fs::file_size(fs::u8path(path)), ldr::serialize(written).size());

    ldr::file read;
    ldr::load(path, read);
    ExpectSameModules(written, read);

    const ldr::module* first = ldr::find_module(read, ldr::computational);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, &read.modules[1]);
    EXPECT_EQ(ldr::find_module(read, 0x10001), first);  // the kind is a 16-bit value
    EXPECT_EQ(ldr::find_module(read, 7), &read.modules[2]);
    EXPECT_EQ(ldr::find_module(read, ldr::fpga), nullptr);
}

TEST_F(LdrFile, LoadReplacesAndAFailedLoadLeavesTheFileAlone)
{
    ldr::file f;
    ldr::load(Write(ldr::serialize(BuildFile({MakeModule(1, 1, 2, 4), MakeModule(0, 1, 1, 4)})), "a.ldr"), f);
    ASSERT_EQ(f.modules.size(), 2u);

    const ldr::file second = BuildFile({MakeModule(2, 9, 1, 3)});
    ldr::load(Write(ldr::serialize(second), "b.ldr"), f);
    ExpectSameModules(second, f);

    Bytes cut = ldr::serialize(BuildFile({MakeModule(0, 1, 2, 4)}));
    cut.pop_back();
    EXPECT_THROW(ldr::load(Write(cut, "c.ldr"), f), ldr_exception);
    ExpectSameModules(second, f);
}

TEST_F(LdrFile, OpenFailures)
{
    EXPECT_EQ(LoadError(""), 10u);
    EXPECT_EQ(LoadError(PathOf("missing.ldr")), 18u);
    EXPECT_EQ(LoadError(PathOf("no-such-folder/x.ldr")), 18u);
    // Messages that say what is wrong with the name given.
    fs::create_directory(dir / "folder.ldr");
    EXPECT_EQ(LoadMessage(PathOf("folder.ldr")),
              "Ldr-файл \"" + PathOf("folder.ldr") +
                  "\" не является обычным файлом (это каталог, канал или устройство).");
    // Built as bytes: such a name is no path the standard library converts on Windows.
    const std::string folderPath = dir.u8string() + "/";
    EXPECT_EQ(LoadMessage(folderPath + "bad\xFF\xC0name.ldr"),
              "Имя ldr-файла не является текстом в кодировке UTF-8: " + folderPath +
                  "bad\\xFF\\xC0name.ldr");
}

TEST_F(LdrFile, FilesBeyondAnyScannersFirmwareAreRefused)
{
    const std::string big = Write(Header());
    fs::resize_file(fs::u8path(big), ldr::kMaxFileSize + 1);   // sparse: costs no disk
    EXPECT_EQ(LoadError(big), 56u);
    Bytes many = Header();
    for (unsigned k = 0; k < ldr::kMaxModules; ++k)
        PutModule(many, 1, 1, 0, 0);
    EXPECT_EQ(LoadBytesError(many), 0u);
    PutModule(many, 1, 1, 0, 0);
    EXPECT_EQ(LoadBytesError(many), 57u);
}

TEST_F(LdrFile, HeadersOnlyLoadSkipsTheBlocks)
{
    const ldr::file written = BuildFile({MakeModule(1, 0x0102, 3, 8), MakeModule(2, 0x0001, 2, 4)});
    const std::string path = PathOf("headers.ldr");
    ldr::save(path, written);
    ldr::file read;
    ldr::load_headers(path, read);
    ASSERT_EQ(read.modules.size(), 2u);
    EXPECT_EQ(read.modules[1].kind, 2u);
    EXPECT_EQ(ModuleImageSize(read.modules[0]), 24u);
    EXPECT_TRUE(read.modules[0].blocks.empty());
    // A cut file is still refused.
    Bytes cut = ldr::serialize(written);
    cut.pop_back();
    EXPECT_THROW(ldr::load_headers(Write(cut), read), ldr_exception);
}

TEST_F(LdrFile, UnicodePath)
{
    const ldr::file written = BuildFile({MakeModule(1, 0x0102, 2, 8)});
    const std::string path = PathOf(u8"прошивка-固件-Ω.ldr");
    ldr::save(path, written);
    ldr::file read;
    ldr::load(path, read);
    ExpectSameModules(written, read);
}

// A header may declare gigabytes; the reader must refuse before allocating anything.
TEST_F(LdrFile, HostileHeadersAreCutFiles)
{
    struct Case {
        uint32_t count;
        uint32_t size;
    };
    const Case cases[] = {
        {0xFFFFFFFFu, 0xFFFFFFFFu},  // count x (4 + size) overflows 64 bits
        {0xFFFFFFFFu, 0xFFFFFFFCu},  // exactly 2^64 - 2^32
        {0xFFFFFFFFu, 0},            // 4 G block records of 4 bytes each
        {1, 0xFFFFFFFFu},
        {0x80000000u, 0x7FFFFFFFu},
        {2, 0x7FFFFFFEu},
    };
    for (const Case& c : cases) {
        Bytes b = Header();
        PutModuleHeader(b, 1, 1, c.count, c.size);
        b.insert(b.end(), 64, 0xAA);
        EXPECT_EQ(LoadBytesError(b), 15u) << c.count << " x " << c.size;
    }
}

TEST_F(LdrFile, DeclaredSizeIsCheckedExactly)
{
    // One block of 60 bytes needs 64 bytes after the module header.
    Bytes fits = Header();
    PutModule(fits, 1, 1, 1, 60);
    EXPECT_EQ(LoadBytesError(fits), 0u);

    Bytes b = Header();
    PutModuleHeader(b, 1, 1, 1, 61);
    b.insert(b.end(), 64, 0x55);
    EXPECT_EQ(LoadBytesError(b), 15u);
}

TEST(LdrSerialize, RefusesInconsistentModules)
{
    ldr::module fewer = MakeModule(1, 1, 2, 4);
    fewer.blocks.pop_back();
    EXPECT_THROW(ldr::serialize(BuildFile({fewer})), std::invalid_argument);
    ldr::module shortBlocks = MakeModule(1, 1, 2, 4);
    shortBlocks.block_size = 3;
    EXPECT_THROW(ldr::serialize(BuildFile({shortBlocks})), std::invalid_argument);
    EXPECT_THROW(shortBlocks.blocks.push_back(ldr::block{0, {1, 2, 3}}), std::invalid_argument);
}

TEST(LdrErrors, CodesAndMessages)
{
    EXPECT_STREQ(ldr::error(ldr::invalid_signature).what(), "invalid signature");
    EXPECT_STREQ(ldr::error(ldr::new_version).what(), "new version");
    EXPECT_STREQ(ldr::error(ldr::unknown_version).what(), "unknown version");
    EXPECT_STREQ(ldr::error(ldr::stream_error).what(), "stream error");
    EXPECT_STREQ(ldr::error(4).what(), "unknown error_code");
    EXPECT_STREQ(ldr::error(-1).what(), "unknown error_code");

    const unsigned expected[] = {12, 13, 14, 15, 16, 16};
    const int codes[] = {0, 1, 2, 3, 4, -7};
    for (size_t i = 0; i < 6; ++i) {
        const ldr_exception e{ldr::error(codes[i])};
        EXPECT_EQ(e.TextId(), expected[i]);
        EXPECT_EQ(e.Text(), LoadText(expected[i]));
    }
    EXPECT_EQ(ldr_exception(16).Text(), "Неизвестная ошибка при работе с ldr-файлом");

    // Catch sites look for the message through object_description.
    try {
        throw ldr_exception(18);
    } catch (const object_description& d) {
        EXPECT_EQ(d.Text(), LoadText(IDS_LDR_NOT_FOUND));
    }
}

TEST(LdrDisplay, KindVersionAndSize)
{
    EXPECT_EQ(ModuleKindTextId(3), 214u);
    EXPECT_EQ(ModuleKindTextId(1), 211u);
    EXPECT_EQ(ModuleKindTextId(0), 210u);
    EXPECT_EQ(ModuleKindTextId(2), 212u);
    EXPECT_EQ(ModuleKindTextId(7), 213u);
    EXPECT_EQ(ModuleKindTextId(0xFFFF), 213u);
    EXPECT_STREQ(LoadText(ModuleKindTextId(7)), "Неизвестный модуль");

    EXPECT_EQ(ModuleVersionText(0x010A), "1.10");
    EXPECT_EQ(ModuleVersionText(0x0000), "0.0");
    EXPECT_EQ(ModuleVersionText(0x0203), "2.3");
    EXPECT_EQ(ModuleVersionText(0xFFFF), "255.255");

    ldr::module m;
    m.block_count = 2;
    m.block_size = 0x8000;
    EXPECT_EQ(ModuleSizeText(m), "65536");
    m.block_count = 0xFFFFFFFFu;
    m.block_size = 0xFFFFFFFFu;
    EXPECT_EQ(ModuleSizeText(m), "18446744065119617025");
}
