#include "support/engine_fixture.h"
#include "support/firmware_builder.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <vector>

#include "base/host.h"
#include "base/trace.h"
#include "engine/operations.h"
#include "firmware/ldr.h"
#include "sim/sim_frames.h"

namespace {

class RecordingSink : public CMessageInterface {
public:
    void ShowMessage(const char* text) override { lines.emplace_back(text); }
    std::vector<std::string> lines;
};

ldr::module Module(unsigned kind, uint32_t address, uint32_t blockSize, uint32_t blocks,
                   uint8_t seed = 1)
{
    return BuildModule(static_cast<uint16_t>(kind), 0x0102, address, blockSize, blocks,
                       [seed](uint32_t b, uint32_t i) {
                           return static_cast<uint8_t>(seed + b * 31 + i * 7);
                       });
}

class Operations : public SimulatedScanner {
protected:
    void Run(void (*operation)(OperationContext*))
    {
        OperationContext context{&protocol, &firmware, &sink, nullptr};
        operation(&context);
    }

    ldr::file firmware;
    RecordingSink sink;
};

TEST_F(Operations, UpdateWritesModuleWithProgressAndChecksum)
{
    CSimScanner& scanner = Attach();
    firmware.modules.push_back(Module(1, 0x10000, 300, 4));
    Run(UpdateFirmware);
    ASSERT_EQ(sink.lines.size(), 4u);
    EXPECT_THAT(sink.lines[0], testing::StartsWith("Выполнено:  25%"));
    EXPECT_THAT(sink.lines[1], testing::StartsWith("Выполнено:  50%"));
    EXPECT_THAT(sink.lines[2], testing::StartsWith("Выполнено:  75%"));
    EXPECT_THAT(sink.lines[3], testing::StartsWith("Выполнено: 100%"));
    EXPECT_EQ(scanner.Dump(0x10000, 1200), ModuleImage(firmware.modules[0]));
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
    EXPECT_FALSE(device.IsOpen());
    // Back at the speed it had before the transfer.
    EXPECT_EQ(scanner.SpeedCode(), 2);
}

TEST_F(Operations, OnlyTheFirstComputationalModuleIsWritten)
{
    CSimScanner& scanner = Attach();
    firmware.modules.push_back(Module(0, 0x20000, 64, 1));
    firmware.modules.push_back(Module(1, 0x10000, 128, 2, 3));
    firmware.modules.push_back(Module(1, 0x30000, 128, 2, 9));
    Run(UpdateFirmware);
    EXPECT_EQ(scanner.Dump(0x10000, 256), ModuleImage(firmware.modules[1]));
    EXPECT_EQ(scanner.Dump(0x20000, 64), std::vector<uint8_t>(64, 0xFF));
    EXPECT_EQ(scanner.Dump(0x30000, 256), std::vector<uint8_t>(256, 0xFF));
}

TEST_F(Operations, EmptyModuleStillChangesSpeedAndReadsVerdict)
{
    CSimScanner& scanner = Attach();
    firmware.modules.push_back(Module(1, 0x10000, 128, 0));
    const unsigned speedWrites = scanner.CommandsReceived(CMD_BAUD_RATE);
    try {
        Run(UpdateFirmware);
    } catch (const test_exception&) {
        // Whether an empty image passes the scanner's check is the scanner's business.
    }
    EXPECT_TRUE(sink.lines.empty());
    EXPECT_GT(scanner.CommandsReceived(CMD_BAUD_RATE), speedWrites + 1);
    EXPECT_EQ(scanner.CommandsReceived(CMD_WRITE_MEMORY), 0u);
}

TEST_F(Operations, BlockWithoutDataCountsForProgress)
{
    CSimScanner& scanner = Attach();
    firmware.modules.push_back(Module(1, 0x10000, 0, 2));
    try {
        Run(UpdateFirmware);
    } catch (const test_exception&) {
    }
    EXPECT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(scanner.CommandsReceived(CMD_WRITE_MEMORY), 0u);
}

TEST_F(Operations, MissingModuleLeavesScannerInLoader)
{
    CSimScanner& scanner = Attach();
    firmware.modules.push_back(Module(0, 0x10000, 128, 1));
    try {
        Run(UpdateFirmware);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "Прошивка отсутствует");
    }
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_LOADER);
}

TEST_F(Operations, ChecksumMismatchIsReported)
{
    CSimScanner& scanner = Attach();
    scanner.SetExpectedImage({{0x10000, std::vector<uint8_t>(256, 0x55)}});
    firmware.modules.push_back(Module(1, 0x10000, 128, 2));
    try {
        Run(UpdateFirmware);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "Контрольная сумма прошивки не сошлась");
    }
}

TEST_F(Operations, FlashErrorFailsWithItsCode)
{
    SimConfig config;
    config.writeErrorStatus = 147;
    Attach(config);
    firmware.modules.push_back(Module(1, 0x10000, 128, 2));
    try {
        Run(UpdateFirmware);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "(147) Ошибка записи во флеш-память");
    }
}

TEST_F(Operations, StopBetweenBlocksLeavesTransferSpeed)
{
    CSimScanner& scanner = Attach();
    firmware.modules.push_back(Module(1, 0x10000, 128, 8));
    bool stopped = false;
    try {
        OperationContext context{&protocol, &firmware, &sink, nullptr};
        struct StopAfterTwo : CMessageInterface {
            CVirtualHost* host;
            int shown = 0;
            void ShowMessage(const char*) override
            {
                if (++shown == 2)
                    host->RequestStop(0);
            }
        } stopper;
        stopper.host = &host;
        context.sink = &stopper;
        UpdateFirmware(&context);
    } catch (const stop_exception&) {
        stopped = true;
    }
    EXPECT_TRUE(stopped);
    EXPECT_EQ(scanner.SpeedCode(), 6);
    EXPECT_EQ(device.GetBaudRate(), 115200u);
    EXPECT_EQ(scanner.CommandsReceived(CMD_WRITE_MEMORY), 2u);
}

// A module written from the loader at a chosen transfer speed, on a traced port, with the
// scanner's speed seen at every block.
class FastTransfer : public Operations, public CTraceSink {
protected:
    CSimScanner& Loader(SimConfig config = {})
    {
        config.startMode = MODE_LOADER;
        CSimScanner& scanner = ports.AddScanner(kPort, config);
        OpenComPort(traced, kPort, BaudFromCode(config.speedCode), 3000);
        protocol.SetDevice(&traced);
        firmware.modules.push_back(Module(1, 0x10000, 256, 4));
        return scanner;
    }
    // Writes the module asking for code; the scanner's speed code at each block.
    std::vector<int> Write(CSimScanner& scanner, int code)
    {
        struct Speeds : CMessageInterface {
            CSimScanner* scanner;
            std::vector<int> codes;
            void ShowMessage(const char*) override { codes.push_back(scanner->SpeedCode()); }
        } speeds;
        speeds.scanner = &scanner;
        WriteModuleFast(protocol, firmware.modules[0], speeds, -1, code, &report);
        return speeds.codes;
    }
    unsigned SpeedWrites(int code) const
    {
        const std::vector<uint8_t> asked = SimRequest(CMD_BAUD_RATE, {uint8_t(code)});
        const std::vector<uint8_t>& sent = ports.Sent(kPort);
        unsigned n = 0;
        for (auto at = sent.begin();
             (at = std::search(at, sent.end(), asked.begin(), asked.end())) != sent.end(); ++at)
            ++n;
        return n;
    }
    void Frame(const std::string&, TraceDirection, const unsigned char*, unsigned, const char*, int,
               const char*) override {}
    void Event(const std::string&, const std::string& what) override { events.push_back(what); }

    std::vector<std::string> events;
    CTracedPortSystem tracedPorts{ports, *this};
    CComDevice traced{tracedPorts, host};
    CTransferReport report;
};

TEST_F(FastTransfer, WritesAtTheSpeedAskedAndGoesBack)
{
    CSimScanner& scanner = Loader();
    EXPECT_EQ(Write(scanner, 9), std::vector<int>(4, 9));
    EXPECT_EQ(scanner.Dump(0x10000, 1024), ModuleImage(firmware.modules[0]));
    EXPECT_EQ(scanner.SpeedCode(), 2);
    EXPECT_EQ(traced.GetBaudRate(), 9600u);
    EXPECT_EQ(report.baud, 921600u);
    EXPECT_TRUE(report.remark.empty());
    EXPECT_FALSE(report.keepBaseSpeed);
}

TEST_F(FastTransfer, RefusedSpeedOrOneThePortCannotMakeKeeps115200)
{
    SimConfig config;
    config.maxSpeedCode = 8;
    CSimScanner& scanner = Loader(config);
    EXPECT_EQ(Write(scanner, 9), std::vector<int>(4, 6));
    EXPECT_EQ(report.baud, 115200u);
    EXPECT_TRUE(report.remark.empty());
    EXPECT_EQ(scanner.SpeedCode(), 2);
    EXPECT_THAT(events, testing::Contains("transfer speed 921600 refused, status 4; 115200 kept"));

    // The scanner is never sent where its port cannot follow.
    ports.LimitSpeed(kPort, 230400);
    report = CTransferReport();
    EXPECT_EQ(Write(scanner, 8), std::vector<int>(4, 6));
    EXPECT_EQ(SpeedWrites(8), 0u);
    EXPECT_EQ(scanner.Dump(0x10000, 1024), ModuleImage(firmware.modules[0]));
}

TEST_F(FastTransfer, SpeedThatFailsItsCheckFallsBackOnceAndSaysSo)
{
    // The scanner acknowledges 921600 and stays at 9600.
    SimConfig config;
    config.highestSpeedTaken = 8;
    CSimScanner& scanner = Loader(config);
    EXPECT_EQ(Write(scanner, 9), std::vector<int>(4, 6));
    EXPECT_EQ(report.baud, 115200u);
    EXPECT_EQ(report.remark,
              "Запись шла на скорости 115200 бод: на скорости 921600 бод сканер не прошёл проверку связи.");
    EXPECT_EQ(scanner.Dump(0x10000, 1024), ModuleImage(firmware.modules[0]));
    EXPECT_EQ(scanner.SpeedCode(), 2);
    // A retry of the run does not ask for it again.
    EXPECT_EQ(Write(scanner, 9), std::vector<int>(4, 6));
    EXPECT_EQ(SpeedWrites(9), 1u);
}

TEST_F(FastTransfer, LineThatCannotCarryTheSpeedFailsWithinSecondsNamingIt)
{
    SimConfig config;
    config.maxLineBaud = 460800;
    CSimScanner& scanner = Loader(config);
    const uint64_t start = host.NowMs();
    try {
        Write(scanner, 9);
        FAIL() << "no failure";
    } catch (const test_exception& e) {
        EXPECT_EQ(e.Text(), "Сканер не отвечает после перехода на скорость записи 921600 бод: линия или "
                            "адаптер её не передают. Выключите и снова включите сканер и повторите "
                            "обновление; если это повторится, выберите меньшую скорость записи.");
    }
    EXPECT_LT(host.NowMs() - start, 2000u);
    EXPECT_TRUE(report.stranded && report.keepBaseSpeed);
    EXPECT_EQ(report.baud, 0u);
    EXPECT_EQ(SpeedWrites(9), 1u);
    EXPECT_EQ(scanner.CommandsReceived(CMD_WRITE_MEMORY), 0u);
}

TEST_F(Operations, SwitchToWorkingModeStartsApplication)
{
    SimConfig config;
    config.startMode = MODE_LOADER;
    CSimScanner& scanner = Attach(config);
    Run(SwitchToWorkingMode);
    EXPECT_EQ(scanner.Mode(host.NowUs()), MODE_APPLICATION);
}

TEST(ProgressText, RateIsComputedInSixtyFourBits)
{
    EXPECT_EQ(ProgressText(1, 4, 1024, 999), "Выполнено:  25% (1024 байт/cек.)");
    EXPECT_EQ(ProgressText(4, 4, 1024, 0), "Выполнено: 100% (4096000 байт/cек.)");
    // 8 MB written in 80 s: the product exceeds 32 bits.
    EXPECT_EQ(ProgressText(2048, 2048, 4096, 79999), "Выполнено: 100% (104857 байт/cек.)");
}

}  // namespace
