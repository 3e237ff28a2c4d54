#include "cli/station_command.h"

#include <mutex>

#include "base/record_file.h"
#include "base/strings.h"
#include "engine/multi_port.h"
#include "engine/station.h"
#include "protocol/device_info.h"
#include "transport/port_system.h"

namespace {

// How often the main thread takes an interrupt while the station runs.
constexpr uint32_t kStationPumpMs = 200;

std::string OutcomeText(const CPortRunResult& result)
{
    if (result.stopped)
        return LoadText(IDS_STATUS_INTERRUPTED);
    if (result.skipped)
        return StringPrintf(LoadText(IDS_STATION_SKIPPED),
                            VersionText(static_cast<uint16_t>(result.versionBefore)).c_str());
    if (result.Succeeded())
        return LoadText(IDS_STATUS_OK);
    std::string failure = result.failure;
    if (failure.empty())
        for (unsigned status : result.rowStatus)
            if (status != 0 && status != IDS_STATUS_OK && failure.empty())
                failure = LoadText(status);
    return PlainLineEnds(AppendSentence(failure, result.note));
}

// Each finished scanner: its line on stdout and its record in the log, as it finishes.
class CStationReport : public CStationObserver {
public:
    CStationReport(const CCliOptions& options, const CUpdateFiles& files, const CCliEnvironment& env)
        : options(options), files(files), env(env)
    {
    }

    void OnJobFinished(const std::string&, const CPortRunResult& result) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        env.out << StationLine(UtcTimeText(), result) << '\n' << std::flush;
        if (options.logFile && !WriteResultLog(*options.logFile, files, {result}, env.err))
            logFailed = true;
    }

    bool LogFailed()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return logFailed;
    }

private:
    const CCliOptions& options;
    const CUpdateFiles& files;
    const CCliEnvironment& env;
    std::mutex mutex;
    bool logFailed = false;
};

}  // namespace

std::string StationLine(const std::string& time, const CPortRunResult& result)
{
    return time + '\t' + result.port + '\t' + SerialText(result.serialNumber) + '\t' +
           OutcomeText(result);
}

int StationCommand(const CCliOptions& options, const CCliSettings& settings,
                   const CUpdateFiles& files, const CCliEnvironment& env, CCliHost& host)
{
    CStationSettings station;
    station.ports = options.updatePorts;
    if (station.ports.empty() && !options.allPorts)
        station.ports.push_back(settings.connect.portName);
    if (options.allPorts) {
        CPortSystem& ports = env.ports;
        station.listPorts = [&ports] { return ports.EnumerateSerialPorts(); };
    }
    station.timeout = settings.connect.timeout;
    station.baudCode = settings.connect.speedCode;
    station.firmwareFile = settings.firmwareFile;
    station.retries = options.retries.value_or(0);
    station.skipCurrent = settings.skipCurrent;
    station.transferSpeedCode = settings.transferSpeedCode;
    station.count = options.count.value_or(0);

    CPortEnvironmentFactory environments = NativePortEnvironment;
    if (CTraceSink* trace = env.ports.Trace())
        environments = TracedPortEnvironments(NativePortEnvironment, *trace);
    CStationReport report(options, files, env);
    CStation run(files.firmware, station, environments, &report);
    run.Start();
    while (!run.WaitFor(kStationPumpMs)) {
        try {
            host.PumpMessages();
        } catch (const stop_exception&) {
            run.StopAll();
        }
    }
    run.Wait();
    const CStationTotals totals = run.Totals();
    env.out << StringPrintf(LoadText(IDS_STATION_TOTALS), totals.ok, totals.failed, totals.skipped,
                            totals.stopped)
            << '\n' << std::flush;
    if (run.StopRequested())
        return StoppedExitCode(env);
    return totals.failed == 0 && !report.LogFailed() ? kExitOk : kExitFailure;
}
