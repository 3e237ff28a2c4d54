#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/operations.h"
#include "engine/run_loop.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"
#include "support/catalogue_view.h"
#include "support/firmware_builder.h"
#include "support/temp_folder.h"

namespace {

constexpr const char* kPort = "COM7";

class RecordingView : public CCatalogueView {
public:
    RecordingView() { history.resize(status.size()); }
    void SetRowStatus(int row, const std::string& text) override
    {
        status[row] = text;
        history[row].push_back(text);
    }
    void SetTitle(const std::string& text) override { titles.push_back(text); }

    std::vector<std::vector<std::string>> history;
    std::vector<std::string> titles;
};

class RunLoop : public testing::Test {
protected:
    void SetUp() override
    {
        settings.portName = kPort;
        settings.baudCode = 2;
        settings.timeout = 500;
        settings.firmwareFile = (folder.Path() / "run_loop_firmware.ldr").string();
        firmware = BuildFile({BuildModule(ldr::computational, 0x0100, 0x40000, 256, 4,
                                          [](uint32_t b, uint32_t i) {
                                              return static_cast<uint8_t>(b * 3 + i);
                                          })});
        image = ModuleImage(firmware.modules[0]);
        ldr::save(settings.firmwareFile, firmware);
    }
    // Tests run side by side in separate processes: each one writes its own file.
    CTempFolder folder{"trelvo-run-loop-"};
    CVirtualHost host;
    CSimPortSystem ports{host};
    RecordingView view;
    CRunSettings settings;
    CRunEngine engine{host, ports, view, settings, "1.3.2"};
    ldr::file firmware;
    std::vector<uint8_t> image;
};

TEST_F(RunLoop, FullRunFlashesAndReturnsToWorkingProgram)
{
    SimConfig config;
    config.speedCode = 5;
    config.serialNumber = 1234567;
    CSimScanner& scanner = ports.AddScanner(kPort, config);
    engine.Start();
    for (const auto& box : host.Boxes())
        ADD_FAILURE() << box.text;
    EXPECT_EQ(view.status, (std::vector<std::string>{"OK", "OK"}));
    EXPECT_EQ(scanner.Dump(0x40000, image.size()), image);
    EXPECT_EQ(scanner.Mode(host.NowUs()), 0);
    EXPECT_TRUE(host.Boxes().empty());
    EXPECT_EQ(engine.serialNumber, 1234567u);
    EXPECT_EQ(view.titles.front(), "COM7 (з/н: ?) - Обновление прошивок в сканерах QZT 1.3.2");
    // The number read on row 0 shows from row 1 on.
    EXPECT_EQ(view.titles.back(), "COM7 (з/н: 1234567) - Обновление прошивок в сканерах QZT 1.3.2");
    // Progress reached the row before its status.
    EXPECT_THAT(view.history[0][view.history[0].size() - 2], testing::StartsWith("Выполнено: 100%"));
    EXPECT_EQ(settings.baudCode, 2);   // the port closed after the last row: code unchanged
}

// The system gives the restarted scanner another name while a program still holds its
// old one: the switch follows it there by its USB identity, and so does the next row.
TEST_F(RunLoop, UsbScannerBackUnderAnotherNameIsFollowed)
{
    SimConfig config;
    config.usbCdc = true;
    config.serialNumber = 1200341;
    CSimScanner& scanner = ports.AddScanner(kPort, config);
    ports.ReturnUnderName(kPort, "COM8");
    const uint64_t start = host.NowMs();
    engine.Start();
    for (const auto& box : host.Boxes())
        ADD_FAILURE() << box.text;
    EXPECT_EQ(view.status, (std::vector<std::string>{"OK", "OK"}));
    EXPECT_EQ(scanner.Dump(0x40000, image.size()), image);
    EXPECT_EQ(scanner.Mode(host.NowUs()), 0);
    EXPECT_EQ(scanner.Restarts(), 2u);
    EXPECT_EQ(settings.portName, "COM8");
    EXPECT_EQ(view.titles.back(), "COM8 (з/н: 1200341) - Обновление прошивок в сканерах QZT 1.3.2");
    EXPECT_LT(host.NowMs() - start, 20000u);   // no wait ran out on the old name
}

TEST_F(RunLoop, FailureAnsweredYesRetriesTheRowThenNoEndsTheRun)
{
    CSimScanner& scanner = ports.AddScanner(kPort);
    scanner.SetExpectedImage({{0x40000, std::vector<uint8_t>(1024, 0)}});   // never matches
    host.QueueAnswers({true, false});
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 2u);
    EXPECT_EQ(host.Boxes()[0].text,
              "Контрольная сумма прошивки не сошлась\r\n\r\nПродолжить выполнение?");
    EXPECT_EQ(host.Boxes()[0].caption, "Ошибка");
    EXPECT_EQ(host.Boxes()[0].owner, &view);
    // The run ended with the scanner in its loader: the row says so.
    EXPECT_EQ(view.status, (std::vector<std::string>{
                               "Ошибка. Сканер остался в режиме загрузчика на скорости 9600 бод: "
                               "обновление нужно запустить ещё раз.",
                               ""}));
    // The whole module went out twice.
    EXPECT_EQ(scanner.CommandsReceived(CMD_WRITE_MEMORY), 2u * 4u * 2u);
    EXPECT_EQ(scanner.SpeedCode(), 2);
}

TEST_F(RunLoop, ARetriedTransferLeavesTheScannerAtTheSpeedItWasFoundAt)
{
    // The first transfer fails at 115200; the retry starts there.
    SimConfig config;
    config.speedCode = 4;
    CSimScanner& scanner = ports.AddScanner(kPort, config);
    scanner.AddFault({CMD_WRITE_MEMORY, SimFault::ErrorStatus, 1, 147});
    host.QueueAnswers({true});
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(view.status, (std::vector<std::string>{"OK", "OK"}));
    EXPECT_EQ(scanner.SpeedCode(), 4);
    EXPECT_EQ(engine.foundSpeedCode, 4);
    EXPECT_EQ(engine.leftNote, "");
}

TEST_F(RunLoop, AFallenBackTransferEndsOkSayingSo)
{
    SimConfig config;
    config.highestSpeedTaken = 8;   // acknowledges 921600 and stays where it is
    CSimScanner& scanner = ports.AddScanner(kPort, config);
    settings.transferSpeedCode = 9;
    engine.Start();
    EXPECT_EQ(view.status, (std::vector<std::string>{
                               "OK. Запись шла на скорости 115200 бод: на скорости 921600 бод "
                               "сканер не прошёл проверку связи.",
                               "OK"}));
    EXPECT_EQ(engine.transfer.baud, 115200u);
    EXPECT_EQ(scanner.Dump(0x40000, image.size()), image);
    EXPECT_EQ(scanner.SpeedCode(), 2);
}

// A line that cannot carry the speed loses the scanner: the operator is told to switch
// it off and on, and no speed it is "left at" is made up.
TEST_F(RunLoop, AScannerLostAtTheTransferSpeedIsNotSaidToBeAtAnySpeed)
{
    SimConfig config;
    config.maxLineBaud = 460800;
    CSimScanner& scanner = ports.AddScanner(kPort, config);
    settings.transferSpeedCode = 9;
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_THAT(host.Boxes()[0].text, testing::StartsWith(
                    "Сканер не отвечает после перехода на скорость записи 921600 бод"));
    EXPECT_EQ(view.status[0], "Ошибка");
    EXPECT_EQ(engine.leftNote, "");
    EXPECT_EQ(scanner.SpeedCode(), 9);
}

TEST_F(RunLoop, FailureOnAFastScannerRecordsItsExactSpeedForTheRetry)
{
    SimConfig config;
    config.speedCode = 8;
    ports.AddScanner(kPort, config);
    settings.baudCode = 8;
    static int failures;
    failures = 1;
    view.operations[0].function = [](OperationContext*) {
        if (failures-- > 0)
            throw test_exception(std::string("first attempt"));
    };
    host.QueueAnswers({true, false});
    engine.Start();
    // The retry opened at 460800 again, where the scanner is; the search never tries it.
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(view.status[0], "OK");
    EXPECT_EQ(settings.baudCode, 8);
}

TEST_F(RunLoop, OtherScannerOnSecondRowFailsBeforeItsOperation)
{
    CSimScanner& scanner = ports.AddScanner(kPort);
    static CSimScanner* swapped;
    swapped = &scanner;
    view.operations[0].function = [](OperationContext* context) {
        UpdateFirmware(context);
        swapped->MutableConfig().uniqueId[0] ^= 0xFF;
    };
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].text,
              "Тест должен проводится для одного и того же сканера.\r\n\r\nПродолжить выполнение?");
    EXPECT_THAT(view.status[1], testing::StartsWith("Ошибка. Сканер остался в режиме загрузчика"));
    EXPECT_EQ(scanner.Mode(host.NowUs()), 1);   // the second operation never ran
}

TEST_F(RunLoop, UnreadUniqueIdIsUnknownNotAnotherScanner)
{
    // The first row's identifier read gets no answer: the second row's read becomes the
    // reference instead of being compared with zeros.
    CSimScanner& scanner = ports.AddScanner(kPort);
    scanner.AddFault({CMD_GET_UNIQUE_ID, SimFault::Busy, 3});
    engine.Start();
    for (const auto& box : host.Boxes())
        ADD_FAILURE() << box.text;
    EXPECT_EQ(view.status, (std::vector<std::string>{"OK", "OK"}));
    ASSERT_TRUE(engine.scannerId.has_value());
    EXPECT_EQ(*engine.scannerId, scanner.Config().uniqueId);
    EXPECT_EQ(scanner.Mode(host.NowUs()), 0);
}

TEST_F(RunLoop, StopDuringTransferInterruptsWithoutBoxAndPutsTheScannerBack)
{
    CSimScanner& scanner = ports.AddScanner(kPort);
    static CVirtualHost* stopHost;
    static CSimScanner* lost;
    stopHost = &host;
    lost = nullptr;
    view.operations[0].function = [](OperationContext* context) {
        struct StopSink : CMessageInterface {
            void ShowMessage(const char*) override
            {
                stopHost->RequestStop(0);
                if (lost)
                    lost->AddFault({-1, SimFault::NoReply, 1000});
            }
        } sink;
        context->sink = &sink;
        UpdateFirmware(context);
    };
    engine.Start();
    // Stopped mid-transfer, the scanner stays in its loader (the safe state), back at the
    // speed it was found at, and the row says so.
    EXPECT_EQ(view.status, (std::vector<std::string>{
                               "Прервано. Сканер остался в режиме загрузчика на скорости 9600 бод: "
                               "обновление нужно запустить ещё раз.",
                               ""}));
    EXPECT_TRUE(host.Boxes().empty());
    EXPECT_EQ(scanner.SpeedCode(), 2);
    EXPECT_EQ(settings.baudCode, 2);

    // Where it cannot be reached any more, the row says where it was left.
    lost = &scanner;
    engine.Start();
    EXPECT_EQ(view.status[0], "Прервано. Скорость сканера не восстановлена: он оставлен на скорости "
                              "115200 бод.");
}

TEST_F(RunLoop, StopThatCameWithAFailureEndsTheRunWithoutAQuestion)
{
    ports.AddScanner(kPort);
    static CVirtualHost* stopHost;
    stopHost = &host;
    view.operations[0].function = [](OperationContext*) {
        // The operator pressed Stop while the failing step had no chance to pump.
        stopHost->RequestStop(0);
        throw test_exception(std::string("the step failed"));
    };
    engine.Start();
    EXPECT_TRUE(host.Boxes().empty());
    EXPECT_EQ(view.status, (std::vector<std::string>{"Прервано", ""}));
    EXPECT_TRUE(engine.stopped);
}

TEST_F(RunLoop, MissingPortAsksToContinueWithPortMessage)
{
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].text,
              "COM-порт недоступен. Подключите сканер кабелем.\r\n\r\nПродолжить выполнение?");
    EXPECT_EQ(view.status, (std::vector<std::string>{"Ошибка", ""}));
}

TEST_F(RunLoop, SilentScannerIsNoLink)
{
    ports.AddSilentPort(kPort);
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].text, "(-1) Нет связи\r\n\r\nПродолжить выполнение?");
}

// Under a driver that lets requests on a pulled port simply time out, the run's watch
// on its port sees the port gone at the next pump: told at once, not after time-outs.
TEST_F(RunLoop, APulledPortIsToldAtOnceWhenItsDriverOnlyFallsSilent)
{
    CSimScanner& scanner = ports.AddScanner(kPort);
    ports.SetRemovalError(kPort, kErrorSuccess);
    scanner.AddFault({CMD_WRITE_MEMORY, SimFault::CutLine, 1});
    settings.timeout = 30000;
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].text, "Сканер или адаптер отключён от порта COM7. Проверьте "
                                    "подключение и повторите.\r\n\r\nПродолжить выполнение?");
    EXPECT_LT(host.NowMs(), 5000u);
}

TEST_F(RunLoop, FirmwareFileFailureEndsRunBeforeAnyRow)
{
    ports.AddScanner(kPort);
    settings.firmwareFile = (folder.Path() / "no_such_firmware.ldr").string();
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 1u);
    EXPECT_EQ(host.Boxes()[0].kind, MessageBoxKind::Error);
    EXPECT_EQ(host.Boxes()[0].owner, &view);
    EXPECT_EQ(host.Boxes()[0].text,
              "Ldr-файл не найден. Проверьте правильность указания каталога и/или имени файла. "
              "Файл: \"" + settings.firmwareFile + "\".");
    EXPECT_EQ(view.status, (std::vector<std::string>{"", ""}));

    // A file without the module the update writes is refused before the scanner is
    // switched to its loader.
    CSimScanner& scanner = ports.AddScanner("COM8");
    settings.portName = "COM8";
    settings.firmwareFile = (folder.Path() / "no_module.ldr").string();
    ldr::save(settings.firmwareFile, BuildFile({BuildModule(ldr::peripheral, 0x0100, 0, 256, 1,
                                                            [](uint32_t, uint32_t) { return 0; })}));
    engine.Start();
    ASSERT_EQ(host.Boxes().size(), 2u);
    EXPECT_EQ(host.Boxes()[1].text, "Прошивка отсутствует: в ldr-файле \"" + settings.firmwareFile +
                                        "\" нет модуля \"Вычислительный модуль\".");
    EXPECT_EQ(scanner.CommandsReceived(), 0u);
}

TEST(MainTitle, Forms)
{
    EXPECT_EQ(MainTitle("COM3", "1234567", "1.3.2"),
              "COM3 (з/н: 1234567) - Обновление прошивок в сканерах QZT 1.3.2");
    EXPECT_EQ(MainTitle("COM3", nullptr, "1.3.2"), "COM3 - Обновление прошивок в сканерах QZT 1.3.2");
}

}  // namespace
