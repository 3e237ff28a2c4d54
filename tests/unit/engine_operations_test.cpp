#include "support/engine_fixture.h"
#include "support/firmware_builder.h"

#include <gmock/gmock.h>

#include <vector>

#include "base/host.h"
#include "engine/operations.h"
#include "firmware/ldr.h"

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
