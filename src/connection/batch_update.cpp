#include "connection/batch_update.h"

#include <algorithm>
#include <cctype>

#include "base/host.h"
#include "base/record_file.h"
#include "base/strings.h"
#include "connection/device_search.h"
#include "engine/operations.h"
#include "engine/shared_stop_host.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

std::string ScannerText(const std::string& model, uint32_t serial)
{
    if (serial == kSerialNotSet)
        return model;
    return StringPrintf(LoadText(IDS_BATCH_SCANNER), model.c_str(), SerialText(serial).c_str());
}

// What a finished port's run ended with: "OK", "Прервано", or the failure's message.
std::string OutcomeText(const CPortRunResult& result)
{
    if (result.Succeeded())
        return LoadText(IDS_STATUS_OK);
    if (result.skipped && result.versionBefore >= 0)
        return StringPrintf(LoadText(IDS_STATION_SKIPPED),
                            VersionText(static_cast<uint16_t>(result.versionBefore)).c_str());
    if (result.stopped)
        return LoadText(IDS_STATUS_INTERRUPTED);
    if (!result.failure.empty())
        return result.failure;
    for (unsigned status : result.rowStatus)
        if (status != 0 && status != IDS_STATUS_OK)
            return LoadText(status);
    return LoadText(IDS_STATUS_INTERRUPTED);
}

// What a finished port's row says: the outcome, and how the scanner was left when not
// as it was found (after an OK, how the transfer fell back if it did).
std::string ResultText(const CPortRunResult& result)
{
    if (result.Succeeded())
        return AppendSentence(OutcomeText(result), result.remark);
    return AppendSentence(OutcomeText(result), result.note);
}

}  // namespace

bool PortNameLess(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& name) {
        size_t digits = name.size();
        while (digits > 0 && std::isdigit(static_cast<unsigned char>(name[digits - 1])))
            --digits;
        return digits;
    };
    const size_t da = split(a);
    const size_t db = split(b);
    const std::string pa = a.substr(0, da), pb = b.substr(0, db);
    if (pa != pb || da == a.size() || db == b.size())
        return a < b;
    const std::string na = a.substr(da), nb = b.substr(db);
    if (na.size() != nb.size())
        return na.size() < nb.size();
    return na < nb;
}

// The run's reports, passed on to the session with the port's row.
class CBatchSession::CRunObserver : public CMultiRunObserver {
public:
    explicit CRunObserver(CBatchSession& session) : session(session) {}

    void OnPortProgress(size_t port, int, const std::string& text) override
    {
        session.Update(session.runRows[port], [&](CBatchRow& row) { row.state = text; });
    }
    void OnPortFinished(size_t port, const CPortRunResult& result) override
    {
        session.FinishRunPort(session.runRows[port], result);
    }

private:
    CBatchSession& session;
};

// The automatic mode's reports, passed on to the session with the port's row.
class CBatchSession::CStationWatch : public CStationObserver {
public:
    CStationWatch(CBatchSession& session, std::vector<std::pair<std::string, size_t>> rows)
        : session(session), rows(std::move(rows))
    {
    }

    void OnPortWaiting(const std::string& port) override
    {
        // The scanner that was shown has left.
        session.Update(Row(port), [](CBatchRow& row) {
            row.state = LoadText(IDS_BATCH_WAITING);
            row.scanner.clear();
            row.speed.clear();
        });
    }
    void OnJobStarted(const std::string& port, uint32_t serial) override
    {
        session.Update(Row(port), [serial](CBatchRow& row) {
            row.scanner = serial == kSerialNotSet ? std::string() : SerialText(serial);
            row.state = LoadText(IDS_STATUS_RUNNING);
        });
    }
    void OnJobProgress(const std::string& port, int, const std::string& text) override
    {
        session.Update(Row(port), [&](CBatchRow& row) { row.state = text; });
    }
    void OnJobFinished(const std::string& port, const CPortRunResult& result) override
    {
        if (!result.stopped) {
            const bool failed = !result.Succeeded() && !result.skipped;
            (failed ? session.stationFailed : session.stationDone)++;
        }
        session.RecordResult(Row(port), result);
    }
    void OnStationEnded() override { session.EndWork(); }

private:
    size_t Row(const std::string& port) const
    {
        for (const auto& entry : rows)
            if (entry.first == port)
                return entry.second;
        return 0;
    }

    CBatchSession& session;
    std::vector<std::pair<std::string, size_t>> rows;
};

CBatchSession::CBatchSession(CPortEnvironmentFactory environments, std::function<void()> wake)
    : environments(std::move(environments)), wake(std::move(wake))
{
}

CBatchSession::~CBatchSession()
{
    Stop();
    run.reset();
    station.reset();
    for (std::thread& thread : searchThreads)
        thread.join();
}

bool CBatchSession::SetPorts(const std::vector<std::string>& ports)
{
    if (busy)
        return false;
    std::vector<CBatchRow> next;
    for (const std::string& port : ports) {
        if (std::any_of(next.begin(), next.end(), [&](const CBatchRow& r) { return r.port == port; }))
            continue;
        const auto kept = std::find_if(rows.begin(), rows.end(),
                                       [&](const CBatchRow& r) { return r.port == port; });
        if (kept != rows.end()) {
            next.push_back(*kept);
        } else {
            next.emplace_back();
            next.back().port = port;
        }
    }
    std::stable_sort(next.begin(), next.end(),
                     [](const CBatchRow& a, const CBatchRow& b) { return PortNameLess(a.port, b.port); });
    rows = std::move(next);
    return true;
}

bool CBatchSession::SetTicked(size_t row, bool ticked)
{
    if (busy || row >= rows.size())
        return false;
    rows[row].ticked = ticked;
    return true;
}

void CBatchSession::StartSearch()
{
    if (busy)
        return;
    for (CBatchRow& row : rows) {
        CBatchRow fresh;
        fresh.port = row.port;
        row = std::move(fresh);
    }
    shared = rows;
    changed.clear();
    ended = false;
    portsActive = rows.size();
    searchStop = false;
    busy = true;
    if (rows.empty()) {
        EndWork();
        return;
    }
    for (size_t row = 0; row < rows.size(); ++row)
        searchThreads.emplace_back(&CBatchSession::SearchPort, this, row, rows[row].port);
}

void CBatchSession::SearchPort(size_t row, const std::string& port)
{
    std::string state;
    try {
        const std::unique_ptr<CPortEnvironment> environment = environments(port);
        CSharedStopHost host(environment->Host(), searchStop);
        CComDevice device(environment->Ports(), host);
        OpenComPort(device, port, BaudFromCode(kDefaultSpeedCode), kSearchTimeoutMs);
        CScannerProtocol protocol(host);
        protocol.SetDevice(&device);
        Update(row, [](CBatchRow& r) { r.state = LoadText(IDS_SEARCHING); });
        for (int code = 0; code <= kSearchSpeedCodeLast; ++code) {
            const std::string speed = StringPrintf("%lu", static_cast<unsigned long>(BaudFromCode(code)));
            Update(row, [&](CBatchRow& r) { r.speed = speed; });
            host.PumpMessages();
            if (!device.CanMakeSpeed(BaudFromCode(code)))
                continue;
            device.SetBaudRate(BaudFromCode(code));
            unsigned char model = 0;
            if (!Probe(protocol, &model))
                continue;
            uint32_t serial = kSerialNotSet;
            if (!ReadSerialNumber(protocol, serial, false))
                serial = kSerialNotSet;
            const std::string scanner = ScannerText(ModelText(model), serial);
            Update(row, [&](CBatchRow& r) {
                r.ticked = true;
                r.speedCode = code;
                r.serialNumber = serial;
                r.scanner = scanner;
                r.state.clear();
            });
            PortEnded();
            return;
        }
        state = LoadText(IDS_NOT_FOUND);
    } catch (const object_description& failure) {
        state = failure.Text();
    } catch (const stop_exception&) {
        state = LoadText(IDS_SEARCH_STOPPED);
    } catch (...) {
        state = LoadText(IDS_UNKNOWN_EXCEPTION);
    }
    Update(row, [&](CBatchRow& r) {
        r.speed.clear();
        r.state = state;
    });
    PortEnded();
}

void CBatchSession::StartRun(const CBatchRunSettings& settings)
{
    if (busy)
        return;
    CMultiRunSettings multi;
    std::vector<size_t> targets;
    for (size_t row = 0; row < rows.size(); ++row) {
        if (!rows[row].ticked)
            continue;
        const int code = rows[row].speedCode >= 0 ? rows[row].speedCode : settings.baudCode;
        multi.ports.push_back({rows[row].port, code, rows[row].serialNumber});
        targets.push_back(row);
    }
    if (targets.empty())
        throw test_exception(IDS_BATCH_NO_PORTS);
    CFirmwareIdentity identity;
    std::unique_ptr<ldr::file> loaded = PrepareFiles(settings, identity);
    multi.timeout = settings.timeout;
    multi.firmwareFile = settings.firmwareFile;
    multi.skipCurrent = settings.skipCurrent;
    multi.transferSpeedCode = settings.transferSpeedCode;

    BeginWork(settings, std::move(loaded), identity, targets);
    runRows = targets;
    portsActive = targets.size();
    observer = std::make_unique<CRunObserver>(*this);
    run = std::make_unique<CMultiPortRun>(*firmware, multi, environments, observer.get());
    run->Start();
}

std::unique_ptr<ldr::file> CBatchSession::PrepareFiles(const CBatchRunSettings& settings,
                                                       CFirmwareIdentity& identity)
{
    auto loaded = std::make_unique<ldr::file>();
    ldr::load(settings.firmwareFile, *loaded);
    FirmwareModule(*loaded, settings.firmwareFile);
    if (!settings.logFile.empty()) {
        if (!IdentifyFirmwareFile(settings.firmwareFile, identity))
            throw test_exception(StringPrintf(LoadText(IDS_BATCH_NO_FIRMWARE_ID),
                                              settings.firmwareFile.c_str()));
        // Found out now, not after the scanners were updated and their records lost.
        std::string error;
        if (!CanAppendRecords(settings.logFile, error))
            throw test_exception(StringPrintf(LoadText(IDS_LOG_NOT_WRITABLE),
                                              settings.logFile.c_str(), error.c_str()));
    }
    return loaded;
}

void CBatchSession::BeginWork(const CBatchRunSettings& settings, std::unique_ptr<ldr::file> loaded,
                              const CFirmwareIdentity& identity, const std::vector<size_t>& targets)
{
    run.reset();
    firmware = std::move(loaded);
    firmwareIdentity = identity;
    runSettings = settings;
    for (size_t row : targets)
        rows[row].state.clear();
    shared = rows;
    changed.clear();
    logFailures.clear();
    ended = false;
    busy = true;
}

void CBatchSession::StartStation(const CBatchRunSettings& settings)
{
    if (busy)
        return;
    std::vector<size_t> targets;
    for (size_t row = 0; row < rows.size(); ++row)
        if (rows[row].ticked)
            targets.push_back(row);
    if (targets.empty())
        for (size_t row = 0; row < rows.size(); ++row)
            targets.push_back(row);
    if (targets.empty())
        throw test_exception(IDS_BATCH_NO_PORTS);
    CFirmwareIdentity identity;
    std::unique_ptr<ldr::file> loaded = PrepareFiles(settings, identity);
    CStationSettings watched;
    std::vector<std::pair<std::string, size_t>> portRows;
    for (size_t row : targets) {
        watched.ports.push_back(rows[row].port);
        portRows.emplace_back(rows[row].port, row);
    }
    watched.timeout = settings.timeout;
    watched.baudCode = settings.baudCode;
    watched.firmwareFile = settings.firmwareFile;
    watched.skipCurrent = settings.skipCurrent;
    watched.transferSpeedCode = settings.transferSpeedCode;

    BeginWork(settings, std::move(loaded), identity, targets);
    stationDone = 0;
    stationFailed = 0;
    summary = StringPrintf(LoadText(IDS_BATCH_STATION_SUMMARY), 0u, 0u);
    stationWatch = std::make_unique<CStationWatch>(*this, std::move(portRows));
    station = std::make_unique<CStation>(*firmware, watched, environments, stationWatch.get());
    station->Start();
}

void CBatchSession::FinishRunPort(size_t row, const CPortRunResult& result)
{
    RecordResult(row, result);
    PortEnded();
}

void CBatchSession::RecordResult(size_t row, const CPortRunResult& result)
{
    std::string failure;
    if (!runSettings.logFile.empty()) {
        const CLogStamp stamp{UtcTimeText(), HostName(), runSettings.version, runSettings.station,
                              runSettings.tags};
        const std::string record = ResultLogLine(result, firmwareIdentity, stamp);
        std::string error;
        if (!AppendRecord(runSettings.logFile, record, error))
            failure = StringPrintf(LoadText(IDS_LOG_WRITE_FAILED), runSettings.logFile.c_str(),
                                   error.c_str()) +
                      "\r\n" + LoadText(IDS_RECORD_NOT_LOGGED) + "\r\n" +
                      record.substr(0, record.size() - 1);
    }
    const std::string text = ResultText(result);
    const std::string scanner = result.model.empty() ? std::string()
                                                     : ScannerText(result.model, result.serialNumber);
    const std::string speed = result.speedCode >= 0 ? std::to_string(BaudFromCode(result.speedCode))
                                                    : std::string();
    Update(row, [&](CBatchRow& r) {
        r.state = text;
        if (!scanner.empty())
            r.scanner = scanner;
        if (result.serialNumber != kSerialNotSet)
            r.serialNumber = result.serialNumber;
        // The row shows the speed the scanner is at now, whether or not it is the one it
        // was found at.
        if (result.speedCode >= 0) {
            r.speedCode = result.speedCode;
            r.speed = speed;
        }
    });
    if (!failure.empty()) {
        std::lock_guard<std::mutex> lock(mutex);
        logFailures.push_back(failure);
    }
}

void CBatchSession::Stop()
{
    searchStop = true;
    if (run)
        run->StopAll();
    if (station)
        station->StopAll();
}

void CBatchSession::Update(size_t row, const std::function<void(CBatchRow&)>& change)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        change(shared[row]);
        changed.insert(row);
    }
    if (wake && !wakePending.exchange(true))
        wake();
}

void CBatchSession::PortEnded()
{
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        last = --portsActive == 0;
    }
    if (last)
        EndWork();
}

void CBatchSession::EndWork()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ended = true;
    }
    if (wake && !wakePending.exchange(true))
        wake();
}

CBatchDelivery CBatchSession::Deliver()
{
    wakePending = false;
    CBatchDelivery delivery;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (size_t row : changed) {
            rows[row] = shared[row];
            delivery.rows.push_back(row);
        }
        changed.clear();
        delivery.ended = busy && ended;
    }
    if (station)
        summary = StringPrintf(LoadText(IDS_BATCH_STATION_SUMMARY), stationDone.load(),
                               stationFailed.load());
    if (!delivery.ended)
        return delivery;
    for (std::thread& thread : searchThreads)
        thread.join();
    searchThreads.clear();
    if (run) {
        run->Wait();
        const std::vector<CPortRunResult>& results = run->Results();
        const auto done = std::count_if(results.begin(), results.end(),
                                        [](const CPortRunResult& r) { return r.Succeeded(); });
        summary = StringPrintf(LoadText(IDS_BATCH_SUMMARY), unsigned(done), unsigned(results.size()));
        run.reset();
        observer.reset();
        firmware.reset();
    }
    if (station) {
        station->Wait();
        station.reset();
        stationWatch.reset();
        firmware.reset();
    }
    busy = false;
    return delivery;
}

std::vector<std::string> CBatchSession::TakeLogFailures()
{
    std::vector<std::string> taken;
    std::lock_guard<std::mutex> lock(mutex);
    taken.swap(logFailures);
    return taken;
}
