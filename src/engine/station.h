// A station: ports watched until they are told to stop, each scanner that turns up on one
// updated once (both rows, as the multi-port run does) and handed back to its working
// program, with a result for every scanner that finished.
//
// Each port has a watcher on a thread of its own with its own device, host and watch of
// its port. A port is waiting until its name is listed and a scanner answers on it (it is
// probed about once a second); the scanner is identified by its unique id (its serial
// number where the id cannot be read) and updated; then the port watches it. A finished
// scanner that stays is never updated again; once it has left or fallen silent the port
// is waiting again. The scanner that answers next is a new job unless it is the very
// scanner that just ended OK there (a failed one that comes back is tried again).
//
// Use:
//   CStation station(firmware, settings, NativePortEnvironment, &observer);
//   station.Start();
//   while (!station.WaitFor(200)) ...;   // StopAll() from any thread ends it
//   station.Totals();
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/multi_port.h"

namespace ldr {
struct file;
}

// How often a waiting port is probed, and how often a finished scanner is looked at.
constexpr uint32_t kStationProbeMs = 1000;
// How often --all's list of ports is read again.
constexpr uint32_t kStationListMs = 1000;
// Silent looks in a row after which a finished scanner counts as gone.
constexpr unsigned kStationSilentLooks = 2;

struct CStationSettings {
    // Ports watched all the time, in this order.
    std::vector<std::string> ports;
    // With it, every port it lists is watched too, read again as ports come and go.
    std::function<std::vector<std::string>()> listPorts;
    unsigned timeout = 3000;
    int baudCode = 2;            // the speed a waiting port is probed at first
    std::string firmwareFile;
    unsigned retries = 0;        // per scanner: how many failures are run again
    bool skipCurrent = false;    // a scanner already at the module's version is not updated
    int transferSpeedCode = 6;   // the speed code the module is written at (6..9)
    unsigned count = 0;          // the station ends after this many finished scanners; 0: never
};

struct CStationTotals {
    unsigned ok = 0;
    unsigned failed = 0;
    unsigned skipped = 0;        // already at the module's version
    unsigned stopped = 0;        // stopped in the middle of their update
};

// Told on the port's own thread: implementations must be thread-safe and quick.
class CStationObserver {
public:
    virtual ~CStationObserver() = default;
    // The port waits for a scanner (at the start, and after one has left).
    virtual void OnPortWaiting(const std::string& port) {}
    // A scanner answered and its update begins.
    virtual void OnJobStarted(const std::string& port, uint32_t serialNumber) {}
    virtual void OnJobProgress(const std::string& port, int row, const std::string& text) {}
    // A scanner's update has ended (OK, failed, skipped, or stopped).
    virtual void OnJobFinished(const std::string& port, const CPortRunResult& result) {}
    // Every port has ended; the station's totals are final.
    virtual void OnStationEnded() {}
};

class CStation {
public:
    // The firmware must outlive the station; observer may be null.
    CStation(const ldr::file& firmware, CStationSettings settings,
             CPortEnvironmentFactory environments, CStationObserver* observer);
    // Stops every port and waits for them.
    ~CStation();
    CStation(const CStation&) = delete;
    CStation& operator=(const CStation&) = delete;

    void Start();
    // From any thread: a scanner being updated stops at its next step, the ports end.
    void StopAll();
    bool StopRequested() const { return stopAll.load(); }
    // Until every port has ended (stopped, or count scanners finished).
    bool WaitFor(uint32_t ms);
    void Wait();
    CStationTotals Totals() const;

private:
    struct CWatcher;
    void Supervise();
    void Watch(CWatcher& watcher);
    // A job's slot: false once count jobs have begun.
    bool ClaimJob();
    void JobEnded(const CPortRunResult& result);
    bool Finishing() const { return stopAll || finishing; }

    const ldr::file& firmware;
    CStationSettings settings;
    CPortEnvironmentFactory environments;
    CStationObserver* observer;

    std::atomic<bool> stopAll{false};
    std::atomic<bool> finishing{false};   // count reached: no new job, the ports end
    std::thread supervisor;
    mutable std::mutex mutex;             // guards what follows
    std::condition_variable changed;
    std::map<std::string, std::unique_ptr<CWatcher>> watchers;
    std::vector<std::string> listed;
    unsigned jobsClaimed = 0;
    unsigned jobsRunning = 0;
    bool supervisorDone = false;
    CStationTotals totals;
};
