#include "cli/multi_update.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "base/record_file.h"
#include "base/strings.h"
#include "base/version.h"
#include "connection/device_search.h"
#include "engine/multi_port.h"
#include "engine/shared_stop_host.h"
#include "engine/operations.h"
#include "engine/result_log.h"
#include "firmware/ldr.h"
#include "protocol/device_info.h"
#include "transport/port_system.h"

namespace {

// How often a terminal's progress lines are redrawn.
constexpr uint32_t kRedrawMs = 200;
// How often the main thread takes an interrupt while the ports are searched.
constexpr uint32_t kSearchPumpMs = 20;

// Columns a UTF-8 text takes on a terminal.
size_t Width(const std::string& text)
{
    return size_t(std::count_if(text.begin(), text.end(),
                                [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

class COnePortSearch : public CSearchView {
public:
    explicit COnePortSearch(std::string port) : port(std::move(port)) {}
    int RowCount() override { return 1; }
    std::string PortName(int) override { return port; }
    bool IsTicked(int) override { return true; }
    void SetSpeedText(int, const std::string&) override {}
    void SetStateText(int, const std::string& text) override { state = text; }
    void SetRowCode(int, int found) override { code = found; }
    void EnsureVisible(int) override {}
    BoxOwner OwnerWindow() override { return nullptr; }

    std::string port;
    int code = -1;
    std::string state;
};

// Progress of every port: on a terminal one line per port, redrawn in place; otherwise
// each text a line of its own, prefixed with the port.
class CMultiProgress : public CMultiRunObserver {
public:
    CMultiProgress(std::ostream& out, bool terminal, const std::vector<CFoundPort>& ports)
        : out(out), terminal(terminal)
    {
        size_t count = 0;
        const OperationDescriptor* catalogue = OperationCatalogue(count);
        for (size_t i = 0; i < count; ++i)
            rowNames.push_back(LoadText(catalogue[i].nameId));
        for (const CFoundPort& port : ports) {
            names.push_back(port.name);
            lines.push_back(port.name + ":");
        }
    }

    void OnPortProgress(size_t port, int row, const std::string& text) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string line = names[port] + ": " + rowNames[row] + ": " + text;
        if (terminal) {
            lines[port] = line;
            dirty = true;
        } else {
            out << line << '\n' << std::flush;
        }
    }

    void Redraw()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!terminal || !dirty)
            return;
        if (drawn)
            out << "\x1b[" << lines.size() << 'A';
        for (const std::string& line : lines)
            out << "\r\x1b[K" << line << '\n';
        out << std::flush;
        drawn = true;
        dirty = false;
    }

private:
    std::mutex mutex;
    std::ostream& out;
    bool terminal;
    std::vector<std::string> rowNames;
    std::vector<std::string> names;
    std::vector<std::string> lines;
    bool dirty = false;
    bool drawn = false;
};

std::string RowsText(const CPortRunResult& result)
{
    // A port stopped before it began has no row to show for it.
    if (result.stopped && std::all_of(result.rowStatus.begin(), result.rowStatus.end(),
                                      [](unsigned status) { return status == 0; }))
        return LoadText(IDS_STATUS_INTERRUPTED);
    std::string text;
    for (unsigned status : result.rowStatus)
        text += (text.empty() ? "" : " / ") + std::string(status ? LoadText(status) : "-");
    return text;
}

}  // namespace

void PrepareUpdate(const CCliOptions& options, const CCliSettings& settings, CUpdateFiles& files)
{
    ldr::load(settings.firmwareFile, files.firmware);
    FirmwareModule(files.firmware, settings.firmwareFile);
    if (!options.logFile)
        return;
    files.stamp = CLogStamp{std::string(), HostName(), TRELVO_VERSION_TEXT, settings.logStation,
                            settings.logTags};
    if (!IdentifyFirmwareFile(settings.firmwareFile, files.identity))
        throw ldr_exception(IDS_BATCH_NO_FIRMWARE_ID, StringPrintf(LoadText(IDS_BATCH_NO_FIRMWARE_ID),
                                                                   settings.firmwareFile.c_str()));
    // A log that cannot take the records is found out now, not after the scanners
    // were updated and their records lost.
    std::string error;
    if (!CanAppendRecords(*options.logFile, error))
        throw CUsageError(StringPrintf(LoadText(IDS_LOG_NOT_WRITABLE), options.logFile->c_str(),
                                       error.c_str()));
}

std::vector<CFoundPort> FindUpdatePorts(const CCliOptions& options, const CCliSettings& settings,
                                        const CCliEnvironment& env, CCliHost& host,
                                        std::vector<CFoundPort>* searched)
{
    std::vector<CFoundPort> found;
    if (!options.allPorts) {
        for (const std::string& name : options.updatePorts)
            found.push_back({name, settings.connect.speedCode, std::string()});
        return found;
    }
    std::vector<std::string> names = env.ports.EnumerateSerialPorts();
    for (const std::string& name : options.updatePorts)
        if (std::none_of(names.begin(), names.end(),
                         [&name](const std::string& listed) { return SamePortName(listed, name); }))
            names.push_back(name);

    std::vector<COnePortSearch> searches;
    for (const std::string& name : names)
        searches.emplace_back(name);
    std::atomic<bool> stop{false};
    std::atomic<size_t> searching{searches.size()};
    std::vector<std::thread> threads;
    for (COnePortSearch& search : searches) {
        threads.emplace_back([&search, &stop, &searching, &env] {
            CSharedStopHost searchHost(PlatformHost(), stop);
            SearchDevices(env.ports, searchHost, search);
            --searching;
        });
    }
    // This thread pumps while the ports are searched: where an interrupt reaches only
    // this thread (Windows posts it here), it must stop every search at once.
    while (searching > 0) {
        try {
            host.PumpMessages();
        } catch (const stop_exception&) {
            stop = true;
        }
        host.Sleep(kSearchPumpMs);
    }
    for (std::thread& thread : threads)
        thread.join();
    // An interrupt taken by one of the searches, or here, is the tool's stop.
    if (stop)
        throw stop_exception(0);
    host.PumpMessages();
    for (const COnePortSearch& search : searches) {
        if (search.code >= 0)
            found.push_back({search.port, search.code, search.state});
        if (searched)
            searched->push_back({search.port, search.code, search.state});
    }
    return found;
}

std::string ResultTable(const std::vector<CPortRunResult>& results)
{
    std::vector<std::vector<std::string>> cells = {
        {LoadText(IDS_CLI_COLUMN_PORT), LoadText(IDS_CLI_COLUMN_SERIAL), LoadText(IDS_CLI_COLUMN_MODEL),
         LoadText(IDS_CLI_COLUMN_RESULT), LoadText(IDS_CLI_COLUMN_SECONDS),
         LoadText(IDS_CLI_COLUMN_RATE)}};
    for (const CPortRunResult& r : results) {
        cells.push_back({r.port, SerialText(r.serialNumber), r.model.empty() ? "-" : r.model,
                         RowsText(r),
                         StringPrintf("%u.%u", r.durationMs / 1000, r.durationMs % 1000 / 100),
                         std::to_string(r.bytesPerSecond)});
    }
    std::vector<size_t> widths(cells[0].size(), 0);
    for (const auto& line : cells)
        for (size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], Width(line[c]));
    std::string table;
    for (const auto& line : cells) {
        std::string text;
        for (size_t c = 0; c < line.size(); ++c) {
            text += line[c];
            if (c + 1 < line.size())
                text += std::string(widths[c] - Width(line[c]) + 2, ' ');
        }
        table += text + '\n';
    }
    return table;
}

bool WriteResultLog(const std::string& logFile, const CUpdateFiles& files,
                    const std::vector<CPortRunResult>& results, std::ostream& err)
{
    CLogStamp stamp = files.stamp;
    stamp.utcTime = UtcTimeText();
    bool written = true;
    for (const CPortRunResult& result : results) {
        const std::string record = ResultLogLine(result, files.identity, stamp);
        std::string error;
        if (!AppendRecord(logFile, record, error)) {
            err << StringPrintf(LoadText(IDS_LOG_WRITE_FAILED), logFile.c_str(), error.c_str())
                << '\n' << record << std::flush;
            written = false;
        }
    }
    return written;
}

int MultiPortUpdate(const CCliOptions& options, const CCliSettings& settings,
                    const CUpdateFiles& files, const CCliEnvironment& env, CCliHost& host)
{
    std::vector<CFoundPort> searched;
    const std::vector<CFoundPort> ports = FindUpdatePorts(options, settings, env, host, &searched);
    if (ports.empty()) {
        if (searched.empty()) {
            env.err << LoadText(IDS_CLI_NO_PORTS) << '\n';
            return kExitNotFound;
        }
        // Which ports were looked at, and why nothing answered on each.
        env.err << LoadText(IDS_CLI_NO_SCANNERS) << '\n';
        for (const CFoundPort& port : searched)
            env.err << port.name << '\t' << port.state << '\n';
        return kExitNotFound;
    }
    CMultiRunSettings runSettings;
    for (const CFoundPort& port : ports)
        runSettings.ports.push_back({port.name, port.speedCode});
    runSettings.timeout = settings.connect.timeout;
    runSettings.firmwareFile = settings.firmwareFile;
    runSettings.jobs = options.jobs.value_or(0);
    runSettings.retries = options.retries.value_or(0);
    runSettings.skipCurrent = settings.skipCurrent;
    runSettings.transferSpeedCode = settings.transferSpeedCode;

    CMultiProgress progress(env.out, env.outIsTerminal, ports);
    CPortEnvironmentFactory environments = NativePortEnvironment;
    if (CTraceSink* trace = env.ports.Trace())
        environments = TracedPortEnvironments(NativePortEnvironment, *trace);
    CMultiPortRun run(files.firmware, runSettings, environments, &progress);
    run.Start();
    while (!run.WaitFor(kRedrawMs)) {
        try {
            host.PumpMessages();
        } catch (const stop_exception&) {
            run.StopAll();
        }
        progress.Redraw();
    }
    run.Wait();
    progress.Redraw();

    const std::vector<CPortRunResult>& results = run.Results();
    env.out << '\n' << ResultTable(results) << std::flush;
    bool allOk = true;
    for (const CPortRunResult& r : results) {
        if (r.Succeeded() || r.skipped)
            continue;
        if (allOk)
            env.err << LoadText(IDS_CLI_FAILED_PORTS) << '\n';
        allOk = false;
        const std::string failure = r.failure.empty() ? RowsText(r) : PlainLineEnds(r.failure);
        env.err << r.port << ": " << AppendSentence(failure, r.note) << '\n';
    }
    const bool logged =
        !options.logFile || WriteResultLog(*options.logFile, files, results, env.err);
    if (run.StopRequested())
        return StoppedExitCode(env);
    return allOk && logged ? kExitOk : kExitFailure;
}
