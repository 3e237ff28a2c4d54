#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/record_file.h"
#include "base/sha256.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "engine/multi_port.h"
#include "engine/result_log.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"
#include "support/firmware_builder.h"
#include "support/sim_port_environment.h"
#include "support/temp_folder.h"
#include "transport/com_device.h"
#include "transport/single_port_system.h"

namespace {

// Progress per port, and how many ports were between their first text and their end at
// once. Optionally holds every port at its first transfer progress until all got there.
class Recorder : public CMultiRunObserver {
public:
    explicit Recorder(size_t ports) : texts(ports), active(ports, false) {}

    void OnPortProgress(size_t port, int row, const std::string& text) override
    {
        std::unique_lock<std::mutex> lock(mutex);
        texts[port].push_back(std::to_string(row) + ":" + text);
        if (!active[port]) {
            active[port] = true;
            maxActive = std::max(maxActive, size_t(std::count(active.begin(), active.end(), true)));
        }
        if (gate && row == 0 && text.rfind("Выполнено", 0) == 0 && !held.count(port)) {
            held.insert({port, true});
            // The last port to get there stops them all before any is let go.
            if (held.size() == texts.size())
                gate();
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(20),
                             [this] { return held.size() == texts.size(); });
        }
    }
    void OnPortFinished(size_t port, const CPortRunResult&) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        active[port] = false;
        ++finished;
    }

    size_t Count(size_t port, const std::string& text)
    {
        return size_t(std::count(texts[port].begin(), texts[port].end(), text));
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<std::string>> texts;
    std::vector<bool> active;
    std::map<size_t, bool> held;
    size_t maxActive = 0;
    size_t finished = 0;
    std::function<void()> gate;
};

class MultiPort : public testing::Test {
protected:
    MultiPort()
    {
        firmware = BuildFile({BuildModule(ldr::computational, 0x0100, 0x40000, 256, 24,
                                          [](uint32_t b, uint32_t i) {
                                              return static_cast<uint8_t>(b * 7 + i);
                                          })});
        image = ModuleImage(firmware.modules[0]);
    }

    // A scanner on each port; the verdict holds only for exactly the module's image.
    SimPort& Add(const std::string& name, SimConfig config)
    {
        auto port = std::make_unique<SimPort>();
        config.serialNumber = 1000 + uint32_t(sims.size());
        config.uniqueId[15] = static_cast<uint8_t>(sims.size());
        port->scanner = &port->ports.AddScanner(name, config);
        std::map<uint32_t, std::vector<uint8_t>> expected;
        for (const ldr::block_ref b : firmware.modules[0].blocks)
            expected[b.address].assign(b.data.begin(), b.data.end());
        port->scanner->SetExpectedImage(expected);
        settings.ports.push_back({name, 2});
        SimPort& added = *port;
        sims[name] = std::move(port);
        return added;
    }

    std::vector<CPortRunResult> Run(Recorder& recorder)
    {
        CMultiPortRun run(
            firmware, settings,
            [this](const std::string& name) { return std::make_unique<SimEnvironment>(*sims.at(name)); },
            &recorder);
        run.Start();
        EXPECT_TRUE(run.WaitFor(60000));
        run.Wait();
        return run.Results();
    }

    ldr::file firmware;
    std::vector<uint8_t> image;
    std::map<std::string, std::unique_ptr<SimPort>> sims;
    CMultiRunSettings settings;
};

TEST_F(MultiPort, EveryPortFlashedOnItsOwnThreadWithinTheJobLimit)
{
    SimConfig serial;
    serial.speedCode = 5;
    serial.lineRate = true;
    serial.turnaroundUs = 1000;
    SimConfig usb = serial;
    usb.usbCdc = true;
    Add("COM1", serial);
    Add("COM2", usb);
    Add("COM3", usb);
    settings.jobs = 2;
    Recorder recorder(3);

    const std::vector<CPortRunResult> results = Run(recorder);

    ASSERT_EQ(results.size(), 3u);
    EXPECT_LE(recorder.maxActive, 2u);
    EXPECT_EQ(recorder.finished, 3u);
    for (size_t k = 0; k < 3; ++k) {
        const CPortRunResult& r = results[k];
        SCOPED_TRACE(r.port);
        SimPort& sim = *sims.at(r.port);
        EXPECT_TRUE(r.Succeeded());
        EXPECT_EQ(r.serialNumber, 1000 + k);
        EXPECT_EQ(r.model, ModelText(150));
        EXPECT_TRUE(r.failure.empty());
        EXPECT_FALSE(r.stopped);
        EXPECT_GT(r.bytesPerSecond, 0u);
        EXPECT_LT(r.bytesPerSecond, 115200u / 10);
        EXPECT_GT(r.durationMs, 0u);
        // What the record tells of the scanner: its own id, the computational processor's
        // versions as its loader gives them, the USB device of a USB port, one attempt per
        // row, left at the speed it was found at.
        EXPECT_EQ(r.uniqueId, HexText(sim.scanner->Config().uniqueId.data(), 16));
        EXPECT_EQ(r.hardwareVersion, std::optional<uint16_t>(sim.scanner->Config().blackfin.hardware));
        EXPECT_EQ(r.loaderVersion, std::optional<uint16_t>(sim.scanner->Config().blackfin.loader));
        EXPECT_EQ(r.usb.has_value(), k > 0);
        if (r.usb)
            EXPECT_EQ(r.usb->serial, std::to_string(r.serialNumber));
        EXPECT_EQ(r.rowAttempts, (std::vector<unsigned>{1, 1}));
        // A USB scanner answers at whatever speed the port is set to: the first tried.
        EXPECT_EQ(r.speedCode, k == 0 ? 5 : 2);
        EXPECT_EQ(r.startTime.size(), 20u);
        EXPECT_LE(r.startTime, r.endTime);
        EXPECT_TRUE(sim.scanner->ChecksumVerdict());
        EXPECT_EQ(sim.scanner->Dump(0x40000, image.size()), image);
        EXPECT_EQ(sim.scanner->Mode(sim.host.NowUs()), MODE_APPLICATION);
        EXPECT_FALSE(sim.ports.Held(r.port));
        EXPECT_EQ(recorder.Count(k, "0:OK"), 1u);
        EXPECT_EQ(recorder.Count(k, "1:OK"), 1u);
        // Each port's progress went to that port: one text per block.
        EXPECT_EQ(std::count_if(recorder.texts[k].begin(), recorder.texts[k].end(),
                                [](const std::string& t) { return t.rfind("0:Выполнено", 0) == 0; }),
                  24);
    }
}

TEST_F(MultiPort, AFailureEndsOnlyItsPortAfterItsOwnRetries)
{
    SimConfig good;
    SimConfig refusing;
    refusing.writeErrorStatus = 147;
    SimConfig refusingOnce;
    refusingOnce.speedCode = 4;
    Add("COM1", good);
    Add("COM2", refusing);
    Add("COM3", refusingOnce).scanner->AddFault({CMD_WRITE_MEMORY, SimFault::ErrorStatus, 1, 147});
    settings.retries = 1;
    Recorder recorder(3);

    const std::vector<CPortRunResult> results = Run(recorder);

    EXPECT_TRUE(results[0].Succeeded());
    EXPECT_TRUE(results[2].Succeeded());
    const CPortRunResult& failed = results[1];
    EXPECT_FALSE(failed.Succeeded());
    EXPECT_FALSE(failed.stopped);
    EXPECT_EQ(failed.rowStatus, (std::vector<unsigned>{IDS_STATUS_ERROR, 0}));
    EXPECT_EQ(failed.failure.rfind("(147) ", 0), 0u) << failed.failure;
    // Retried once, then given up without asking anybody.
    EXPECT_EQ(recorder.Count(1, "0:Ошибка"), 2u);
    EXPECT_EQ(failed.rowAttempts, (std::vector<unsigned>{2, 0}));
    // The retried transfer went through: the scanner is back at its 38400, not at the
    // 115200 where the failure left the port.
    EXPECT_EQ(results[2].rowAttempts, (std::vector<unsigned>{2, 1}));
    EXPECT_EQ(results[2].speedCode, 4);
    EXPECT_EQ(recorder.Count(0, "0:Ошибка"), 0u);
    EXPECT_FALSE(sims.at("COM2")->ports.Held("COM2"));
}

// The run's transfer speed reaches every port, and each port's result says what its
// own line carried: the speed taken, a refusal, a speed acknowledged and not taken.
TEST_F(MultiPort, EachPortWritesAtTheTransferSpeedItsScannerTakes)
{
    SimConfig taking;
    SimConfig refusing;
    refusing.maxSpeedCode = 8;
    SimConfig staying;
    staying.highestSpeedTaken = 8;
    Add("COM1", taking);
    Add("COM2", refusing);
    Add("COM3", staying);
    settings.transferSpeedCode = 9;
    Recorder recorder(3);

    const std::vector<CPortRunResult> results = Run(recorder);

    const unsigned expectedBaud[] = {921600, 115200, 115200};
    for (size_t k = 0; k < 3; ++k) {
        const CPortRunResult& r = results[k];
        SCOPED_TRACE(r.port);
        SimPort& sim = *sims.at(r.port);
        EXPECT_TRUE(r.Succeeded());
        EXPECT_EQ(r.transferBaud, expectedBaud[k]);
        EXPECT_EQ(sim.scanner->Dump(0x40000, image.size()), image);
        EXPECT_EQ(sim.scanner->SpeedCode(), 2);
    }
    // Only the scanner that failed its check is told about; a refusal is no news.
    EXPECT_TRUE(results[0].remark.empty());
    EXPECT_TRUE(results[1].remark.empty());
    EXPECT_EQ(recorder.Count(2, "0:OK. " + StringPrintf(LoadText(IDS_TRANSFER_FELL_BACK), 921600u)),
              1u);
}

TEST_F(MultiPort, StopAllEndsEveryPortAtItsNextStep)
{
    SimConfig usb;
    usb.usbCdc = true;
    Add("COM1", SimConfig{});
    Add("COM2", usb);
    Add("COM3", SimConfig{});
    Recorder recorder(3);
    CMultiPortRun* running = nullptr;
    recorder.gate = [&running] { running->StopAll(); };

    CMultiPortRun run(
        firmware, settings,
        [this](const std::string& name) { return std::make_unique<SimEnvironment>(*sims.at(name)); },
        &recorder);
    running = &run;
    run.Start();
    run.Wait();

    for (const CPortRunResult& r : run.Results()) {
        SCOPED_TRACE(r.port);
        EXPECT_TRUE(r.stopped);
        EXPECT_TRUE(r.failure.empty());
        EXPECT_EQ(r.rowStatus, (std::vector<unsigned>{IDS_STATUS_INTERRUPTED, 0}));
        EXPECT_FALSE(sims.at(r.port)->ports.Held(r.port));
        EXPECT_FALSE(sims.at(r.port)->scanner->ChecksumVerdict());
    }
}

TEST_F(MultiPort, AStopWhileARetryWaitsOnASilentScannerEndsThePortStoppedNotFailed)
{
    // The first attempt fails and is retried; the retry finds the scanner silent at a
    // 30000 ms time-out, and the stop comes while it waits.
    SimConfig refusing;
    refusing.writeErrorStatus = 147;
    SimPort& port = Add("COM1", refusing);
    settings.timeout = 30000;
    settings.retries = 1;
    struct Observer : CMultiRunObserver {
        void OnPortProgress(size_t, int row, const std::string& text) override
        {
            if (row != 0 || text != "Ошибка" || stopAt != 0)
                return;
            port->scanner->MutableConfig().writeErrorStatus = 0;
            port->scanner->AddFault({CMD_WRITE_MEMORY, SimFault::NoReply, 1000000});
            stopAt = port->host.NowMs() + 10000;
            port->host.At(stopAt, [this] { run->StopAll(); });
        }
        void OnPortFinished(size_t, const CPortRunResult&) override { endAt = port->host.NowMs(); }
        SimPort* port = nullptr;
        CMultiPortRun* run = nullptr;
        uint64_t stopAt = 0;
        uint64_t endAt = 0;
    } observer;
    observer.port = &port;

    CMultiPortRun run(firmware, settings,
                      [&port](const std::string&) { return std::make_unique<SimEnvironment>(port); },
                      &observer);
    observer.run = &run;
    run.Start();
    run.Wait();

    const CPortRunResult& r = run.Results()[0];
    ASSERT_NE(observer.stopAt, 0u);
    EXPECT_LE(observer.endAt - observer.stopAt, 250u);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(r.failure, "");
    EXPECT_EQ(r.rowStatus, (std::vector<unsigned>{IDS_STATUS_INTERRUPTED, 0}));
    EXPECT_FALSE(port.ports.Held("COM1"));
}

// Two USB scanners behind one port system: each port's watch sees its own scanner's
// restart only.
TEST(SinglePortSystem, WatchFollowsItsOwnPortOnly)
{
    CVirtualHost host;
    CSimPortSystem shared(host);
    SimConfig usb;
    usb.usbCdc = true;
    usb.restartMs = 3000;
    shared.AddScanner("COM2", usb);
    usb.restartMs = 300;
    shared.AddScanner("COM3", usb);
    CSinglePortSystem com2(shared, "COM2", host);
    CComDevice watched(com2, host);
    OpenComPort(watched, "COM2", 9600, 200);
    ASSERT_TRUE(watched.WatchRemoval());
    CComDevice other(shared, host);
    OpenComPort(other, "COM3", 9600, 200);

    // Asks for the other mode: the scanner answers, then restarts.
    auto restart = [&host](CComDevice& device, unsigned char modeBits) {
        CScannerProtocol protocol(host);
        protocol.SetDevice(&device);
        const unsigned char reg[4] = {modeBits, modeBits, 0, 0};
        protocol.WriteModeRegister(reg);
    };
    auto pumpFor = [&host](uint32_t ms) {
        for (uint32_t t = 0; t < ms; t += 100) {
            host.PumpMessages();
            host.Sleep(100);
        }
    };

    restart(other, 0x02);
    pumpFor(1000);
    EXPECT_FALSE(watched.WasRemoved());
    EXPECT_TRUE(watched.IsOpen());

    // COM2 restarts; COM3 vanishes and comes back while COM2 is still away.
    restart(watched, 0x02);
    pumpFor(200);
    EXPECT_TRUE(watched.WasRemoved());
    EXPECT_FALSE(watched.IsOpen());
    OpenComPort(other, "COM3", 9600, 200);
    restart(other, 0x00);
    pumpFor(1500);
    EXPECT_FALSE(watched.HasArrived());
    pumpFor(2000);
    EXPECT_TRUE(watched.HasArrived());
}

TEST(ResultLog, RecordsAreOneJsonLineEachWithTheFilesHash)
{
    const auto digest = [](const std::string& text) {
        CSha256 hash;
        hash.Update(text.data(), text.size());
        return HexDigest(hash.Finish());
    };
    EXPECT_EQ(digest(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");

    CTempFolder folder("trelvo-result-log-");
    const std::string file = (folder.Path() / "fw.ldr").string();
    std::ofstream(file, std::ios::binary) << "abc";
    CFirmwareIdentity identity;
    ASSERT_TRUE(IdentifyFirmwareFile(file, identity));
    EXPECT_EQ(identity.name, "fw.ldr");
    EXPECT_EQ(identity.size, 3u);
    EXPECT_EQ(identity.sha256, digest("abc"));
    EXPECT_FALSE(IdentifyFirmwareFile((folder.Path() / "none.ldr").string(), identity));

    CPortRunResult ok;
    ok.port = "COM3";
    ok.serialNumber = 1234567;
    ok.model = "Ручной \"Тест\"";
    ok.rowStatus = {IDS_STATUS_OK, IDS_STATUS_OK};
    ok.durationMs = 1500;
    ok.bytesPerSecond = 9600;
    ok.rowAttempts = {1, 1};
    ok.startTime = "2025-03-15T12:34:40Z";
    ok.endTime = "2025-03-15T12:34:56Z";
    ok.uniqueId = "515a5401020304050607080900ff0a0b";
    ok.hardwareVersion = 0x0200;
    ok.loaderVersion = 0x0104;
    ok.versionBefore = 0x0305;
    ok.versionAfter = 0x0306;
    ok.usb = CUsbIdentity{"0647", "3339", "", "1-1.2"};
    ok.speedCode = 5;
    ok.transferBaud = 921600;
    CPortRunResult failed;
    failed.port = "COM\xff";
    failed.rowStatus = {IDS_STATUS_ERROR, 0};
    failed.rowAttempts = {3};
    failed.failure = "(147) a\r\nb\x01";
    CLogStamp stamp{"2025-03-15T12:34:56Z", "bench", "1.0.0", "", {}};
    SetRecordTag(stamp.tags, "operator", "Петров");
    SetRecordTag(stamp.tags, "order", "WO-7");
    SetRecordTag(stamp.tags, "Operator", "Иванов");
    CLogStamp stamped{"2025-03-15T12:34:56Z", "bench", "1.0.0", "line 4", {}};

    const std::string okLine = ResultLogLine(ok, identity, stamp);
    // The fields of the first records keep their text and order; the new ones follow.
    const std::string legacy =
        "{\"time\":\"2025-03-15T12:34:56Z\",\"host\":\"bench\",\"port\":\"COM3\","
        "\"serial\":1234567,\"model\":\"Ручной \\\"Тест\\\"\",\"firmware\":{\"name\":"
        "\"fw.ldr\",\"size\":3,\"sha256\":\"" + digest("abc") + "\"},\"rows\":["
        "{\"name\":\"Обновление прошивки\",\"status\":\"OK\"";
    EXPECT_EQ(okLine.rfind(legacy, 0), 0u) << okLine;
    EXPECT_NE(okLine.find("\"status\":\"OK\",\"attempts\":1},{\"name\":\"Переход в "
                          "рабочий режим\",\"status\":\"OK\",\"attempts\":1}],\"ok\":true,"
                          "\"stopped\":false,\"failure\":\"\",\"duration_ms\":1500,"
                          "\"bytes_per_second\":9600,\"version\":\"1.0.0\",\"start_time\":"),
              std::string::npos) << okLine;
    const auto record = nlohmann::json::parse(okLine);
    EXPECT_EQ(record["start_time"], "2025-03-15T12:34:40Z");
    EXPECT_EQ(record["end_time"], "2025-03-15T12:34:56Z");
    EXPECT_EQ(record["unique_id"], "515a5401020304050607080900ff0a0b");
    EXPECT_EQ(record["hardware_version"], "2.0");
    EXPECT_EQ(record["loader_version"], "1.4");
    EXPECT_EQ(record["program_version_before"], "3.5");
    EXPECT_EQ(record["program_version_after"], "3.6");
    EXPECT_EQ(record["usb"], nlohmann::json::parse(R"({"vendor_id":"0647","product_id":"3339",
                                                      "serial":null,"location":"1-1.2"})"));
    EXPECT_EQ(record["station"], "bench");
    EXPECT_EQ(record["tags"], nlohmann::json::parse(R"({"Operator":"Иванов","order":"WO-7"})"));
    EXPECT_EQ(record["left_baud"], 57600);
    EXPECT_EQ(record["skipped"], false);
    EXPECT_EQ(record["transfer_baud"], 921600);

    const std::string failedLine = ResultLogLine(failed, identity, stamped);
    EXPECT_NE(failedLine.find("\"serial\":null"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(failedLine)["transfer_baud"], nullptr);
    EXPECT_NE(failedLine.find("\"status\":\"Ошибка\",\"attempts\":3},{\"name\":\"Переход в "
                              "рабочий режим\",\"status\":null,\"attempts\":0}"), std::string::npos);
    EXPECT_NE(failedLine.find("\"failure\":\"(147) a\\r\\nb\\u0001\""), std::string::npos);
    EXPECT_EQ(std::count(failedLine.begin(), failedLine.end(), '\n'), 1);
    // Nothing learnt is null, never left out; a port name that is no UTF-8 still makes
    // its record.
    const auto empty = nlohmann::json::parse(failedLine);
    for (const char* key : {"start_time", "end_time", "unique_id", "hardware_version",
                            "loader_version", "program_version_before", "program_version_after",
                            "usb", "left_baud"})
        EXPECT_TRUE(empty.at(key).is_null()) << key;
    EXPECT_EQ(empty["port"], "COM\xEF\xBF\xBD");
    EXPECT_EQ(empty["station"], "line 4");
    EXPECT_EQ(empty["tags"], nlohmann::json::object());
    CPortRunResult stopped = failed;
    stopped.rowStatus = {IDS_STATUS_INTERRUPTED, 0};
    stopped.failure.clear();
    stopped.stopped = true;
    EXPECT_NE(ResultLogLine(stopped, identity, stamp).find("\"ok\":false,\"stopped\":true,\"failure\":\"\""),
              std::string::npos);

    const std::string log = (folder.Path() / "results.jsonl").string();
    std::string error;
    ASSERT_TRUE(AppendRecord(log, okLine, error)) << error;
    ASSERT_TRUE(AppendRecord(log, failedLine, error)) << error;
    std::ifstream in(log, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, okLine + failedLine);
    EXPECT_FALSE(AppendRecord((folder.Path() / "no" / "log").string(), okLine, error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
