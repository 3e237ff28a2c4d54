// Several scanners updated at once: one run of the operation list per port, each on its
// own thread with its own device, protocol, host (stop, clock, message policy) and
// device-change watch, sharing only the firmware file, which is loaded once before.
//
// Use:
//   CMultiPortRun run(firmware, settings, NativePortEnvironment, &observer);
//   run.Start();                  // returns at once; the ports run on their threads
//   ... run.StopAll() from any thread (each port stops at its next step) ...
//   run.Wait();                   // or poll WaitFor(ms)
//   for (const CPortRunResult& r : run.Results()) ...
//
// No question is ever asked: a failure is retried as often as settings.retries allows
// and otherwise ends that port's run, so one port never blocks the others.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/port_system.h"

class CRunEngine;
class CRunHost;
class CTraceSink;
class CPortSystem;
struct CRunSettings;
namespace ldr {
struct file;
}

// What one port's run ended with.
struct CPortRunResult {
    std::string port;
    uint32_t serialNumber = 0xFFFFFFFFu;   // unknown unless read
    std::string model;                     // the model's text; empty when never identified
    // When the port's run began and ended, in UTC ("2025-03-15T12:34:56Z"); empty for a
    // port that never began.
    std::string startTime;
    std::string endTime;
    // The computational processor's hardware and loader versions, read in its loader by
    // the update.
    std::optional<uint16_t> hardwareVersion;
    std::optional<uint16_t> loaderVersion;
    std::optional<CUsbIdentity> usb;       // the port's USB device, as the run first opened it
    // Per row of the operation list, the final status as its string id (IDS_STATUS_OK,
    // _ERROR, _INTERRUPTED, _SKIPPED); 0 for a row the run never reached.
    std::vector<unsigned> rowStatus;
    std::string failure;                   // the last failure's message; empty if none
    // How the run left the scanner when not as it was found (in its loader, at another
    // speed); empty otherwise.
    std::string note;
    bool stopped = false;                  // ended by a stop request
    int speedCode = -1;                    // where the run left the port; -1: never opened
    uint32_t durationMs = 0;
    uint64_t bytesPerSecond = 0;           // the firmware transfer; 0 when nothing went out
    // The scanner's unique id in hex (lower case); empty when it could not be read.
    std::string uniqueId;
    // Per row, how many times it was run (a retry runs it again); 0 for a row not reached.
    std::vector<unsigned> rowAttempts;
    // The version word of the program on the module's processor before the update and
    // after the return to the working program; -1 where it was not read.
    int versionBefore = -1;
    int versionAfter = -1;
    // Not updated: the scanner already ran the module's version (every row "Пропущен").
    bool skipped = false;
    // The speed the module went out at (the last attempt's); 0 when no transfer began.
    unsigned transferBaud = 0;
    // The transfer went slower than chosen (it fell back to 115200); empty otherwise.
    std::string remark;
    // Every row ended "OK".
    bool Succeeded() const;
};

// What a finished run of the engine tells of its scanner: serial number, unique id, each
// row's attempts, the versions before and after, the computational processor's hardware
// and loader versions, the port's USB device, whether it was skipped, and the speed it
// left the scanner at (the result's row statuses filled already).
void TakeScannerFacts(const CRunEngine& engine, const CRunSettings& run, CPortRunResult& result);

// Where a port's run meets the platform: the clock, sleep and pump of the thread it runs
// on, and the port system that opens its port. Made on the port's own thread.
class CPortEnvironment {
public:
    virtual ~CPortEnvironment() = default;
    virtual CRunHost& Host() = 0;
    virtual CPortSystem& Ports() = 0;
};
using CPortEnvironmentFactory =
    std::function<std::unique_ptr<CPortEnvironment>(const std::string& port)>;

// The running program's: the thread's platform host and the native port system.
std::unique_ptr<CPortEnvironment> NativePortEnvironment(const std::string& port);

// The environments of another factory, their port systems carrying the trace.
CPortEnvironmentFactory TracedPortEnvironments(CPortEnvironmentFactory inner, CTraceSink& trace);

struct CPortTarget {
    std::string name;
    int baudCode = 2;   // the speed tried first
    // The scanner's serial number when known already (a search read it, or an earlier
    // run): a scanner left in its loader cannot tell it again.
    uint32_t serialNumber = 0xFFFFFFFFu;
};

struct CMultiRunSettings {
    std::vector<CPortTarget> ports;
    unsigned timeout = 3000;       // reply time-out, ms
    std::string firmwareFile;      // the file the firmware was loaded from
    unsigned jobs = 0;             // how many ports run at once; 0: all
    unsigned retries = 0;          // per port: how many failures are run again
    bool skipCurrent = false;      // a scanner already at the module's version is skipped
    int transferSpeedCode = 6;     // the speed code the module is written at (6..9)
};

// Told about each port as it goes, on that port's thread: implementations must be
// thread-safe and quick (a window posts the text to itself).
class CMultiRunObserver {
public:
    virtual ~CMultiRunObserver() = default;
    // A row's progress or status text ("Выполняется", "Выполнено: ...", "OK", ...).
    virtual void OnPortProgress(size_t port, int row, const std::string& text) {}
    virtual void OnPortFinished(size_t port, const CPortRunResult& result) {}
};

// The firmware transfer's rate, from the firmware row's texts: blocks counted from the
// first progress text to the last of an attempt ("Выполняется" starts an attempt).
class CTransferMeter {
public:
    explicit CTransferMeter(uint32_t blockSize) : blockSize(blockSize) {}
    void OnFirmwareRowText(const std::string& text, uint32_t nowMs);
    // Bytes per second over the blocks after the first; 0 until two blocks went out.
    uint64_t BytesPerSecond() const { return rate; }

private:
    uint32_t blockSize;
    uint64_t blocks = 0;
    uint32_t firstAt = 0;
    uint64_t rate = 0;
};

// The model of the scanner on the settings' port, as text; empty when the port cannot be
// opened or nothing answers. Leaves the port closed and settings.baudCode at the speed
// that answered, so the run finds the scanner at once. Throws only stop_exception.
std::string ProbeScannerModel(CRunHost& host, CPortSystem& ports, CRunSettings& settings);

// One port's update as the multi-port run makes it, on the calling thread: the scanner
// probed, every row run without a question (failures retried as settings.retries says),
// the result filled in; stop ends it at its next step. index is the port's number for
// the observer.
void RunPortUpdate(const ldr::file& firmware, const CPortTarget& target,
                   const CMultiRunSettings& settings, CPortEnvironment& environment,
                   std::atomic<bool>& stop, CMultiRunObserver* observer, size_t index,
                   CPortRunResult& result);

class CMultiPortRun {
public:
    // The firmware must outlive the run; observer may be null.
    CMultiPortRun(const ldr::file& firmware, CMultiRunSettings settings,
                  CPortEnvironmentFactory environments, CMultiRunObserver* observer);
    // Stops every port and waits for them.
    ~CMultiPortRun();
    CMultiPortRun(const CMultiPortRun&) = delete;
    CMultiPortRun& operator=(const CMultiPortRun&) = delete;

    void Start();
    // From any thread: every port stops at its next step; ports not begun never begin.
    void StopAll();
    bool StopRequested() const { return stopAll.load(); }
    // Waits until every port has ended; WaitFor gives up after ms and says whether they had.
    void Wait();
    bool WaitFor(uint32_t ms);
    // Per port, in the order of settings.ports; complete after Wait.
    const std::vector<CPortRunResult>& Results() const { return results; }

private:
    void Worker();
    void RunPort(size_t index);

    const ldr::file& firmware;
    CMultiRunSettings settings;
    CPortEnvironmentFactory environments;
    CMultiRunObserver* observer;
    std::vector<CPortRunResult> results;
    std::vector<std::thread> workers;
    std::atomic<bool> stopAll{false};
    std::atomic<size_t> nextPort{0};
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    size_t portsDone = 0;
};
