// The batch window's logic: every listed port as a row, a search of all of them at once,
// and the update of every ticked port at once (one run of the operation list per port,
// CMultiPortRun), with each port's progress and result and the result log.
//
// The ports' threads never touch the window: they record what a row shows, mark the row
// changed and call the wake callback (the window posts itself a message). The window's
// thread then takes the changes with Deliver and redraws those rows.
//
// Use:
//   CBatchSession session(NativePortEnvironment, [window] { PostMessage(window, ...); });
//   session.SetPorts(ports.EnumerateSerialPorts());
//   session.StartSearch();            // or StartRun(settings)
//   ... on each wake: for (size_t row : session.Deliver().rows) redraw(row) ...
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/multi_port.h"
#include "engine/result_log.h"
#include "engine/station.h"

namespace ldr {
struct file;
}

struct CBatchRow {
    std::string port;
    bool ticked = false;
    int speedCode = -1;    // the speed code the scanner was found (or left) at; -1: none
    // The scanner's serial number once a search or a run has read it: a run that finds
    // the scanner in its loader, where it cannot be read, still knows and records it.
    uint32_t serialNumber = 0xFFFFFFFFu;
    // The texts of the columns after the port's.
    std::string speed;
    std::string scanner;   // model, and serial number when it could be read
    std::string state;     // search state, run progress, then the run's result
};

struct CBatchRunSettings {
    std::string firmwareFile;
    unsigned timeout = 3000;
    int baudCode = 2;        // the speed tried first on a port the search did not find
    int transferSpeedCode = 6;   // the speed code the module is written at (6..9)
    std::string logFile;     // JSON Lines result log; empty: none
    std::string version;     // the program's version text, for the log
    bool skipCurrent = false; // a scanner already at the module's version is skipped
    std::string station;     // the records' station; empty: the host's name
    CRecordTags tags;        // the records' tags
};

// What Deliver took: the rows to redraw, and whether the search or run has ended.
struct CBatchDelivery {
    std::vector<size_t> rows;
    bool ended = false;
};

class CBatchSession {
public:
    CBatchSession(CPortEnvironmentFactory environments, std::function<void()> wake);
    // Stops whatever runs and waits for it.
    ~CBatchSession();
    CBatchSession(const CBatchSession&) = delete;
    CBatchSession& operator=(const CBatchSession&) = delete;

    // While idle: rows follow the listed ports, in natural order (COM2 before COM10); rows
    // of ports still listed keep their ticks and texts, new ports come unticked. False
    // (nothing changed) while busy.
    bool SetPorts(const std::vector<std::string>& ports);
    const std::vector<CBatchRow>& Rows() const { return rows; }
    // While idle only; false otherwise.
    bool SetTicked(size_t row, bool ticked);

    bool Busy() const { return busy; }
    // Every port at once, at speed codes 0..6, then 7..9: a port where a scanner answers
    // is ticked with its speed and scanner, every other one unticked with its state.
    void StartSearch();
    // Every ticked port at once; throws object_description (no port ticked, a firmware
    // file that cannot be loaded, lacks the module the update writes or cannot be named
    // for the log, a log that cannot be opened for appending) before any port starts.
    void StartRun(const CBatchRunSettings& settings);
    // The automatic mode: the ticked ports (every row when none is ticked) watched as a
    // station until Stop, each scanner that turns up updated once; a row says "Ожидание",
    // then the scanner's progress, then its result with its serial number until it
    // leaves. Throws as StartRun does.
    void StartStation(const CBatchRunSettings& settings);
    bool Automatic() const { return station != nullptr; }
    // From any thread: every port stops at its next step.
    void Stop();

    // On the window's thread: takes what the ports reported since the last call. When
    // the search or run has ended, its threads are gone and the session is idle again.
    CBatchDelivery Deliver();
    // After a run: "Готово: N из M"; in the automatic mode, as it goes, "Готово: N,
    // ошибок: M"; empty before the first run ends.
    const std::string& Summary() const { return summary; }
    // After a run: one message per result-log record that could not be written, the
    // record itself after it, so that it is not lost.
    std::vector<std::string> TakeLogFailures();

private:
    class CRunObserver;
    class CStationWatch;

    // What a run and the automatic mode check before any port starts: the firmware loaded
    // with its module, named for the log, and the log opened for appending.
    std::unique_ptr<ldr::file> PrepareFiles(const CBatchRunSettings& settings,
                                            CFirmwareIdentity& identity);
    // The session's state for a run or the automatic mode on the target rows.
    void BeginWork(const CBatchRunSettings& settings, std::unique_ptr<ldr::file> loaded,
                   const CFirmwareIdentity& identity, const std::vector<size_t>& targets);
    // The record of a finished scanner appended to the log (a record the log refused is
    // kept for the message) and its row's texts.
    void RecordResult(size_t row, const CPortRunResult& result);
    void SearchPort(size_t row, const std::string& port);
    void FinishRunPort(size_t row, const CPortRunResult& result);
    // The ports' side: changes a row under the lock and wakes the window.
    void Update(size_t row, const std::function<void(CBatchRow&)>& change);
    void PortEnded();
    void EndWork();

    CPortEnvironmentFactory environments;
    std::function<void()> wake;
    std::vector<CBatchRow> rows;   // the window's copy

    std::mutex mutex;              // guards everything below up to the threads
    std::vector<CBatchRow> shared; // the ports' copy
    std::set<size_t> changed;
    size_t portsActive = 0;
    bool ended = false;
    std::vector<std::string> logFailures;

    std::atomic<bool> wakePending{false};
    std::atomic<bool> searchStop{false};
    bool busy = false;
    std::vector<std::thread> searchThreads;
    std::unique_ptr<ldr::file> firmware;
    std::unique_ptr<CRunObserver> observer;
    std::unique_ptr<CMultiPortRun> run;
    std::unique_ptr<CStationWatch> stationWatch;
    std::unique_ptr<CStation> station;
    std::atomic<unsigned> stationDone{0};     // finished without error (skipped too)
    std::atomic<unsigned> stationFailed{0};
    std::vector<size_t> runRows;   // per port of the run, its row
    CBatchRunSettings runSettings;
    CFirmwareIdentity firmwareIdentity;
    std::string summary;
};

// Port names in natural order: the same prefix compares by the number after it.
bool PortNameLess(const std::string& a, const std::string& b);
