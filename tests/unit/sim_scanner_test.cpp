#include <gtest/gtest.h>

#include <cstdio>

#include "firmware/ldr.h"
#include "support/firmware_builder.h"
#include "support/sim_bench.h"
#include "support/temp_folder.h"

namespace {

constexpr uint8_t kWrite = 0x9C, kRead = 0x9D, kInfo = 0x9E, kReg = 0x9F, kBaud = 0xA1,
                  kUid = 0xA2;

std::vector<uint8_t> Le32(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

std::vector<uint8_t> WriteParams(uint32_t address, std::vector<uint8_t> data)
{
    std::vector<uint8_t> p = Le32(address);
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

std::vector<uint8_t> ReadParams(uint32_t address, uint8_t count)
{
    std::vector<uint8_t> p = Le32(address);
    p.push_back(count);
    return p;
}

// Asks for the other mode as the host does: bits 0.1 and 1.1 set to the wanted mode.
SimReply RequestMode(SimBench& b, int mode)
{
    std::vector<uint8_t> reg = b.Register();
    for (int i = 0; i < 2; ++i)
        reg[i] = static_cast<uint8_t>(mode ? reg[i] | 0x02 : reg[i] & ~0x02);
    return b.Command(kReg, reg);
}

void SelectAtmega(SimBench& b, bool atmega)
{
    std::vector<uint8_t> reg = b.Register();
    reg[0] = static_cast<uint8_t>(atmega ? reg[0] | 0x20 : reg[0] & ~0x20);
    ASSERT_EQ(b.Command(kReg, reg).Status(), 0);
}

uint16_t Word(const std::vector<uint8_t>& p, size_t at) { return uint16_t(p[at] | p[at + 1] << 8); }

SimConfig LoaderConfig()
{
    SimConfig c;
    c.startMode = 1;
    return c;
}

}  // namespace

TEST(SimScanner, IdentityUniqueIdAndVersionsPerProcessorAndMode)
{
    SimConfig config;
    config.modelCode = 209;
    SimBench b(config);
    SimReply identity = b.Command(kInfo, {0});
    ASSERT_TRUE(identity.framed);
    EXPECT_EQ(identity.data[0], kInfo);
    ASSERT_EQ(identity.Payload().size(), 5u);
    EXPECT_EQ(identity.Payload()[4], 209);

    EXPECT_EQ(b.Command(kUid, {0}).Payload(),
              std::vector<uint8_t>(config.uniqueId.begin(), config.uniqueId.end()));
    EXPECT_EQ(b.Command(kUid, {1}).Status(), 4);

    // Application: word0 the program version, word1 the extended Blackfin version.
    SelectAtmega(b, false);
    auto v = b.Command(kInfo, {1}).Payload();
    EXPECT_EQ(Word(v, 0), config.blackfin.application);
    EXPECT_EQ(Word(v, 2), config.blackfin.applicationExt);
    SelectAtmega(b, true);
    v = b.Command(kInfo, {1}).Payload();
    EXPECT_EQ(Word(v, 0), config.atmega.application);

    // Loader: word0 the loader version, word1 the hardware version.
    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    b.Wait(config.restartMs);
    SelectAtmega(b, true);
    v = b.Command(kInfo, {1}).Payload();
    EXPECT_EQ(Word(v, 0), config.atmega.loader);
    EXPECT_EQ(Word(v, 2), config.atmega.hardware);
    SelectAtmega(b, false);
    v = b.Command(kInfo, {1}).Payload();
    EXPECT_EQ(Word(v, 0), config.blackfin.loader);
    EXPECT_EQ(Word(v, 2), config.blackfin.hardware);
    EXPECT_EQ(b.Command(kInfo, {2}).Status(), 4);
    EXPECT_EQ(b.Command(0x55).Status(), 8);
}

TEST(SimScanner, FactoryBlockOnlyInApplicationWithAtmegaSelected)
{
    SimConfig config;
    config.serialNumber = 0x01020304;
    config.productionDate = 0x5867;
    config.factoryWord = 0xBEEF;
    SimBench b(config);
    EXPECT_EQ(b.Command(kRead, ReadParams(kSimFactoryAddress, 8)).Status(), 115);
    SelectAtmega(b, true);
    EXPECT_EQ(b.Command(kRead, ReadParams(kSimFactoryAddress, 8)).Payload(),
              (std::vector<uint8_t>{4, 3, 2, 1, 0x67, 0x58, 0xEF, 0xBE}));
    // A read that only touches the block's last byte is a factory read as well.
    EXPECT_EQ(b.Command(kRead, ReadParams(kSimFactoryAddress + 7, 2)).Payload(),
              (std::vector<uint8_t>{0xBE, 0xFF}));
    EXPECT_EQ(b.Command(kRead, ReadParams(0x1000, 0)).Status(), 144);
    EXPECT_EQ(b.Command(kRead, ReadParams(0xFFFFFFFF, 2)).Status(), 145);

    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    b.Wait(config.restartMs);
    SelectAtmega(b, true);
    EXPECT_EQ(b.Command(kRead, ReadParams(kSimFactoryAddress, 8)).Status(), 115);
}

TEST(SimScanner, ModeSwitchRestartsSilentlyAndComesBack)
{
    SimConfig config;
    config.restartMs = 800;
    SimBench b(config);
    EXPECT_EQ(b.Register(), (std::vector<uint8_t>{0, 0, 0, 0}));

    // Writing the mode bits without both asking for the other mode changes nothing.
    EXPECT_EQ(b.Command(kReg, {0x02, 0x00, 0, 0}).Status(), 0);
    EXPECT_EQ(b.scanner.Restarts(), 0u);

    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    EXPECT_EQ(b.scanner.Restarts(), 1u);
    EXPECT_EQ(b.scanner.Mode(b.now), -1);
    b.Wait(799);
    EXPECT_FALSE(b.Command(kInfo, {0}).framed);
    b.Wait(1);
    EXPECT_EQ(b.scanner.Mode(b.now), 1);
    // The request that arrived during the restart was never heard.
    EXPECT_EQ(b.scanner.CommandsReceived(kInfo), 0u);
    EXPECT_EQ(b.Register(), (std::vector<uint8_t>{0x02, 0x02, 0, 0x80}));

    ASSERT_EQ(RequestMode(b, 0).Status(), 0);
    b.Wait(800);
    EXPECT_EQ(b.Register(), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(b.scanner.Restarts(), 2u);
}

TEST(SimScanner, RestartOptions)
{
    SimConfig config;
    config.backInOldModeOnce = true;
    config.restartSpeedCode = 5;
    config.neverEntersLoader = true;
    SimBench b(config);
    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    b.Wait(config.restartMs);
    EXPECT_EQ(b.scanner.Mode(b.now), 0);
    EXPECT_EQ(b.scanner.SpeedCode(), 5);
    EXPECT_FALSE(b.Command(kInfo, {0}).framed);   // the bench still talks at 9600
    b.baud = 57600;

    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    b.Wait(config.restartMs);
    EXPECT_EQ(b.scanner.Mode(b.now), 1);
    EXPECT_EQ(b.Register(), (std::vector<uint8_t>{0x02, 0x02, 0, 0x00}));
}

TEST(SimScanner, UsbScannerVanishesForTheRestart)
{
    SimConfig config;
    config.usbCdc = true;
    config.speedCode = 6;
    SimBench b(config);
    b.baud = 9600;   // a USB line has no speed: any host baud gets through
    ASSERT_TRUE(b.Command(kInfo, {0}).framed);
    EXPECT_FALSE(b.scanner.TakeRemoval(b.now));
    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    const uint64_t replied = b.now;
    EXPECT_TRUE(b.scanner.Attached(b.now));
    EXPECT_EQ(b.scanner.NextEventAtUs(), replied + kSimUsbDetachUs);
    EXPECT_FALSE(b.scanner.TakeRemoval(b.now));
    b.now += kSimUsbDetachUs;
    EXPECT_FALSE(b.scanner.Attached(b.now));
    EXPECT_FALSE(b.scanner.TakeArrival(b.now));
    EXPECT_TRUE(b.scanner.TakeRemoval(b.now));
    EXPECT_FALSE(b.scanner.TakeRemoval(b.now));
    EXPECT_EQ(b.scanner.NextEventAtUs(), replied + config.restartMs * 1000ull);
    b.now = replied;
    b.Wait(config.restartMs);
    EXPECT_TRUE(b.scanner.Attached(b.now));
    EXPECT_TRUE(b.scanner.TakeArrival(b.now));
    EXPECT_FALSE(b.scanner.TakeArrival(b.now));
}

TEST(SimScanner, SpeedMismatchGarblesBothWays)
{
    SimBench b;
    b.baud = 19200;
    std::vector<uint8_t> raw = b.Raw(kInfo, {0});
    EXPECT_TRUE(raw.empty());
    EXPECT_EQ(b.scanner.CommandsReceived(), 0u);

    // A reply read at the wrong speed holds no start byte.
    b.baud = 9600;
    b.Send(SimRequest(kInfo, {0}));
    std::vector<uint8_t> out(64);
    out.resize(b.scanner.Transmit(out.data(), out.size(), 19200, b.now));
    EXPECT_EQ(out.size(), 10u);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x02), 0);
}

TEST(SimScanner, BaudChangeAnswersAtTheOldSpeed)
{
    SimBench b;
    EXPECT_EQ(b.Command(kBaud).Payload(), std::vector<uint8_t>{2});
    EXPECT_EQ(b.Command(kBaud, {10}).Status(), 4);
    SimReply reply = b.Command(kBaud, {6});
    EXPECT_TRUE(reply.framed);
    EXPECT_EQ(reply.Status(), 0);
    EXPECT_FALSE(b.Command(kBaud).framed);
    b.baud = 115200;
    EXPECT_EQ(b.Command(kBaud).Payload(), std::vector<uint8_t>{6});

    b.scanner.MutableConfig().speedCommand = false;
    EXPECT_EQ(b.Command(kBaud).Status(), 8);
    EXPECT_EQ(b.Command(kBaud, {2}).Status(), 8);
}

TEST(SimScanner, LoaderAndLineLimitTheSpeed)
{
    SimConfig config = LoaderConfig();
    config.maxSpeedCode = 8;
    config.maxLineBaud = 460800;
    SimBench b(config);
    // The loader refuses a faster code and stays where it is.
    EXPECT_EQ(b.Command(kBaud, {9}).Status(), 4);
    EXPECT_EQ(b.Command(kBaud).Payload(), std::vector<uint8_t>{2});
    ASSERT_EQ(b.Command(kBaud, {8}).Status(), 0);
    b.baud = 460800;
    EXPECT_EQ(b.Command(kBaud).Payload(), std::vector<uint8_t>{8});

    // Above the line's limit nothing gets through, though both ends agree on the speed.
    b.scanner.MutableConfig().maxSpeedCode = 9;
    ASSERT_EQ(b.Command(kBaud, {9}).Status(), 0);
    b.baud = 921600;
    const unsigned heard = b.scanner.CommandsReceived();
    EXPECT_TRUE(b.Raw(kInfo, {0}).empty());
    EXPECT_EQ(b.scanner.CommandsReceived(), heard);
    // A reply sent above the limit is garbled too.
    b.scanner.MutableConfig().maxLineBaud = 0;
    b.Send(SimRequest(kInfo, {0}));
    b.scanner.MutableConfig().maxLineBaud = 460800;
    const std::vector<uint8_t> raw = b.Collect();
    EXPECT_EQ(raw.size(), 10u);
    EXPECT_EQ(std::count(raw.begin(), raw.end(), 0x02), 0);
}

TEST(SimScanner, BadRequestsAreIgnoredSilently)
{
    SimBench b;
    std::vector<uint8_t> bad = SimRequest(kInfo, {0});
    bad.back() ^= 1;
    b.Send(bad);
    b.Send({0x02, 0x00});   // LEN 0 is no request
    EXPECT_TRUE(b.Collect().empty());
    // A request cut short and resumed after a long gap is abandoned; the next is heard.
    std::vector<uint8_t> good = SimRequest(kInfo, {0});
    b.Send({good.begin(), good.begin() + 3});
    b.Wait(kSimFrameGapUs / 1000 + 1);
    b.Send({good.begin() + 3, good.end()});
    EXPECT_TRUE(b.Collect().empty());
    EXPECT_TRUE(b.Command(kInfo, {0}).framed);
    EXPECT_EQ(b.scanner.CommandsReceived(), 1u);
}

TEST(SimScanner, FaultsHitOnlyTheirCommandAndOnlyCountTimes)
{
    SimBench b;
    b.scanner.AddFault({kInfo, SimFault::Busy, 2});
    b.scanner.AddFault({kUid, SimFault::ErrorStatus, 1, 147});
    EXPECT_EQ(b.Command(kBaud).Status(), 0);
    EXPECT_EQ(b.Command(kInfo, {0}).Status(), 2);
    EXPECT_EQ(b.Command(kInfo, {0}).Status(), 2);
    EXPECT_EQ(b.Command(kInfo, {0}).Status(), 0);
    EXPECT_EQ(b.Command(kUid, {0}).Status(), 147);
    EXPECT_EQ(b.Command(kUid, {0}).Payload().size(), 16u);

    b.scanner.AddFault({-1, SimFault::NoiseByte, 1});
    std::vector<uint8_t> raw = b.Raw(kBaud);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_NE(raw[0], 0x02);
    EXPECT_EQ(raw[1], 0x02);
    b.scanner.AddFault({-1, SimFault::TwoNoiseBytes, 1});
    raw = b.Raw(kBaud);
    EXPECT_TRUE(raw[0] != 0x02 && raw[1] != 0x02 && raw[2] == 0x02);

    b.scanner.AddFault({-1, SimFault::BadChecksum, 1});
    EXPECT_FALSE(b.Command(kBaud).framed);
    b.scanner.AddFault({-1, SimFault::WrongEcho, 1});
    EXPECT_NE(b.Command(kBaud).data[0], kBaud);
    b.scanner.AddFault({-1, SimFault::ShortReply, 1});
    EXPECT_EQ(b.Command(kBaud).data.size(), 2u);
    b.scanner.AddFault({-1, SimFault::LongReply, 1});
    EXPECT_EQ(b.Command(kBaud).data.size(), 4u);
    EXPECT_EQ(b.Command(kBaud).data.size(), 3u);
}

// A truncated reply stops halfway on a line that stays; a cut line stops halfway too,
// and then the scanner is gone for good, whatever its port.
TEST(SimScanner, TruncatedAndCutRepliesStopHalfway)
{
    SimBench b;
    const size_t whole = b.Raw(kInfo, {0}).size();
    b.scanner.AddFault({-1, SimFault::TruncatedReply, 1});
    EXPECT_EQ(b.Raw(kInfo, {0}).size(), whole / 2);
    EXPECT_EQ(b.Raw(kInfo, {0}).size(), whole);
    EXPECT_EQ(b.scanner.Faults(), 1u);

    b.scanner.AddFault({-1, SimFault::CutLine, 1});
    EXPECT_EQ(b.Raw(kInfo, {0}).size(), whole / 2);
    b.Wait(1);
    EXPECT_TRUE(b.scanner.TakeRemoval(b.now));
    EXPECT_FALSE(b.scanner.Attached(b.now));
    b.Wait(100000);
    EXPECT_TRUE(b.Raw(kInfo, {0}).empty());
    EXPECT_FALSE(b.scanner.TakeArrival(b.now));
}

TEST(SimScanner, NoReplyDropsTheRequestLostReplyCarriesItOut)
{
    SimBench b;
    b.scanner.AddFault({kBaud, SimFault::NoReply, 1});
    EXPECT_TRUE(b.Raw(kBaud, {5}).empty());
    EXPECT_EQ(b.scanner.SpeedCode(), 2);
    b.scanner.AddFault({kBaud, SimFault::LostReply, 1});
    EXPECT_TRUE(b.Raw(kBaud, {5}).empty());
    b.scanner.Advance(b.now);
    EXPECT_EQ(b.scanner.SpeedCode(), 5);
}

TEST(SimScanner, RandomFaultsRepeatWithTheSeed)
{
    auto run = [](uint32_t seed) {
        SimConfig config;
        config.randomFaultRate = 0.3;
        config.randomSeed = seed;
        SimBench b(config);
        std::vector<uint8_t> all;
        for (int i = 0; i < 200; ++i) {
            std::vector<uint8_t> raw = b.Raw(kInfo, {0});
            all.insert(all.end(), raw.begin(), raw.end());
            all.push_back(0xEE);
            b.Wait(1);
        }
        return all;
    };
    const auto first = run(7);
    EXPECT_EQ(first, run(7));
    EXPECT_NE(first, run(8));
    // Roughly the rate: 200 clean replies would be 200 * 11 bytes.
    SimConfig clean;
    SimBench b(clean);
    EXPECT_EQ(b.Raw(kInfo, {0}).size(), 10u);
    EXPECT_NE(first.size(), 200u * 11u);

    // Told which kinds to draw, it draws only those.
    SimConfig truncating;
    truncating.randomFaultRate = 1.0;
    truncating.randomFaultKinds = {SimFault::TruncatedReply};
    SimBench t(truncating);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(t.Raw(kInfo, {0}).size(), 5u);
}

TEST(SimScanner, MemoryWriteChecks)
{
    SimConfig config = LoaderConfig();
    config.flashBase = 0x10000;
    config.flashSize = 0x10000;
    config.writeAlign = 4;
    SimBench b(config);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x10000, {1, 2, 3})).Status(), 0);
    EXPECT_EQ(b.scanner.Dump(0x10000, 4), (std::vector<uint8_t>{1, 2, 3, 0xFF}));
    EXPECT_EQ(b.Command(kRead, ReadParams(0x10001, 2)).Payload(), (std::vector<uint8_t>{2, 3}));
    EXPECT_EQ(b.Command(kWrite, Le32(0x10000)).Status(), 144);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x10000, std::vector<uint8_t>(249))).Status(), 144);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x10000, std::vector<uint8_t>(248))).Status(), 0);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0xFFFC, {1, 2, 3, 4})).Status(), 145);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x1FFFC, {1, 2, 3, 4, 5})).Status(), 145);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x1FFFC, {1, 2, 3, 4})).Status(), 0);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x10002, {1})).Status(), 146);
    EXPECT_EQ(b.Command(kWrite, {1, 2}).Status(), 4);
    b.scanner.MutableConfig().writeErrorStatus = 147;
    EXPECT_EQ(b.Command(kWrite, WriteParams(0x1FFFC, {9})).Status(), 147);
    EXPECT_EQ(b.scanner.Dump(0x1FFFC, 1), std::vector<uint8_t>{1});

    SimConfig whole = LoaderConfig();
    SimBench factory(whole);
    EXPECT_EQ(factory.Command(kWrite, WriteParams(kSimFactoryAddress - 2, {1, 2, 3})).Status(), 145);
    SimBench application;
    EXPECT_EQ(application.Command(kWrite, WriteParams(0, {1})).Status(), 115);
}

TEST(SimScanner, VerdictWithoutExpectedImage)
{
    SimBench b(LoaderConfig());
    EXPECT_FALSE(b.Register()[1] & 0x01);
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x100, {1, 2})).Status(), 0);
    EXPECT_TRUE(b.Register()[1] & 0x01);
    EXPECT_EQ(b.Command(kWrite, WriteParams(0xFFFFFF, {1, 2})).Status(), 145);
    EXPECT_FALSE(b.Register()[1] & 0x01);
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x100, {1, 2})).Status(), 0);
    EXPECT_TRUE(b.Register()[1] & 0x01);

    // The application does not report it; a new loader session starts empty.
    ASSERT_EQ(RequestMode(b, 0).Status(), 0);
    b.Wait(b.scanner.Config().restartMs);
    EXPECT_FALSE(b.Register()[1] & 0x01);
    ASSERT_EQ(RequestMode(b, 1).Status(), 0);
    b.Wait(b.scanner.Config().restartMs);
    EXPECT_FALSE(b.Register()[1] & 0x01);
    EXPECT_EQ(b.scanner.Dump(0x100, 2), (std::vector<uint8_t>{1, 2}));
}

TEST(SimScanner, VerdictWithExpectedImage)
{
    SimBench b(LoaderConfig());
    b.scanner.SetExpectedImage({{0x100, {1, 2, 3, 4}}, {0x200, {5, 6}}});
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x100, {1, 2, 3, 4})).Status(), 0);
    EXPECT_FALSE(b.scanner.ChecksumVerdict());
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x200, {5, 7})).Status(), 0);
    EXPECT_FALSE(b.scanner.ChecksumVerdict());
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x201, {6})).Status(), 0);
    EXPECT_TRUE(b.Register()[1] & 0x01);
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x300, {0})).Status(), 0);
    EXPECT_FALSE(b.Register()[1] & 0x01);
}

TEST(SimScanner, LineRateTimesEveryByte)
{
    SimConfig config;
    config.lineRate = true;
    config.turnaroundUs = 2000;
    SimBench b(config);
    const uint64_t start = b.now;
    // A byte at 9600 lasts 1041.7 us: the times are counted from the frame's start, not
    // rounded byte by byte (a drift of 1.4 % per chunk at 921600).
    b.Send(SimRequest(kInfo, {0}));   // 5 bytes: 5208.3 us
    const uint64_t requestEnd = start + 5209;
    ASSERT_EQ(b.scanner.NextByteAtUs(), requestEnd + 2000 + 1042);
    uint8_t byte;
    EXPECT_EQ(b.scanner.Transmit(&byte, 1, 9600, requestEnd + 2000 + 1041), 0u);
    SimReply reply = SimParseReply(b.Collect());
    EXPECT_TRUE(reply.framed);
    EXPECT_EQ(b.now, requestEnd + 2000 + 10417);   // 10 bytes: 10416.7 us
}

TEST(SimScanner, MemoryKeepsSparsePagesAndRanges)
{
    CSimMemory m;
    const uint8_t data[] = {1, 2, 3};
    m.Write(0xFFE, data, 3);
    m.Write(0x5000, data, 1);
    EXPECT_EQ(m.WrittenBytes(), 4u);
    auto ranges = m.Ranges();
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].address, 0xFFEu);
    EXPECT_EQ(ranges[0].size, 3u);
    EXPECT_EQ(m.Read(0x1000), 3);
    EXPECT_EQ(m.Read(0x1001), 0xFF);
    CSimMemory other;
    other.Write(0x5000, data, 1);
    EXPECT_NE(m, other);
    other.Write(0xFFE, data, 3);
    EXPECT_EQ(m, other);
    EXPECT_EQ(SimCrc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

TEST(SimScanner, ExpectedImageFromLdrModule)
{
    const ldr::file file = BuildFile(
        {ldr::module{ldr::peripheral, 0x0100, 1, 2, {{0x900, {9, 9}}}},
         ldr::module{ldr::computational, 0x0203, 2, 2, {{0x100, {1, 2}}, {0x102, {3, 4}}}}});
    CTempFolder folder("trelvo-sim-expected-");
    const std::string path = (folder.Path() / "sim_expected.ldr").string();
    ldr::save(path, file);

    SimBench b(LoaderConfig());
    std::string error;
    ASSERT_TRUE(b.scanner.LoadExpectedModule(path, error)) << error;
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x100, {1, 2, 3})).Status(), 0);
    EXPECT_FALSE(b.scanner.ChecksumVerdict());
    ASSERT_EQ(b.Command(kWrite, WriteParams(0x103, {4})).Status(), 0);
    EXPECT_TRUE(b.scanner.ChecksumVerdict());

    EXPECT_FALSE(b.scanner.LoadExpectedModule(path + ".missing", error));
    EXPECT_FALSE(error.empty());
}
