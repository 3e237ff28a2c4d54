#include "engine/station.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "base/host.h"
#include "base/strings.h"
#include "engine/shared_stop_host.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"
#include "transport/single_port_system.h"

namespace {

// A look at a port costs little: three of these on a silent speed.
constexpr unsigned kLookTimeoutMs = 100;

// What a look at a port found.
struct CScannerSeen {
    int speedCode = -1;
    uint32_t serialNumber = kSerialNotSet;
    std::string uniqueId;   // hex; empty when not read
};

// How a scanner is told from the next one: its unique id, or where that cannot be read
// its serial number; empty when neither is known (such a scanner is never "the same").
std::string Identity(const std::string& uniqueId, uint32_t serialNumber)
{
    if (!uniqueId.empty())
        return uniqueId;
    return serialNumber == kSerialNotSet ? std::string() : "serial " + std::to_string(serialNumber);
}

std::string ReadUniqueId(CScannerProtocol& protocol)
{
    std::array<uint8_t, 16> id{};
    if (protocol.GetUniqueId(id.data(), TRANSPORT_SERIAL) != RESULT_OK)
        return {};
    return HexText(id.data(), id.size());
}

// One look at the port at each of the given speed codes, in order: the first that
// answers. A port that is absent, busy or failing has no scanner now.
bool LookForScanner(CRunHost& host, CPortSystem& ports, const std::string& port,
                    const std::vector<int>& codes, bool identify, CScannerSeen& seen)
{
    if (codes.empty() || !ports.SerialPortExists(port))
        return false;
    CComDevice device(ports, host);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    try {
        OpenComPort(device, port, BaudFromCode(codes.front()), kLookTimeoutMs);
        for (int code : codes) {
            if (!device.CanMakeSpeed(BaudFromCode(code)))
                continue;
            device.SetBaudRate(BaudFromCode(code));
            if (!Probe(protocol))
                continue;
            seen.speedCode = code;
            seen.uniqueId = ReadUniqueId(protocol);
            uint32_t serial = kSerialNotSet;
            if (identify && ReadSerialNumber(protocol, serial, false))
                seen.serialNumber = serial;
            return true;
        }
    } catch (const object_description&) {
        // A scanner that answers with an error, or a port that failed: nothing to take.
    }
    return false;
}

// A port's progress for the station's observer.
class CJobObserver : public CMultiRunObserver {
public:
    CJobObserver(CStationObserver* observer, const std::string& port) : observer(observer), port(port) {}
    void OnPortProgress(size_t, int row, const std::string& text) override
    {
        if (observer)
            observer->OnJobProgress(port, row, text);
    }

private:
    CStationObserver* observer;
    const std::string& port;
};

}  // namespace

struct CStation::CWatcher {
    std::string port;
    std::thread thread;
    std::atomic<bool> done{false};
};

CStation::CStation(const ldr::file& firmware, CStationSettings settings,
                   CPortEnvironmentFactory environments, CStationObserver* observer)
    : firmware(firmware), settings(std::move(settings)), environments(std::move(environments)),
      observer(observer)
{
}

CStation::~CStation()
{
    StopAll();
    Wait();
}

void CStation::Start()
{
    supervisor = std::thread(&CStation::Supervise, this);
}

void CStation::StopAll()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopAll = true;
    }
    changed.notify_all();
}

bool CStation::WaitFor(uint32_t ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return supervisorDone; });
}

void CStation::Wait()
{
    if (supervisor.joinable())
        supervisor.join();
}

CStationTotals CStation::Totals() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return totals;
}

bool CStation::ClaimJob()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (Finishing() || (settings.count != 0 && jobsClaimed >= settings.count))
        return false;
    ++jobsClaimed;
    ++jobsRunning;
    return true;
}

void CStation::JobEnded(const CPortRunResult& result)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        --jobsRunning;
        if (result.stopped) {
            ++totals.stopped;
            // A stopped job is no finished scanner: its slot is free again.
            --jobsClaimed;
        } else if (result.skipped) {
            ++totals.skipped;
        } else if (result.Succeeded()) {
            ++totals.ok;
        } else {
            ++totals.failed;
        }
        if (settings.count != 0 && jobsClaimed >= settings.count && jobsRunning == 0)
            finishing = true;
    }
    changed.notify_all();
}

void CStation::Supervise()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!Finishing()) {
        std::vector<std::string> names = settings.ports;
        if (settings.listPorts) {
            lock.unlock();
            std::vector<std::string> now = settings.listPorts();
            lock.lock();
            listed = now;
            for (const std::string& name : now)
                if (std::none_of(names.begin(), names.end(),
                                 [&](const std::string& n) { return SamePortName(n, name); }))
                    names.push_back(name);
        }
        for (auto it = watchers.begin(); it != watchers.end();) {
            if (it->second->done) {
                it->second->thread.join();
                it = watchers.erase(it);
            } else {
                ++it;
            }
        }
        for (const std::string& name : names) {
            if (watchers.count(name) != 0)
                continue;
            auto watcher = std::make_unique<CWatcher>();
            watcher->port = name;
            CWatcher& started = *watcher;
            watchers.emplace(name, std::move(watcher));
            started.thread = std::thread(&CStation::Watch, this, std::ref(started));
        }
        changed.wait_for(lock, std::chrono::milliseconds(kStationListMs), [this] { return Finishing(); });
    }
    // The ports end on their own: a stop ends a job at its next step, an ending station
    // lets the jobs that have begun finish.
    for (auto& entry : watchers) {
        lock.unlock();
        entry.second->thread.join();
        lock.lock();
    }
    watchers.clear();
    supervisorDone = true;
    lock.unlock();
    changed.notify_all();
    if (observer)
        observer->OnStationEnded();
}

void CStation::Watch(CWatcher& watcher)
{
    const std::string& port = watcher.port;
    const bool named = std::any_of(settings.ports.begin(), settings.ports.end(),
                                   [&](const std::string& n) { return SamePortName(n, port); });
    auto wanted = [&] {
        if (named)
            return true;
        std::lock_guard<std::mutex> lock(mutex);
        return std::any_of(listed.begin(), listed.end(),
                           [&](const std::string& n) { return SamePortName(n, port); });
    };
    const std::unique_ptr<CPortEnvironment> environment = environments(port);
    CSharedStopHost host(environment->Host(), stopAll);
    CSinglePortSystem ports(environment->Ports(), port, host);
    CMultiRunSettings runSettings;
    runSettings.timeout = settings.timeout;
    runSettings.firmwareFile = settings.firmwareFile;
    runSettings.retries = settings.retries;
    runSettings.skipCurrent = settings.skipCurrent;
    runSettings.transferSpeedCode = settings.transferSpeedCode;
    CJobObserver jobObserver(observer, port);

    // Waits between looks; a port that was absent ends the wait as soon as it is listed
    // (a USB scanner plugged in is taken at once).
    auto pause = [&](bool endWhenListed) {
        const uint32_t start = host.TickCount();
        while (!Finishing() && host.TickCount() - start < kStationProbeMs) {
            SleepPumping(host, kWaitSliceMs);
            if (endWhenListed && ports.SerialPortExists(port))
                return;
        }
    };

    int code = settings.baudCode;       // where the scanner was last found
    int nextCode = 0;                   // the other speeds, one a look, in turn
    std::string lastOk;                 // the scanner that ended OK here last
    try {
        if (observer)
            observer->OnPortWaiting(port);
        while (!Finishing() && wanted()) {
            // Waiting: the usual speed at each look, and one of the others in turn.
            const bool listedNow = ports.SerialPortExists(port);
            std::vector<int> codes = {code};
            if (nextCode == code)
                nextCode = (nextCode + 1) % (kSearchSpeedCodeLast + 1);
            codes.push_back(nextCode);
            nextCode = (nextCode + 1) % (kSearchSpeedCodeLast + 1);
            CScannerSeen seen;
            if (!listedNow || !LookForScanner(host, ports, port, codes, true, seen)) {
                pause(!listedNow);
                continue;
            }
            code = seen.speedCode;
            std::string identity = Identity(seen.uniqueId, seen.serialNumber);
            std::string scannerId = seen.uniqueId;
            if (identity.empty() || identity != lastOk) {
                if (!ClaimJob())
                    break;
                if (observer)
                    observer->OnJobStarted(port, seen.serialNumber);
                CPortRunResult result;
                result.port = port;
                RunPortUpdate(firmware, {port, code, seen.serialNumber}, runSettings, *environment,
                              stopAll, &jobObserver, 0, result);
                JobEnded(result);
                if (observer)
                    observer->OnJobFinished(port, result);
                if (result.stopped)
                    break;
                if (result.speedCode >= 0)
                    code = result.speedCode;
                const std::string after = Identity(result.uniqueId, result.serialNumber);
                if (!after.empty())
                    identity = after;
                if (!result.uniqueId.empty())
                    scannerId = result.uniqueId;
                lastOk = result.Succeeded() || result.skipped ? identity : std::string();
            }
            // Finished: the scanner is looked at until it leaves, falls silent or is
            // replaced by another one; it is never taken again meanwhile.
            unsigned silent = 0;
            while (!Finishing() && silent < kStationSilentLooks) {
                pause(false);
                if (Finishing())
                    break;
                CScannerSeen present;
                if (!ports.SerialPortExists(port))
                    break;
                if (!LookForScanner(host, ports, port, {code}, false, present)) {
                    ++silent;
                    continue;
                }
                silent = 0;
                if (!present.uniqueId.empty() && !scannerId.empty() && present.uniqueId != scannerId)
                    break;   // swapped between two looks: the other one is a new job
            }
            if (!Finishing() && observer)
                observer->OnPortWaiting(port);
        }
    } catch (const stop_exception&) {
        // Stopped while waiting or looking: nothing of a scanner was begun.
    }
    watcher.done = true;
    changed.notify_all();
}
