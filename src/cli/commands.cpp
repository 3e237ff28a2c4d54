#include "cli/commands.h"

#include "base/strings.h"
#include "base/trace.h"
#include "cli/multi_update.h"
#include "cli/settings.h"
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

// One line for an adapter that keeps short replies back for its latency timer.
std::string SlowAdapterHint(const std::string& file)
{
    return "Подсказка: адаптер USB-COM задерживает ответы сканера (таймер задержки больше "
           "1 мс); ускорить обмен: echo 1 > " + file + " (нужны права root)";
}
const char kNoPortsText[] = "Последовательные порты не найдены";
const char kSettingsNotSavedText[] = "Скорость сканера изменена, но файл настроек не записан: ";

struct CCommandRun {
    const CCliOptions& options;
    const CCliEnvironment& env;
    CCliHost& host;
};

// A USB port's line adds vendor, product, serial string (- when none) and bus place.
int Ports(CCommandRun& run)
{
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
    const std::optional<unsigned char> model = CheckLink(run.env.ports, run.host, settings.connect);
    run.env.out << LinkText(model) << '\n';
    return model ? kExitOk : kExitNotFound;
}

int Search(CCommandRun& run)
{
    std::vector<std::string> ports = run.options.ports;
    if (ports.empty())
        ports = run.env.ports.EnumerateSerialPorts();
    if (ports.empty()) {
        run.env.err << kNoPortsText << '\n';
        return kExitNotFound;
    }
    CCliSearchView view(run.env.out, std::move(ports));
    const unsigned errorsBefore = run.host.ErrorCount();
    SearchDevices(run.env.ports, run.host, view);
    view.Finish();
    if (run.host.Stopped())
        return kExitStopped;
    if (run.host.ErrorCount() != errorsBefore)
        return kExitFailure;
    return view.AnyFound() ? kExitOk : kExitNotFound;
}

int SetSpeedCommand(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    const int newCode = run.options.newSpeedCode;
    ChangeSpeed(run.env.ports, run.host, settings.connect, settings.connect.speedCode, newCode);
    run.env.out << BaudFromCode(newCode) << '\n';
    // The file keeps the speed its port's scanner now runs at, so that the next command
    // (and the Windows program's link check) finds it there. A port named on the command
    // line is another scanner: the file is left alone.
    if (settings.portFromFile && !StoreCliSpeedCode(settings.path, newCode))
        run.env.err << kSettingsNotSavedText << settings.path << '\n';
    return kExitOk;
}

int Info(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    CDeviceInfo info;
    ReadDeviceInfoAt(run.env.ports, run.host, settings.connect, info);
    run.env.out << PlainLineEnds(DeviceInfoText(info));
    return kExitOk;
}

int Update(CCommandRun& run)
{
    const CCliSettings settings = ResolveCliSettings(run.options, run.env.defaultSettingsPath);
    if (run.options.allPorts || run.options.updatePorts.size() > 1 || run.options.jobs)
        return MultiPortUpdate(run.options, settings, run.env, run.host);
    // The run leaves the port's final speed in these settings; the tool does not keep it.
    CRunSettings runSettings{settings.connect.portName, settings.connect.speedCode,
                             settings.connect.timeout, settings.firmwareFile};
    CCliRunView view(run.env.out, run.env.outIsTerminal);
    const unsigned errorsBefore = run.host.ErrorCount();
    CRunEngine engine(run.host, run.env.ports, view, runSettings, TRELVO_VERSION_TEXT);

    // The log names the file as it was read for the run, and the scanner by its model.
    ldr::file firmware;
    ldr::load(settings.firmwareFile, firmware);
    CFirmwareIdentity identity;
    CPortRunResult result;
    result.port = settings.connect.portName;
    if (run.options.logFile) {
        if (!IdentifyFirmwareFile(settings.firmwareFile, identity))
            throw ldr_exception(IDS_LDR_IO_ERROR);
        result.model = ProbeScannerModel(run.host, run.env.ports, runSettings);
    }
    const ldr::module* module = ldr::find_module(firmware, kFirmwareModuleKind);
    view.MeasureTransfer(run.host, module ? module->block_size : 0);
    const uint32_t start = run.host.TickCount();
    engine.RunOperations(&firmware);
    if (run.options.logFile) {
        result.serialNumber = engine.serialNumber;
        result.rowStatus = view.FinalStatuses();
        result.failure = run.host.LastMessage();
        result.stopped = run.host.Stopped();
        result.durationMs = run.host.TickCount() - start;
        result.bytesPerSecond = view.BytesPerSecond();
        if (!WriteResultLog(*run.options.logFile, identity, {result}, run.env.err))
            return run.host.Stopped() ? kExitStopped : kExitFailure;
    }
    if (run.host.Stopped())
        return kExitStopped;
    if (view.AllRowsOk())
        return kExitOk;
    if (run.host.ErrorCount() != errorsBefore)
        return kExitFailure;
    return engine.lastFailureResult == RESULT_NO_LINK ? kExitNotFound : kExitFailure;
}

int Modules(CCommandRun& run)
{
    ldr::file file;
    ldr::load_headers(run.options.modulesFile, file);
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
    case CliCommand::None:
        break;
    }
    throw CUsageError("не задана команда");
}

int UsageFailure(const CCliEnvironment& env, const std::string& message)
{
    env.err << kProgramName << ": " << message << '\n' << CliUsageHint() << '\n';
    return kExitUsage;
}

}  // namespace

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

    // With a trace, every command sees the ports through a system that carries it.
    std::unique_ptr<CTraceSink> trace;
    std::unique_ptr<CTracedPortSystem> tracedPorts;
    if (options.traceFile) {
        std::string error;
        trace = OpenTraceFile(*options.traceFile, error);
        if (!trace) {
            env.err << kProgramName << ": "
                    << StringPrintf(LoadText(IDS_TRACE_FAILED), options.traceFile->c_str())
                    << ": " << error << '\n';
            return kExitFailure;
        }
        tracedPorts = std::make_unique<CTracedPortSystem>(env.ports, *trace);
    }
    const CCliEnvironment runEnv{tracedPorts ? *tracedPorts : env.ports, env.platformHost,
                                 env.out, env.err, env.outIsTerminal, env.terminal,
                                 env.defaultSettingsPath};

    CCliHost host(env.platformHost, env.err, options.retries, env.terminal);
    CCommandRun run{options, runEnv, host};
    int code = kExitFailure;
    try {
        code = Dispatch(run);
        // A Ctrl+C during work that never pumps (a link check) is taken here.
        host.PumpMessages();
    } catch (const CUsageError& e) {
        code = UsageFailure(env, e.what());
    } catch (const stop_exception&) {
        code = kExitStopped;
    } catch (const test_exception& e) {
        env.err << e.Text() << '\n';
        code = e.ResultCode() == RESULT_NO_LINK ? kExitNotFound : kExitFailure;
    } catch (...) {
        env.err << CurrentExceptionMessage() << '\n';
        code = kExitFailure;
    }
    for (const std::string& file : runEnv.ports.SlowAdapterFiles())
        env.err << SlowAdapterHint(file) << '\n';
    env.out << std::flush;
    env.err << std::flush;
    return code;
}
