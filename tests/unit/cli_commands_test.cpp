// trelvo-cli's commands on the in-process simulator: what they print, what they leave in
// the scanner and the settings file, and the exit codes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "base/strings.h"
#include "base/utf.h"
#include "cli/commands.h"
#include "cli/multi_update.h"
#include "firmware/ldr.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "engine/multi_port.h"
#include "settings/profile_ini.h"
#include "sim/sim_port_system.h"
#include "support/firmware_builder.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kImageBase = 0x10000;
constexpr uint32_t kBlockSize = 256;
constexpr unsigned kBlocks = 4;
constexpr unsigned char kFlashWriteError = 147;

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string Lines(std::initializer_list<std::string> lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

ldr::module MakeModule(uint16_t kind, uint16_t version, unsigned blocks, uint32_t seed)
{
    std::mt19937 random(seed);
    return BuildModule(kind, version, kImageBase, kBlockSize, blocks,
                       [&](uint32_t, uint32_t) { return static_cast<uint8_t>(random()); });
}

class CliRun : public testing::Test {
protected:
    void SetUp() override
    {
        firmware = BuildFile({MakeModule(ldr::peripheral, 0x0101, 1, 7),
                              MakeModule(ldr::computational, 0x0306, kBlocks, 11)});
        ldr::save(Path("fw.ldr"), firmware);
    }

    std::string Path(const std::string& name) const { return (dir / name).u8string(); }
    std::string SettingsPath() const { return Path("trelvo.ini"); }
    void WriteFile(const std::string& name, const std::string& text) const
    {
        std::ofstream file(fs::u8path(Path(name)), std::ios::binary);
        file << text;
    }
    std::string ReadFile(const std::string& name) const
    {
        std::ifstream file(fs::u8path(Path(name)), std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

    int Run(std::vector<std::string> args)
    {
        out.str("");
        err.str("");
        const CCliEnvironment env{ports, host, out, err, terminal, CCliTerminal{}, SettingsPath()};
        return RunCli(args, env);
    }

    CSimScanner& AddScanner(const std::string& port, int speedCode)
    {
        SimConfig config;
        config.speedCode = speedCode;
        return ports.AddScanner(port, config);
    }

    std::vector<uint8_t> ImageInScanner(const CSimScanner& scanner) const
    {
        return scanner.Dump(kImageBase, kBlocks * kBlockSize);
    }
    std::vector<uint8_t> Image() const { return ModuleImage(firmware.modules[1]); }

    CVirtualHost host;
    CSimPortSystem ports{host};
    CTempFolder folder{"trelvo-cli-"};
    const fs::path dir = folder.Path();
    ldr::file firmware;
    std::ostringstream out;
    std::ostringstream err;
    bool terminal = false;
};

}  // namespace

TEST_F(CliRun, HelpAndUsageErrors)
{
    EXPECT_EQ(Run({"--help"}), kExitOk);
    EXPECT_EQ(out.str(), CliHelpText());
    EXPECT_EQ(Run({}), kExitUsage);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), Lines({"trelvo-cli: не задана команда", CliUsageHint()}));
    EXPECT_EQ(Run({"check", "--speed", "12"}), kExitUsage);
    EXPECT_EQ(Run({"check", "--version"}), kExitOk);
    EXPECT_EQ(out.str(), std::string("trelvo-cli ") + TRELVO_VERSION_TEXT + "\n");
}

TEST_F(CliRun, PortsOnePerLineWithTheUsbIdentityOfUsbPorts)
{
    AddScanner("COM3", 2);
    ports.AddSilentPort("COM10");
    SimConfig usb;
    usb.usbCdc = true;
    usb.serialNumber = 1200341;
    ports.AddScanner("COM11", usb);
    EXPECT_EQ(Run({"ports"}), kExitOk);
    EXPECT_EQ(out.str(), Lines({"COM3", "COM10", "COM11\t0647\t3339\t1200341\t1-3"}));
}

TEST_F(CliRun, CheckTakesTheSettingsFileAndTheOptionsOverIt)
{
    AddScanner("COM3", 5);
    ports.AddSilentPort("COM4");
    WriteFile("trelvo.ini", "[Connect]\r\nPortName=COM3\r\nBaudRate=5\r\nTimeout=500\r\n");

    EXPECT_EQ(Run({"check"}), kExitOk);
    EXPECT_EQ(out.str(), ModelText(150) + "\n");

    // At the wrong speed the link check finds nothing: it does not search.
    EXPECT_EQ(Run({"check", "--speed", "2"}), kExitNotFound);
    EXPECT_EQ(out.str(), Lines({"Не обнаружено"}));
    EXPECT_EQ(Run({"check", "--port", "COM4"}), kExitNotFound);

    EXPECT_EQ(Run({"check", "--port", "COM9"}), kExitFailure);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str(), "");
}

TEST_F(CliRun, SettingsThatCannotBeUsedAreUsageErrors)
{
    AddScanner("COM3", 2);
    // No file at the default place: defaults, but a port is needed.
    EXPECT_EQ(Run({"check"}), kExitUsage);
    EXPECT_NE(err.str().find("--port"), std::string::npos);
    EXPECT_EQ(Run({"check", "--port", "COM3"}), kExitOk);

    // A file named explicitly must exist.
    EXPECT_EQ(Run({"check", "--port", "COM3", "--settings", Path("none.ini")}), kExitUsage);
    EXPECT_NE(err.str().find("none.ini"), std::string::npos);
    // One that exists but is a folder is not "not found".
    fs::create_directory(fs::u8path(Path("folder.ini")));
    EXPECT_EQ(Run({"check", "--port", "COM3", "--settings", Path("folder.ini")}), kExitUsage);
    EXPECT_NE(err.str().find("\"" + Path("folder.ini") + "\" не является обычным файлом"),
              std::string::npos) << err.str();
    // Nor is a file too large to be settings.
    WriteFile("huge.ini", "[Connect]\nPortName=COM3\n" + std::string(kMaxSettingsFileSize, ';'));
    EXPECT_EQ(Run({"check", "--settings", Path("huge.ini")}), kExitUsage);
    EXPECT_NE(err.str().find("слишком велик"), std::string::npos) << err.str();

    WriteFile("bad.ini", "[connect]\nportname=COM3\nbaudrate=12\ntimeout=fast\n");
    EXPECT_EQ(Run({"check", "--settings", Path("bad.ini")}), kExitUsage);
    EXPECT_NE(err.str().find("[Connect] BaudRate"), std::string::npos);
    EXPECT_EQ(Run({"check", "--settings", Path("bad.ini"), "--speed", "2"}), kExitUsage);
    EXPECT_NE(err.str().find("[Connect] Timeout"), std::string::npos);
    // Values the options replace are not looked at.
    EXPECT_EQ(Run({"check", "--settings", Path("bad.ini"), "--speed", "2", "--timeout", "300"}),
              kExitOk);

    WriteFile("trelvo.ini", "[Connect]\nPortName=COM3\n");
    EXPECT_EQ(Run({"update"}), kExitUsage);
    EXPECT_NE(err.str().find("--firmware"), std::string::npos);

    // A transfer speed below 115200 is no choice the Windows program offers.
    WriteFile("trelvo.ini", "[Connect]\nPortName=COM3\n[Firmware]\nFileName=" + Path("none.ldr") +
                                "\nTransferSpeed=5\n");
    EXPECT_EQ(Run({"update"}), kExitUsage);
    EXPECT_NE(err.str().find("[Firmware] TransferSpeed: код скорости записи должен быть от 6 до 9"),
              std::string::npos) << err.str();
    EXPECT_EQ(Run({"update", "--transfer-speed", "6"}), kExitFailure);   // on to the missing file
}

TEST_F(CliRun, SearchPrintsEveryPortAndFindsTheScannerAt57600)
{
    AddScanner("COM5", 5);
    ports.AddSilentPort("COM2");
    EXPECT_EQ(Run({"search", "COM2", "COM5", "COM9"}), kExitOk);
    std::istringstream lines(out.str());
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "COM2\t-\tНе обнаружено");
    std::getline(lines, line);
    EXPECT_EQ(line, "COM5\t57600\t" + ModelText(150));
    std::getline(lines, line);
    EXPECT_EQ(line.substr(0, 7), "COM9\t-\t");
    EXPECT_GT(line.size(), 7u) << "the port's error is shown";
    EXPECT_FALSE(std::getline(lines, line));

    EXPECT_EQ(Run({"search", "COM2"}), kExitNotFound);
    // Without ports: every port the system lists.
    EXPECT_EQ(Run({"search"}), kExitOk);
    EXPECT_NE(out.str().find("COM5\t57600\t"), std::string::npos);
}

TEST_F(CliRun, StopEndsTheSearchAtTheNextPump)
{
    ports.AddSilentPort("COM1");
    ports.AddSilentPort("COM2");
    host.StopAtPump(4);
    EXPECT_EQ(Run({"search"}), kExitStopped);
    EXPECT_EQ(out.str(), Lines({"COM1\t-\tПоиск остановлен"}));
    EXPECT_EQ(err.str(), "");

    // A stop that arrives during work that never pumps is taken when the work ends.
    AddScanner("COM3", 2);
    host.RequestStop(0);
    EXPECT_EQ(Run({"check", "--port", "COM3"}), kExitStopped);
}

TEST_F(CliRun, SetSpeedMovesTheScannerAndRecordsItForTheFilesPort)
{
    CSimScanner& scanner = AddScanner("COM3", 2);
    CSimScanner& other = AddScanner("COM4", 2);
    WriteFile("trelvo.ini", "; kept\r\n[Connect]\r\nPortName=COM3\r\nBaudRate=2\r\n[Own]\r\nx=1\r\n");

    EXPECT_EQ(Run({"set-speed", "5"}), kExitOk);
    EXPECT_EQ(out.str(), "57600\n");
    EXPECT_EQ(scanner.SpeedCode(), 5);
    EXPECT_EQ(ReadFile("trelvo.ini"),
              "; kept\r\n[Connect]\r\nPortName=COM3\r\nBaudRate=5\r\n[Own]\r\nx=1\r\n");
    // The next command finds it at the recorded speed.
    EXPECT_EQ(Run({"check"}), kExitOk);

    // Another port's scanner does not change the file.
    EXPECT_EQ(Run({"set-speed", "6", "--port", "COM4", "--speed", "2"}), kExitOk);
    EXPECT_EQ(other.SpeedCode(), 6);
    EXPECT_NE(ReadFile("trelvo.ini").find("BaudRate=5"), std::string::npos);

    // Expected at the wrong speed: no answer.
    EXPECT_EQ(Run({"set-speed", "3", "--speed", "0"}), kExitNotFound);
    EXPECT_EQ(scanner.SpeedCode(), 5);
    EXPECT_NE(ReadFile("trelvo.ini").find("BaudRate=5"), std::string::npos);
}

TEST_F(CliRun, InfoPrintsTheDeviceInformationWithPlainLineEnds)
{
    AddScanner("COM3", 2);
    EXPECT_EQ(Run({"info", "--port", "COM3"}), kExitOk);
    const std::string text = out.str();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 13);
    EXPECT_NE(text.find("Заводской номер\t\t\t: 1234567\n"), std::string::npos);
    EXPECT_NE(text.find("Тип устройства\t\t\t: " + ModelText(150) + "\n"), std::string::npos);
}

TEST_F(CliRun, UpdateWritesTheImageAndEndsEachRowWithItsStatus)
{
    CSimScanner& scanner = AddScanner("COM3", 4);
    std::string error;
    ASSERT_TRUE(scanner.LoadExpectedModule(Path("fw.ldr"), error)) << error;
    WriteFile("trelvo.ini", "[Connect]\nPortName=COM3\nBaudRate=2\n[Firmware]\nFileName=" +
                                Path("fw.ldr") + "\n");
    const std::string before = ReadFile("trelvo.ini");

    EXPECT_EQ(Run({"update"}), kExitOk) << err.str();
    EXPECT_EQ(ImageInScanner(scanner), Image());
    EXPECT_EQ(scanner.Mode(host.NowUs()), 0);
    const std::string text = out.str();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    for (const char* percent : {" 25%", " 50%", " 75%", "100%"}) {
        EXPECT_NE(text.find(std::string("Обновление прошивки: Выполнено: ") + percent),
                  std::string::npos)
            << percent;
    }
    const size_t firstOk = text.find("\nОбновление прошивки: OK\n");
    const size_t secondOk = text.find("\nПереход в рабочий режим: OK\n");
    EXPECT_NE(firstOk, std::string::npos);
    EXPECT_NE(secondOk, std::string::npos);
    EXPECT_LT(firstOk, secondOk);
    EXPECT_TRUE(EndsWith(text, "\nПереход в рабочий режим: OK\n"));
    EXPECT_EQ(err.str(), "");
    // The run's final speed is not written back.
    EXPECT_EQ(ReadFile("trelvo.ini"), before);
}

TEST_F(CliRun, UpdateOnATerminalRewritesOneProgressLine)
{
    AddScanner("COM3", 2);
    terminal = true;
    EXPECT_EQ(Run({"update", "--port", "COM3", "--firmware", Path("fw.ldr")}), kExitOk);
    const std::string text = out.str();
    EXPECT_NE(text.find("\rОбновление прошивки: Выполнено:  50%"), std::string::npos);
    // The progress line is wiped before the row's status line.
    EXPECT_NE(text.find("\rОбновление прошивки: OK\n"), std::string::npos);
    EXPECT_EQ(text.find("%\n"), std::string::npos);
    EXPECT_EQ(text.find(")\n"), std::string::npos);
}

TEST_F(CliRun, UpdateFailuresRetriesAndExitCodes)
{
    CSimScanner& scanner = AddScanner("COM3", 2);
    std::string error;
    ASSERT_TRUE(scanner.LoadExpectedModule(Path("fw.ldr"), error)) << error;
    const std::vector<std::string> update{"update", "--port", "COM3", "--firmware", Path("fw.ldr")};

    // A refused write: without --retry and without a terminal the answer is No.
    scanner.AddFault({CMD_WRITE_MEMORY, SimFault::ErrorStatus, 1, kFlashWriteError});
    EXPECT_EQ(Run(update), kExitFailure);
    EXPECT_NE(out.str().find("Обновление прошивки: Ошибка\n"), std::string::npos);
    EXPECT_EQ(out.str().find("Переход в рабочий режим"), std::string::npos);
    // The message names the port as given.
    EXPECT_EQ(err.str(), "COM3: (147) Ошибка записи во флеш-память\n\nПродолжить выполнение? Нет\n");

    // With --retry the row runs again and the image is whole.
    scanner.AddFault({CMD_WRITE_MEMORY, SimFault::ErrorStatus, 1, kFlashWriteError});
    std::vector<std::string> retry = update;
    retry.insert(retry.end(), {"--retry", "2"});
    EXPECT_EQ(Run(retry), kExitOk);
    EXPECT_EQ(err.str(), "COM3: (147) Ошибка записи во флеш-память\n\nПродолжить выполнение? Да\n");
    const std::string text = out.str();
    EXPECT_LT(text.find("Обновление прошивки: Ошибка\n"), text.find("Обновление прошивки: OK\n"));
    EXPECT_EQ(ImageInScanner(scanner), Image());

    // The retries run out: the last answer is No.
    scanner.AddFault({CMD_WRITE_MEMORY, SimFault::ErrorStatus, 3, kFlashWriteError});
    EXPECT_EQ(Run(retry), kExitFailure);
    EXPECT_NE(err.str().find("Да\n"), std::string::npos);
    EXPECT_TRUE(EndsWith(err.str(), "? Нет\n"));
}

TEST_F(CliRun, UpdateWithoutAScannerOrFirmwareFile)
{
    ports.AddSilentPort("COM3");
    EXPECT_EQ(Run({"update", "--port", "COM3", "--firmware", Path("fw.ldr")}), kExitNotFound);
    EXPECT_NE(err.str().find("(-1) Нет связи"), std::string::npos);

    AddScanner("COM4", 2);
    EXPECT_EQ(Run({"update", "--port", "COM4", "--firmware", Path("missing.ldr")}), kExitFailure);
    EXPECT_EQ(out.str(), "") << "no row runs without a firmware file";
    EXPECT_NE(err.str(), "");
}

// A scanner that answers busy, and one pulled mid-update, are failures of their own
// (exit 1) with their own messages, not "no scanner answered" (exit 3).
TEST_F(CliRun, BusyAndPulledScannersAreNamedForWhatTheyAre)
{
    CSimScanner& busy = AddScanner("COM3", 2);
    busy.AddFault({CMD_GET_INFO, SimFault::Busy, 3});
    EXPECT_EQ(Run({"check", "--port", "COM3"}), kExitFailure);
    EXPECT_EQ(err.str(), "COM3: (2) Команда не может быть выполнена в данный момент\n");

    CSimScanner& pulled = AddScanner("COM4", 2);
    pulled.AddFault({CMD_WRITE_MEMORY, SimFault::CutLine, 1});
    const uint64_t start = host.NowMs();
    // The message names the port itself, so the port is not put in front again.
    EXPECT_EQ(Run({"update", "--port", "COM4", "--firmware", Path("fw.ldr")}), kExitFailure);
    EXPECT_EQ(err.str(), "Сканер или адаптер отключён от порта COM4. Проверьте подключение и "
                         "повторите.\n\nПродолжить выполнение? Нет\n");
    EXPECT_LT(host.NowMs() - start, 5000u);   // the scanner's restart, no time-outs
}

TEST_F(CliRun, StopDuringTheUpdateInterruptsTheRow)
{
    AddScanner("COM3", 2);
    host.StopAtPump(8);
    EXPECT_EQ(Run({"update", "--port", "COM3", "--firmware", Path("fw.ldr")}), kExitStopped);
    EXPECT_NE(out.str().find(": Прервано\n"), std::string::npos);
    EXPECT_EQ(err.str(), "");
}

TEST_F(CliRun, UpdateChecksItsFilesBeforeTouchingAScanner)
{
    CSimScanner& scanner = AddScanner("COM3", 2);
    const std::vector<std::string> update{"update", "--port", "COM3", "--firmware", Path("fw.ldr")};
    // No computational module: nothing to write, said before the loader is started.
    ldr::save(Path("peripheral.ldr"), BuildFile({MakeModule(ldr::peripheral, 0x0101, 1, 7)}));
    EXPECT_EQ(Run({"update", "--port", "COM3", "--firmware", Path("peripheral.ldr")}), kExitFailure);
    EXPECT_EQ(err.str(), "Прошивка отсутствует: в ldr-файле \"" + Path("peripheral.ldr") +
                             "\" нет модуля \"Вычислительный модуль\".\n");
    // A log or a trace that cannot be written is a usage error naming it and the reason.
    std::vector<std::string> logged = update;
    logged.insert(logged.end(), {"--log", Path("missing/r.jsonl")});
    EXPECT_EQ(Run(logged), kExitUsage);
    EXPECT_EQ(err.str().rfind("trelvo-cli: Журнал \"" + Path("missing/r.jsonl") +
                                  "\" не удаётся открыть для записи: нет такого файла или каталога (",
                              0),
              0u)
        << err.str();
    fs::create_directory(fs::u8path(Path("folder")));
    logged.back() = Path("folder");
    EXPECT_EQ(Run(logged), kExitUsage);
    EXPECT_NE(err.str().find(": это каталог\n"), std::string::npos) << err.str();
    std::vector<std::string> traced = update;
    traced.insert(traced.end(), {"--trace", Path("folder")});
    EXPECT_EQ(Run(traced), kExitUsage);
    EXPECT_EQ(ports.OpenCount("COM3"), 0u);
    EXPECT_EQ(scanner.CommandsReceived(), 0u);
}

TEST_F(CliRun, SettingsAsTheWindowsProgramWritesThem)
{
    CSimScanner& scanner = AddScanner("COM3", 5);
    // UTF-16 with its byte-order mark, as the Windows program starts a file.
    const auto utf16 = [](const std::string& utf8) {
        std::string bytes = "\xFF\xFE";
        for (wchar_t c : Widen(utf8)) {
            bytes += char(c & 0xFF);
            bytes += char((c >> 8) & 0xFF);
        }
        return bytes;
    };
    WriteFile("trelvo.ini", utf16("; комментарий\r\n[Connect]\r\nPortName=COM3\r\nBaudRate=5\r\n"));
    EXPECT_EQ(Run({"check"}), kExitOk) << err.str();
    EXPECT_EQ(Run({"set-speed", "3"}), kExitOk) << err.str();
    EXPECT_EQ(scanner.SpeedCode(), 3);
    EXPECT_EQ(ReadFile("trelvo.ini").substr(0, 2), "\xFF\xFE");
    EXPECT_EQ(Run({"check", "--speed", "3"}), kExitOk) << err.str();
    // Checked as strictly as any other file.
    WriteFile("trelvo.ini", utf16("[Connect]\r\nPortName=COM3\r\nBaudRate=abc\r\n"));
    EXPECT_EQ(Run({"check"}), kExitUsage);
    EXPECT_NE(err.str().find("[Connect] BaudRate"), std::string::npos) << err.str();

    // Bytes that are no text are refused, naming the file.
    std::mt19937 random(5);
    std::string binary(3072, '\0');
    for (char& c : binary)
        c = static_cast<char>(random());
    WriteFile("trelvo.ini", binary);
    EXPECT_EQ(Run({"check"}), kExitUsage);
    EXPECT_NE(err.str().find("\"" + SettingsPath() + "\" не является текстом"), std::string::npos)
        << err.str();
}

TEST_F(CliRun, SetSpeedLeavesAReadOnlySettingsFileAsItIs)
{
    CSimScanner& scanner = AddScanner("COM3", 2);
    const std::string before = "[Connect]\r\nPortName=COM3\r\nBaudRate=2\r\n";
    WriteFile("trelvo.ini", before);
    fs::permissions(fs::u8path(SettingsPath()),
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(Run({"set-speed", "5"}), kExitFailure);
    EXPECT_EQ(scanner.SpeedCode(), 5);
    // Both speeds, and why the file could not take the new one.
    EXPECT_EQ(err.str().rfind("COM3: ", 0), std::string::npos);
    EXPECT_NE(err.str().find("он работает на 57600 бод, но файл настроек \"" + SettingsPath() +
                             "\" не записан: доступ запрещён ("),
              std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("В файле осталась скорость 9600 бод."), std::string::npos) << err.str();
    EXPECT_EQ(ReadFile("trelvo.ini"), before);
    fs::permissions(fs::u8path(SettingsPath()), fs::perms::owner_write, fs::perm_options::add);
}

TEST(CliResultLog, ARecordThatCannotBeWrittenGoesToTheErrorStreamWhole)
{
    CTempFolder folder("trelvo-log-");
    const std::string log = (folder.Path() / "gone" / "r.jsonl").u8string();
    CPortRunResult result;
    result.port = "COM3";
    result.serialNumber = 1234567;
    result.rowStatus = {IDS_STATUS_OK, IDS_STATUS_OK};
    std::ostringstream err;
    CUpdateFiles files;
    files.identity = CFirmwareIdentity{"fw.ldr", 10, "ab"};
    EXPECT_FALSE(WriteResultLog(log, files, {result}, err));
    const std::string text = err.str();
    EXPECT_EQ(text.rfind("Журнал не записан: " + log + ": нет такого файла или каталога (", 0), 0u)
        << text;
    const size_t record = text.find("\n{\"time\":");
    ASSERT_NE(record, std::string::npos) << text;
    EXPECT_NE(text.find("\"serial\":1234567", record), std::string::npos);
    EXPECT_TRUE(EndsWith(text, "}\n"));
}

TEST_F(CliRun, ModulesListsKindVersionAndSize)
{
    EXPECT_EQ(Run({"modules", Path("fw.ldr")}), kExitOk);
    EXPECT_EQ(out.str(),
              Lines({std::string(LoadText(ModuleKindTextId(0))) + "\t1.1\t" +
                         ModuleSizeText(firmware.modules[0]),
                     std::string(LoadText(ModuleKindTextId(1))) + "\t3.6\t" +
                         ModuleSizeText(firmware.modules[1])}));
    WriteFile("bad.ldr", "#LDX");
    EXPECT_EQ(Run({"modules", Path("bad.ldr")}), kExitFailure);
    EXPECT_EQ(out.str(), "");
    EXPECT_NE(err.str(), "");
}
