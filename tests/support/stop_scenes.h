// Stop in every phase of the work an operator can stop, each on a virtual clock with a
// 30000 ms reply time-out: the main window's run, the settings sheet's link check, speed
// change and device information, the device search, and the batch window's search and
// run. The unit tests stop each phase once and check that the stop ends the work within
// a quarter of a second; tools/stop_table_posix.cpp stops each phase many times, at
// points spread over the phase, and prints the longest.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/strings.h"
#include "connection/batch_update.h"
#include "connection/connection_actions.h"
#include "connection/device_search.h"
#include "engine/multi_port.h"
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

constexpr unsigned kStopSceneTimeoutMs = 30000;
constexpr const char* kStopScenePort = "COM7";
// How often the scene looks whether its phase has begun.
constexpr uint64_t kStopLookMs = 5;
constexpr unsigned kSilentForever = 1000000000u;

// A virtual host that keeps the longest stretch of virtual time it went without a pump,
// and when the first pump after a stop request came (where the work takes the stop).
class CGapHost : public CVirtualHost {
public:
    void PumpMessages() override
    {
        longestGapMs = std::max(longestGapMs, NowMs() - lastPumpMs);
        lastPumpMs = NowMs();
        if (stopAsked && !stopTaken) {
            stopTaken = true;
            stopTakenAtMs = NowMs();
        }
        CVirtualHost::PumpMessages();
    }
    void ResetGap()
    {
        longestGapMs = 0;
        lastPumpMs = NowMs();
    }
    // The stop the scene asked for, by whatever way it reaches the work.
    void NoteStopAsked() { stopAsked = true; }

    uint64_t longestGapMs = 0;
    bool stopTaken = false;
    uint64_t stopTakenAtMs = 0;

private:
    uint64_t lastPumpMs = 0;
    bool stopAsked = false;
};

// What one Stop did.
struct CStopOutcome {
    bool reached = false;        // the phase began and the stop was asked for within it
    uint64_t takenMs = 0;        // virtual ms from the request to the pump that took it
    // Virtual ms from the request to the end of the work; for a run, that includes
    // putting the scanner back at the speed it was found at.
    uint64_t latencyMs = 0;
    uint64_t longestGapMs = 0;   // the longest the work went without pumping
    std::string shown;           // what the stopped row or port shows afterwards
    size_t boxes = 0;            // message boxes shown (a stop shows none)
    bool portLeftOpen = false;
    // Runs only: the scanner ended at the speed it was found at; and, when asked for,
    // the next Start brought it to "OK" on both rows with the module's image, back in
    // its working program.
    bool leftAtFoundSpeed = true;
    bool recovered = false;
};

// What every scene measures the same way, once its work has ended.
inline void MeasureStop(CStopOutcome& outcome, const CGapHost& host, bool requested, uint64_t requestedAt)
{
    outcome.reached = requested && host.stopTaken;
    outcome.takenMs = host.stopTakenAtMs - requestedAt;
    outcome.latencyMs = host.NowMs() - requestedAt;
    outcome.longestGapMs = host.longestGapMs;
    outcome.boxes = host.Boxes().size();
}

struct CStopPhase {
    std::string name;
    uint64_t spanMs;   // how long the phase lasts once it has begun: stops land within it
    std::string stoppedShows;   // what the row or port shows after the stop begins with
    bool putsScannerBack;       // a run: after the stop it puts the scanner back
    // Stops the phase delayMs after it began; with recover, starts again afterwards.
    std::function<CStopOutcome(uint64_t delayMs, bool recover)> stop;
};

// Asks for the stop delayMs after the phase has begun; the look runs on the virtual clock
// of the thread that does the work, as every touch of the simulator must.
class CStopTrigger {
public:
    CStopTrigger(CVirtualHost& host, std::function<bool()> begun, uint64_t delayMs,
                 std::function<void()> stop)
        : host(host), begun(std::move(begun)), delayMs(delayMs), stop(std::move(stop))
    {
        host.At(host.NowMs(), [this] { Look(); });
    }
    bool Requested() const { return requested; }
    uint64_t RequestedAtMs() const { return requestedAt; }

private:
    void Look()
    {
        if (!begun()) {
            host.At(host.NowMs() + kStopLookMs, [this] { Look(); });
            return;
        }
        host.At(host.NowMs() + delayMs, [this] {
            requested = true;
            requestedAt = host.NowMs();
            stop();
        });
    }

    CVirtualHost& host;
    std::function<bool()> begun;
    uint64_t delayMs;
    std::function<void()> stop;
    bool requested = false;
    uint64_t requestedAt = 0;
};

// The scanner as a phase sees it as it goes.
struct CStopScene {
    CVirtualHost& host;
    CSimScanner* scanner;
    const std::vector<std::string>& status;   // the run's row statuses
    bool silenced = false;
    unsigned silentFrom = 0;
};

// Once the scanner has taken `writes` memory writes it stops answering `opcode`; the
// phase begins with the first such request left unanswered.
inline bool FallsSilent(CStopScene& scene, uint8_t opcode, unsigned writes)
{
    CSimScanner& scanner = *scene.scanner;
    if (!scene.silenced) {
        if (scanner.CommandsReceived(CMD_WRITE_MEMORY) < writes)
            return false;
        scanner.AddFault({opcode, SimFault::NoReply, kSilentForever});
        scene.silenced = true;
        scene.silentFrom = scanner.CommandsReceived(opcode);
        return false;
    }
    return scanner.CommandsReceived(opcode) > scene.silentFrom;
}

inline ldr::file StopSceneFirmware()
{
    return BuildFile({BuildModule(ldr::computational, 0x0100, 0x40000, 256, 4,
                                  [](uint32_t b, uint32_t i) { return static_cast<uint8_t>(b + i); })});
}

struct CRunPhaseSpec {
    const char* name;
    int row;              // the row the stop interrupts
    SimConfig config;
    bool portLate;        // the port appears only after the stop
    int baudCode;         // the settings' speed code
    uint64_t spanMs;
    std::function<bool(CStopScene&)> begun;
};

// The main window's run (the engine behind it), stopped in one phase.
inline CStopOutcome StopRun(const CRunPhaseSpec& spec, uint64_t delayMs, bool recover)
{
    const ldr::file firmware = StopSceneFirmware();
    CGapHost host;
    CSimPortSystem ports{host};
    CCatalogueView view;
    CRunSettings settings{kStopScenePort, spec.baudCode, kStopSceneTimeoutMs, std::string()};
    CRunEngine engine{host, ports, view, settings, "1.0"};
    CSimScanner* scanner = spec.portLate ? nullptr : &ports.AddScanner(kStopScenePort, spec.config);
    CStopScene scene{host, scanner, view.status};
    CStopTrigger trigger(host, [&] { return spec.begun(scene); }, delayMs, [&] {
        host.NoteStopAsked();
        host.RequestStop(0);
    });
    engine.Start(&firmware);

    CStopOutcome outcome;
    MeasureStop(outcome, host, trigger.Requested(), trigger.RequestedAtMs());
    outcome.shown = view.status[spec.row];
    outcome.portLeftOpen = scanner != nullptr && ports.Held(kStopScenePort);
    outcome.leftAtFoundSpeed = scanner == nullptr || scanner->SpeedCode() == spec.config.speedCode;
    if (!recover || !outcome.reached)
        return outcome;

    if (!scanner)
        scanner = &ports.AddScanner(kStopScenePort, spec.config);
    scanner->ClearFaults();
    host.AdvanceUs(5000000);   // a restart under way ends
    host.ResetGap();
    engine.Start(&firmware);
    outcome.longestGapMs = std::max(outcome.longestGapMs, host.longestGapMs);
    const std::vector<uint8_t> image = ModuleImage(firmware.modules[0]);
    outcome.recovered = view.status == std::vector<std::string>{"OK", "OK"} &&
                        scanner->Dump(0x40000, image.size()) == image &&
                        scanner->Mode(host.NowUs()) == MODE_APPLICATION;
    return outcome;
}

inline std::vector<CRunPhaseSpec> RunPhaseSpecs()
{
    SimConfig usb;
    usb.usbCdc = true;
    SimConfig fast;
    fast.speedCode = 6;
    // Bytes take their time on the line, so the phase is seen begin between two writes.
    SimConfig wire;
    wire.lineRate = true;
    wire.turnaroundUs = 1000;
    const auto restarting = [](CStopScene& s) { return s.scanner && s.scanner->Mode(s.host.NowUs()) == -1; };
    return {
        {"port wait", 0, {}, true, 2, 2800, [](CStopScene&) { return true; }},
        {"speed search", 0, fast, false, 0, 1500,
         [](CStopScene& s) { return s.scanner->CommandsReceived() == 0 && !s.status[0].empty(); }},
        {"mode switch, COM port", 0, {}, false, 2, 1400, restarting},
        {"mode switch, USB port", 0, usb, false, 2, 2400, restarting},
        {"transfer, scanner silent", 0, wire, false, 2, 85000,
         [](CStopScene& s) { return FallsSilent(s, CMD_WRITE_MEMORY, 3); }},
        {"checksum verdict, scanner silent", 0, wire, false, 2, 85000,
         [](CStopScene& s) { return FallsSilent(s, CMD_MODE_REGISTER, 8); }},
        {"switch back", 1, {}, false, 2, 1400, [](CStopScene& s) { return s.status[0] == "OK"; }},
    };
}

// A settings action or the device search on a scanner that never answers.
inline CStopOutcome StopAction(const std::function<std::string(CPortSystem&, CRunHost&)>& action,
                               uint64_t delayMs)
{
    CGapHost host;
    CSimPortSystem ports{host};
    CSimScanner& scanner = ports.AddScanner(kStopScenePort);
    scanner.AddFault({-1, SimFault::NoReply, kSilentForever});
    CStopTrigger trigger(host, [&] { return scanner.CommandsReceived() > 0; }, delayMs, [&] {
        host.NoteStopAsked();
        host.RequestStop(0);
    });
    CStopOutcome outcome;
    try {
        outcome.shown = action(ports, host);
    } catch (const stop_exception&) {
        outcome.shown = "stop";
    }
    MeasureStop(outcome, host, trigger.Requested(), trigger.RequestedAtMs());
    outcome.portLeftOpen = ports.Held(kStopScenePort);
    return outcome;
}

// One row of a search window.
class COneRowSearch : public CSearchView {
public:
    int RowCount() override { return 1; }
    std::string PortName(int) override { return kStopScenePort; }
    bool IsTicked(int) override { return true; }
    void SetSpeedText(int, const std::string&) override {}
    void SetStateText(int, const std::string& text) override { state = text; }
    void SetRowCode(int, int) override {}
    void EnsureVisible(int) override {}
    BoxOwner OwnerWindow() override { return nullptr; }
    std::string state;
};

// The batch window's session over one port whose scanner falls silent (mid-transfer for
// a run, from the start for a search), stopped from that port's own clock.
inline CStopOutcome StopBatch(bool run, uint64_t delayMs)
{
    struct Environment : CPortEnvironment {
        explicit Environment(CGapHost& host, CSimPortSystem& ports) : host(host), ports(ports) {}
        CRunHost& Host() override { return host; }
        CPortSystem& Ports() override { return ports; }
        CGapHost& host;
        CSimPortSystem& ports;
    };
    CTempFolder folder("trelvo-stop-scene-");
    CBatchRunSettings settings;
    settings.firmwareFile = (folder.Path() / "fw.ldr").string();
    settings.timeout = kStopSceneTimeoutMs;
    ldr::save(settings.firmwareFile, StopSceneFirmware());

    CGapHost host;
    CSimPortSystem ports{host};
    SimConfig config;
    config.lineRate = run;   // as for the main window's silent transfer
    config.turnaroundUs = 1000;
    CSimScanner& scanner = ports.AddScanner(kStopScenePort, config);
    if (!run)
        scanner.AddFault({-1, SimFault::NoReply, kSilentForever});
    const std::vector<std::string> noRows;
    CStopScene scene{host, &scanner, noRows};
    CBatchSession* session = nullptr;
    std::unique_ptr<CStopTrigger> trigger;
    CBatchSession batch(
        [&](const std::string&) {
            // Made on the port's thread: the trigger looks on that thread's clock.
            trigger = std::make_unique<CStopTrigger>(
                host,
                [&] { return run ? FallsSilent(scene, CMD_WRITE_MEMORY, 3) : scanner.CommandsReceived() > 0; },
                delayMs, [&] {
                    host.NoteStopAsked();
                    session->Stop();
                });
            return std::make_unique<Environment>(host, ports);
        },
        nullptr);
    session = &batch;
    batch.SetPorts({kStopScenePort});
    batch.SetTicked(0, true);
    if (run)
        batch.StartRun(settings);
    else
        batch.StartSearch();
    while (batch.Busy()) {
        batch.Deliver();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    CStopOutcome outcome;
    MeasureStop(outcome, host, trigger && trigger->Requested(), trigger ? trigger->RequestedAtMs() : 0);
    outcome.shown = batch.Rows()[0].state;
    outcome.portLeftOpen = ports.Held(kStopScenePort);
    outcome.leftAtFoundSpeed = scanner.SpeedCode() == config.speedCode;
    return outcome;
}

// Every phase, each with its span.
inline std::vector<CStopPhase> StopPhases()
{
    std::vector<CStopPhase> phases;
    for (const CRunPhaseSpec& spec : RunPhaseSpecs()) {
        phases.push_back({std::string("main window: ") + spec.name, spec.spanMs, "Прервано", true,
                          [spec](uint64_t delay, bool recover) { return StopRun(spec, delay, recover); }});
    }
    const auto action = [](const char* name, uint64_t span, const char* shows,
                           std::function<std::string(CPortSystem&, CRunHost&)> work) {
        return CStopPhase{name, span, shows, false, [work](uint64_t delay, bool) { return StopAction(work, delay); }};
    };
    const CConnectSettings connect{kStopScenePort, 2, kStopSceneTimeoutMs};
    phases.push_back(action("settings: link check", 85000, "stop", [connect](CPortSystem& p, CRunHost& h) {
        return LinkText(CheckLink(p, h, connect));
    }));
    phases.push_back(action("settings: speed change", 85000, "stop", [connect](CPortSystem& p, CRunHost& h) {
        ChangeSpeed(p, h, connect, 2, 5);
        return std::string("changed");
    }));
    phases.push_back(action("settings: device information", 85000, "stop", [connect](CPortSystem& p, CRunHost& h) {
        CDeviceInfo info;
        ReadDeviceInfoAt(p, h, connect, info);
        return std::string("read");
    }));
    phases.push_back(action("device search", 1400, "Поиск остановлен", [](CPortSystem& p, CRunHost& h) {
        COneRowSearch view;
        SearchDevices(p, h, view);
        return view.state;
    }));
    phases.push_back({"batch window: search", 1400, "Поиск остановлен", false, [](uint64_t delay, bool) { return StopBatch(false, delay); }});
    phases.push_back({"batch window: run, scanner silent", 85000, "Прервано", true,
                      [](uint64_t delay, bool) { return StopBatch(true, delay); }});
    return phases;
}
