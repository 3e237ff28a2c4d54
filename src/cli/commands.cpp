#include "cli/commands.h"

#include "base/record_file.h"
#include "base/strings.h"
#include "base/version.h"
#include "base/trace.h"
#include "cli/json_output.h"
#include "cli/multi_update.h"
#include "cli/settings.h"
#include "cli/station_command.h"
#include "cli/views.h"
#include "connection/connection_actions.h"
#include "connection/device_search.h"
#include "engine/multi_port.h"
#include "engine/result_log.h"
#include "engine/run_loop.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/port_system.h"

namespace {

const char kProgramName[] = "trelvo-cli";

struct CCommandRun {
    const CCliOptions& options;
    const CCliEnvironment& env;
    CCliHost& host;
    // The port of a command for one scanner, as the user gave it: its messages name it.
    std::string port;

    void NamePort(const std::string& name)
    {
        port = name;
        host.NamePort(name);
    }
    std::string PortPrefix() const { return port.empty() ? std::string() : port + ": "; }
};

// A USB port's line adds vendor, product, serial string (- when none) and bus place.
int Ports(CCommandRun& run)
{
    if (run.options.json) {
        run.env.out << PortsJson(run.env.ports);
        return kExitOk;
    }
    for (const std::string& port : run.env.ports.EnumerateSerialPorts()) {
        run.env.out << port;
        CUsbIdentity usb;
        if (run.env.ports.PortUsbIdentity(port, usb)) {
            run.env.out << '\t' << usb.vendorId << '\t' << usb.productId << '\t'
                        << (usb.serial.empty() ? "-" : usb.serial) << '\t'
                        << (usb.location.empty() ? "-" : usb.location);
        }
        run.env.out << '\n';
    }
    return kExitOk;
}

int Check(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    run.NamePort(settings.connect.portName);
    const std::optional<unsigned char> model = CheckLink(run.env.ports, run.host, settings.connect);
    if (run.options.json)
        run.env.out << CheckJson(settings.connect.portName, model);
    else
        run.env.out << LinkText(model) << '\n';
    return model ? kExitOk : kExitNotFound;
}

int Search(CCommandRun& run)
{
    std::vector<std::string> ports = run.options.ports;
    if (ports.empty())
        ports = run.env.ports.EnumerateSerialPorts();
    if (ports.empty()) {
        run.env.err << LoadText(IDS_CLI_NO_PORTS) << '\n';
        return kExitNotFound;
    }
    CCliSearchView view(run.env.out, std::move(ports), !run.options.json);
    const unsigned errorsBefore = run.host.ErrorCount();
    SearchDevices(run.env.ports, run.host, view);
    view.Finish();
    // A stopped search shows what it had found by then, as the lines would have.
    if (run.options.json)
        run.env.out << SearchJson(view.Rows());
    if (run.host.Stopped())
        return StoppedExitCode(run.env);
    if (run.host.ErrorCount() != errorsBefore)
        return kExitFailure;
    return view.AnyFound() ? kExitOk : kExitNotFound;
}

int SetSpeedCommand(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    run.NamePort(settings.connect.portName);
    const int newCode = run.options.newSpeedCode;
    ChangeSpeed(run.env.ports, run.host, settings.connect, settings.connect.speedCode, newCode);
    run.env.out << BaudFromCode(newCode) << '\n';
    // The file keeps the speed its port's scanner now runs at, so that the next command
    // (and the Windows program's link check) finds it there. A port named on the command
    // line is another scanner: the file is left alone.
    std::string error;
    if (settings.portFromFile && !StoreCliSpeedCode(settings.path, newCode, error)) {
        // The scanner has moved and the file would lead the next command astray: the
        // operator must know both speeds.
        run.env.err << StringPrintf(LoadText(IDS_CLI_SPEED_NOT_SAVED), BaudFromCode(newCode),
                                    settings.path.c_str(), error.c_str(),
                                    BaudFromCode(settings.fileSpeedCode))
                    << '\n';
        return kExitFailure;
    }
    return kExitOk;
}

int Info(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    run.NamePort(settings.connect.portName);
    CDeviceInfo info;
    ReadDeviceInfoAt(run.env.ports, run.host, settings.connect, info);
    if (run.options.json)
        run.env.out << InfoJson(settings.connect.portName, info);
    else
        run.env.out << PlainLineEnds(DeviceInfoText(info));
    return kExitOk;
}

// The trace says which firmware its frames carry.
void TraceFirmware(CCommandRun& run, const std::string& path)
{
    CTraceSink* trace = run.env.ports.Trace();
    CFirmwareIdentity identity;
    if (trace != nullptr && IdentifyFirmwareFile(path, identity))
        trace->Comment("firmware " + path + ", " + std::to_string(identity.size) +
                       " bytes, sha256 " + identity.sha256);
}

int Update(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    // Everything the run needs is checked before any port is opened.
    CUpdateFiles files;
    PrepareUpdate(run.options, settings, files);
    TraceFirmware(run, settings.firmwareFile);
    if (run.options.allPorts || run.options.updatePorts.size() > 1 || run.options.jobs)
        return MultiPortUpdate(run.options, settings, files, run.env, run.host);

    run.NamePort(settings.connect.portName);
    // The run leaves the port's final speed in these settings; the tool does not keep it.
    CRunSettings runSettings{settings.connect.portName, settings.connect.speedCode,
                             settings.connect.timeout, settings.firmwareFile,
                             settings.transferSpeedCode};
    CCliRunView view(run.env.out, run.env.outIsTerminal);
    const unsigned errorsBefore = run.host.ErrorCount();
    CRunEngine engine(run.host, run.env.ports, view, runSettings, TRELVO_VERSION_TEXT);
    engine.skipCurrent = settings.skipCurrent;

    // The log names the scanner by its model.
    CPortRunResult result;
    result.port = settings.connect.portName;
    if (run.options.logFile)
        result.model = ProbeScannerModel(run.host, run.env.ports, runSettings);
    view.MeasureTransfer(run.host, FirmwareModule(files.firmware, settings.firmwareFile).block_size);
    result.startTime = UtcTimeText();
    const uint32_t start = run.host.TickCount();
    engine.RunOperations(&files.firmware);
    if (run.options.logFile) {
        result.endTime = UtcTimeText();
        result.rowStatus = view.FinalStatuses();
        result.note = engine.leftNote;
        result.stopped = run.host.Stopped();
        // A stopped run ended by the stop, not by a failure it met and retried before it.
        if (!result.stopped)
            result.failure = run.host.LastMessage();
        result.durationMs = run.host.TickCount() - start;
        result.bytesPerSecond = view.BytesPerSecond();
        TakeScannerFacts(engine, runSettings, result);
        if (!WriteResultLog(*run.options.logFile, files, {result}, run.env.err))
            return run.host.Stopped() ? StoppedExitCode(run.env) : kExitFailure;
    }
    if (run.host.Stopped())
        return StoppedExitCode(run.env);
    if (view.AllRowsOk() || engine.skipped)
        return kExitOk;
    if (run.host.ErrorCount() != errorsBefore)
        return kExitFailure;
    return engine.lastFailureResult == RESULT_NO_LINK ? kExitNotFound : kExitFailure;
}

int Station(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    CUpdateFiles files;
    PrepareUpdate(run.options, settings, files);
    TraceFirmware(run, settings.firmwareFile);
    return StationCommand(run.options, settings, files, run.env, run.host);
}

int Modules(CCommandRun& run)
{
    ldr::file file;
    ldr::load_headers(run.options.modulesFile, file);
    if (run.options.json) {
        run.env.out << ModulesJson(run.options.modulesFile, file);
        return kExitOk;
    }
    for (const ldr::module& m : file.modules) {
        run.env.out << LoadText(ModuleKindTextId(m.kind)) << '\t' << ModuleVersionText(m.version)
                    << '\t' << ModuleSizeText(m) << '\n';
    }
    return kExitOk;
}

int Dispatch(CCommandRun& run)
{
    switch (run.options.command) {
    case CliCommand::Ports:
        return Ports(run);
    case CliCommand::Check:
        return Check(run);
    case CliCommand::Search:
        return Search(run);
    case CliCommand::SetSpeed:
        return SetSpeedCommand(run);
    case CliCommand::Info:
        return Info(run);
    case CliCommand::Update:
        return Update(run);
    case CliCommand::Modules:
        return Modules(run);
    case CliCommand::Station:
        return Station(run);
    case CliCommand::None:
        break;
    }
    throw CUsageError(LoadText(IDS_CLI_NO_COMMAND));
}

int UsageFailure(const CCliEnvironment& env, const std::string& message)
{
    env.err << kProgramName << ": " << message << '\n' << CliUsageHint() << '\n';
    return kExitUsage;
}

}  // namespace

std::string TraceProgramText(const std::vector<std::string>& args)
{
    std::string text = std::string(kProgramName) + " " + TRELVO_VERSION_TEXT + ", command line:";
    for (const std::string& arg : args)
        text += arg.find_first_of(" \t\"") == std::string::npos ? " " + arg : " " + JsonString(arg);
    return text;
}

int StoppedExitCode(const CCliEnvironment& env)
{
    const int code = env.interruptExitCode ? env.interruptExitCode() : 0;
    return code != 0 ? code : int(kExitStopped);
}

int RunCli(const std::vector<std::string>& args, const CCliEnvironment& env)
{
    CCliOptions options;
    try {
        options = ParseCliOptions(args);
    } catch (const CUsageError& e) {
        return UsageFailure(env, e.what());
    }
    if (options.help) {
        env.out << CliHelpText();
        return kExitOk;
    }
    if (options.version) {
        env.out << StringPrintf(LoadText(IDS_CLI_VERSION), TRELVO_VERSION_TEXT) << '\n';
        return kExitOk;
    }

    // With a trace, every command sees the ports through a system that carries it.
    std::unique_ptr<CTraceSink> trace;
    std::unique_ptr<CTracedPortSystem> tracedPorts;
    if (options.traceFile) {
        std::string error;
        trace = OpenTraceFile(*options.traceFile, error, TraceProgramText(args));
        if (!trace)
            return UsageFailure(env, StringPrintf(LoadText(IDS_TRACE_FAILED),
                                                  options.traceFile->c_str()) + ": " + error);
        tracedPorts = std::make_unique<CTracedPortSystem>(env.ports, *trace);
    }
    const CCliEnvironment runEnv{tracedPorts ? *tracedPorts : env.ports, env.platformHost,
                                 env.out, env.err, env.outIsTerminal, env.terminal,
                                 env.defaultSettingsPath, env.interruptExitCode};

    CCliHost host(env.platformHost, env.err, options.retries, env.terminal);
    CCommandRun run{options, runEnv, host, std::string()};
    int code = kExitFailure;
    try {
        code = Dispatch(run);
        // A Ctrl+C during work that never pumps (a link check) is taken here.
        host.PumpMessages();
    } catch (const CUsageError& e) {
        code = UsageFailure(env, e.what());
    } catch (const stop_exception&) {
        code = StoppedExitCode(env);
    } catch (const ldr_exception& e) {
        // A file's message names its file.
        env.err << e.Text() << '\n';
        code = kExitFailure;
    } catch (const test_exception& e) {
        env.err << run.PortPrefix() << e.Text() << '\n';
        code = e.ResultCode() == RESULT_NO_LINK ? kExitNotFound : kExitFailure;
    } catch (...) {
        env.err << run.PortPrefix() << CurrentExceptionMessage() << '\n';
        code = kExitFailure;
    }
    for (const std::string& file : runEnv.ports.SlowAdapterFiles())
        env.err << StringPrintf(LoadText(IDS_CLI_SLOW_ADAPTER_HINT), file.c_str()) << '\n';
    env.out << std::flush;
    env.err << std::flush;
    return code;
}
