// The batch window's logic against simulated scanners, one per port, each on its own
// virtual clock: the search over every port at once, the update of the ticked ports with
// their results and the result log, Stop, and the refusals before anything starts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/string_ids.h"
#include "base/strings.h"
#include "connection/batch_update.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"
#include "support/firmware_builder.h"
#include "support/sim_port_environment.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

class BatchSession : public testing::Test {
protected:
    BatchSession()
    {
        firmware = BuildFile({BuildModule(ldr::computational, 0x0100, 0x40000, 256, 16,
                                          [](uint32_t b, uint32_t i) { return uint8_t(b * 5 + i); })});
        image = ModuleImage(firmware.modules[0]);
        settings.firmwareFile = (folder.Path() / "fw.ldr").string();
        ldr::save(settings.firmwareFile, firmware);
        settings.version = "9.8.7";
    }

    SimPort& Port(const std::string& name)
    {
        auto& port = sims[name];
        if (!port)
            port = std::make_unique<SimPort>();
        return *port;
    }
    // A scanner whose checksum verdict holds only for exactly the module's image.
    SimPort& AddScanner(const std::string& name, SimConfig config)
    {
        config.serialNumber = 1000 + uint32_t(sims.size());
        SimPort& port = Port(name);
        port.scanner = &port.ports.AddScanner(name, config);
        std::map<uint32_t, std::vector<uint8_t>> expected;
        for (const ldr::block_ref b : firmware.modules[0].blocks)
            expected[b.address].assign(b.data.begin(), b.data.end());
        port.scanner->SetExpectedImage(expected);
        return port;
    }

    // Ports named here but never added have nothing behind them (open fails).
    CBatchSession& Session()
    {
        session = std::make_unique<CBatchSession>(
            [this](const std::string& name) {
                {
                    std::unique_lock<std::mutex> lock(gateMutex);
                    gateOpen.wait(lock, [this] { return !gateClosed; });
                }
                return std::make_unique<SimEnvironment>(*sims.at(name));
            },
            [this] { ++wakes; });
        return *session;
    }

    // The window's side: takes the reports until the work has ended.
    void Finish()
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (session->Busy() && std::chrono::steady_clock::now() < limit) {
            session->Deliver();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_FALSE(session->Busy());
    }

    const CBatchRow& Row(const std::string& port) const
    {
        for (const CBatchRow& row : session->Rows())
            if (row.port == port)
                return row;
        throw std::runtime_error("no row " + port);
    }

    std::string Scanner(const std::string& port) const
    {
        return ModelText(150) + " (з/н: " + std::to_string(sims.at(port)->scanner->Config().serialNumber) + ")";
    }

    CTempFolder folder{"trelvo-batch-"};
    ldr::file firmware;
    std::vector<uint8_t> image;
    CBatchRunSettings settings;
    std::map<std::string, std::unique_ptr<SimPort>> sims;
    std::unique_ptr<CBatchSession> session;
    std::atomic<unsigned> wakes{0};
    std::mutex gateMutex;
    std::condition_variable gateOpen;
    bool gateClosed = false;
};

TEST_F(BatchSession, SearchTicksEveryScannerWithItsSpeedAndKeepsRowsAcrossRefreshes)
{
    SimConfig at57600;
    at57600.speedCode = 5;
    SimConfig at19200;
    at19200.speedCode = 3;
    AddScanner("COM1", SimConfig{});
    AddScanner("COM2", at57600);
    AddScanner("COM10", at19200);
    Port("COM3").ports.AddSilentPort("COM3");
    Port("COM4");
    CBatchSession& batch = Session();
    batch.SetPorts({"COM10", "COM3", "COM1", "COM4", "COM2", "COM1"});
    ASSERT_EQ(batch.Rows().size(), 5u);
    for (const CBatchRow& row : batch.Rows())
        EXPECT_FALSE(row.ticked) << row.port;
    EXPECT_TRUE(batch.SetTicked(2, true));   // COM3: the search decides again

    batch.StartSearch();
    EXPECT_FALSE(batch.SetPorts({"COM1"}));
    EXPECT_FALSE(batch.SetTicked(0, false));
    Finish();

    std::vector<std::string> order;
    for (const CBatchRow& row : batch.Rows())
        order.push_back(row.port);
    EXPECT_EQ(order, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM10"}));
    const std::map<std::string, std::pair<std::string, int>> found = {
        {"COM1", {"9600", 2}}, {"COM2", {"57600", 5}}, {"COM10", {"19200", 3}}};
    for (const auto& [port, speed] : found) {
        SCOPED_TRACE(port);
        EXPECT_TRUE(Row(port).ticked);
        EXPECT_EQ(Row(port).speed, speed.first);
        EXPECT_EQ(Row(port).speedCode, speed.second);
        EXPECT_EQ(Row(port).scanner, Scanner(port));
        EXPECT_EQ(Row(port).state, "");
        EXPECT_FALSE(sims.at(port)->ports.Held(port));
    }
    EXPECT_FALSE(Row("COM3").ticked);
    EXPECT_EQ(Row("COM3").state, "Не обнаружено");
    EXPECT_EQ(Row("COM3").speed, "");
    EXPECT_FALSE(Row("COM4").ticked);
    EXPECT_EQ(Row("COM4").state, LoadText(IDS_PORT_UNAVAILABLE));
    EXPECT_GT(wakes.load(), 0u);

    // A refresh drops the ports that went, adds new ones unticked, keeps the rest.
    ASSERT_TRUE(batch.SetPorts({"COM5", "COM2", "COM1"}));
    ASSERT_EQ(batch.Rows().size(), 3u);
    EXPECT_TRUE(Row("COM1").ticked);
    EXPECT_EQ(Row("COM2").speed, "57600");
    EXPECT_FALSE(Row("COM5").ticked);
    EXPECT_EQ(Row("COM5").state, "");
}

TEST_F(BatchSession, RunUpdatesTheTickedPortsAndLogsEachWhileAFailureStaysOnItsRow)
{
    SimConfig at57600;
    at57600.speedCode = 5;
    at57600.highestSpeedTaken = 8;   // acknowledges 921600 and stays where it is
    SimConfig refusing;
    refusing.writeErrorStatus = 147;
    AddScanner("COM1", SimConfig{});
    AddScanner("COM2", at57600);
    AddScanner("COM3", refusing);
    AddScanner("COM4", SimConfig{});
    settings.logFile = (folder.Path() / "results.jsonl").string();
    settings.transferSpeedCode = 9;
    CBatchSession& batch = Session();
    batch.SetPorts({"COM1", "COM2", "COM3", "COM4"});
    // Ticked by hand, without a search: the run finds each scanner's speed itself.
    for (size_t row : {0, 1, 2})
        batch.SetTicked(row, true);

    batch.StartRun(settings);
    EXPECT_TRUE(batch.Busy());
    Finish();

    for (const char* port : {"COM1", "COM2"}) {
        SCOPED_TRACE(port);
        SimPort& sim = *sims.at(port);
        EXPECT_EQ(Row(port).scanner, Scanner(port));
        EXPECT_TRUE(sim.scanner->ChecksumVerdict());
        EXPECT_EQ(sim.scanner->Dump(0x40000, image.size()), image);
        EXPECT_EQ(sim.scanner->Mode(sim.host.NowUs()), MODE_APPLICATION);
    }
    EXPECT_EQ(Row("COM1").state, "OK");
    EXPECT_EQ(Row("COM2").state,
              "OK. " + StringPrintf(LoadText(IDS_TRANSFER_FELL_BACK), 921600u));
    EXPECT_EQ(Row("COM3").state.rfind("(147) ", 0), 0u) << Row("COM3").state;
    EXPECT_FALSE(sims.at("COM3")->ports.Held("COM3"));
    EXPECT_EQ(sims.at("COM4")->ports.OpenCount("COM4"), 0u);
    EXPECT_EQ(Row("COM4").state, "");
    EXPECT_EQ(batch.Summary(), "Готово: 2 из 3");
    EXPECT_TRUE(batch.TakeLogFailures().empty());

    std::ifstream in(settings.logFile, std::ios::binary);
    std::map<std::string, std::string> records;
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find("\"port\":\"");
        ASSERT_NE(at, std::string::npos) << line;
        records[line.substr(at + 8, 4)] = line;
        EXPECT_EQ(line.front(), '{');
        EXPECT_EQ(line.back(), '}');
    }
    ASSERT_EQ(records.size(), 3u);
    EXPECT_NE(records["COM1"].find("\"ok\":true"), std::string::npos);
    EXPECT_NE(records["COM1"].find("\"serial\":1000"), std::string::npos);
    EXPECT_NE(records["COM3"].find("\"ok\":false"), std::string::npos);
    EXPECT_NE(records["COM3"].find("\"failure\":\"(147) "), std::string::npos);
    EXPECT_NE(records["COM2"].find("\"version\":\"9.8.7\""), std::string::npos);
    EXPECT_NE(records["COM1"].find("\"transfer_baud\":921600"), std::string::npos);
    EXPECT_NE(records["COM2"].find("\"transfer_baud\":115200"), std::string::npos);

    // The next run starts afresh; nothing ticked or a bad file refuses before any port.
    batch.SetPorts({"COM4"});
    EXPECT_THROW(batch.StartRun(settings), object_description);
    batch.SetTicked(0, true);
    settings.firmwareFile = (folder.Path() / "none.ldr").string();
    EXPECT_THROW(batch.StartRun(settings), object_description);
    EXPECT_FALSE(batch.Busy());
    EXPECT_EQ(sims.at("COM4")->ports.OpenCount("COM4"), 0u);
}

TEST_F(BatchSession, ARunAfterAStopKnowsTheScannerAgainAndLeavesItAtItsSpeed)
{
    SimConfig at57600;
    at57600.speedCode = 5;
    SimPort& sim = AddScanner("COM1", at57600);
    settings.logFile = (folder.Path() / "results.jsonl").string();
    CBatchSession& batch = Session();
    batch.SetPorts({"COM1"});
    batch.StartSearch();
    Finish();
    ASSERT_EQ(Row("COM1").scanner, Scanner("COM1"));

    // Stopped mid-transfer: the scanner stays in its loader, where its serial number
    // cannot be read, but goes back to 57600.
    std::function<void()> watch = [&] {
        if (sim.scanner->CommandsReceived(CMD_WRITE_MEMORY) >= 3)
            session->Stop();
        else
            sim.host.At(sim.host.NowMs() + 10, watch);
    };
    sim.host.At(sim.host.NowMs(), watch);
    batch.StartRun(settings);
    Finish();
    EXPECT_EQ(Row("COM1").state, "Прервано. Сканер остался в режиме загрузчика на скорости 57600 бод: "
                                 "обновление нужно запустить ещё раз.");
    EXPECT_EQ(sim.scanner->Mode(sim.host.NowUs()), MODE_LOADER);
    EXPECT_EQ(sim.scanner->SpeedCode(), 5);

    batch.StartRun(settings);
    Finish();
    EXPECT_EQ(Row("COM1").state, "OK");
    EXPECT_EQ(Row("COM1").scanner, Scanner("COM1"));
    EXPECT_EQ(Row("COM1").speed, "57600");
    EXPECT_EQ(sim.scanner->SpeedCode(), 5);
    EXPECT_EQ(sim.scanner->Dump(0x40000, image.size()), image);
    std::ifstream in(settings.logFile, std::ios::binary);
    unsigned records = 0;
    for (std::string line; std::getline(in, line); ++records)
        EXPECT_NE(line.find("\"serial\":" + std::to_string(sim.scanner->Config().serialNumber)),
                  std::string::npos)
            << line;
    EXPECT_EQ(records, 2u);
}

TEST_F(BatchSession, StopEndsEveryPortInterruptedAndAnUnwritableLogIsReported)
{
    for (const char* port : {"COM1", "COM2", "COM3"})
        AddScanner(port, SimConfig{});
    CBatchSession& batch = Session();
    batch.SetPorts({"COM1", "COM2", "COM3"});
    for (size_t row : {0, 1, 2})
        batch.SetTicked(row, true);

    // A log that cannot be opened is said before any port is touched.
    settings.logFile = (folder.Path() / "missing" / "results.jsonl").string();
    try {
        batch.StartRun(settings);
        ADD_FAILURE() << "a log in a missing folder was taken";
    } catch (const object_description& e) {
        EXPECT_EQ(e.Text().rfind("Журнал \"" + settings.logFile +
                                     "\" не удаётся открыть для записи: нет такого файла или каталога (",
                                 0),
                  0u)
            << e.Text();
    }
    EXPECT_FALSE(batch.Busy());
    EXPECT_EQ(sims.at("COM1")->ports.OpenCount("COM1"), 0u);

    // Every port waits at its start until the stop has been asked for; meanwhile the log
    // turns into a folder, so that no record can be written.
    settings.logFile = (folder.Path() / "results.jsonl").string();
    gateClosed = true;
    batch.StartRun(settings);
    fs::remove(fs::u8path(settings.logFile));
    fs::create_directory(fs::u8path(settings.logFile));
    batch.Stop();
    {
        std::lock_guard<std::mutex> lock(gateMutex);
        gateClosed = false;
    }
    gateOpen.notify_all();
    Finish();

    for (const CBatchRow& row : batch.Rows()) {
        SCOPED_TRACE(row.port);
        EXPECT_EQ(row.state, "Прервано");
        EXPECT_FALSE(sims.at(row.port)->scanner->ChecksumVerdict());
        EXPECT_FALSE(sims.at(row.port)->ports.Held(row.port));
    }
    EXPECT_EQ(batch.Summary(), "Готово: 0 из 3");
    const std::vector<std::string> failures = batch.TakeLogFailures();
    ASSERT_EQ(failures.size(), 3u);
    // The record that was not written comes with the message, not lost.
    EXPECT_EQ(failures[0].rfind("Журнал не записан: " + settings.logFile + ": это каталог\r\n"
                                "Запись, не попавшая в журнал:\r\n{\"time\":", 0),
              0u)
        << failures[0];
}

}  // namespace
