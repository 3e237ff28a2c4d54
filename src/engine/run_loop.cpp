#include "engine/run_loop.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/strings.h"
#include "base/trace.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

// A scanner that stays silent while it is being put back costs little.
constexpr unsigned kRestoreTimeoutMs = 100;
constexpr uint32_t kRestoreSettleMs = 50;   // the scanner switches its line in this time

// The host while the run puts the scanner back: the run's own, pumped without the stop
// that ended the run, so only a new stop (a second Stop or Ctrl+C) cuts the restore
// short. It asks nothing.
class CRestoreHost : public CRunHost {
public:
    explicit CRestoreHost(CRunHost& run) : run(run) {}
    uint32_t TickCount() override { return run.TickCount(); }
    void Sleep(uint32_t ms) override { run.Sleep(ms); }
    void PumpMessages() override
    {
        DispatchEventSources();
        run.PumpMessagesAfterStop();
    }
    void RequestStop(int code) override { run.RequestStop(code); }
    bool ShowMessageBox(const std::string&, const std::string&, MessageBoxKind, BoxOwner) override
    {
        return false;
    }

private:
    CRunHost& run;
};

// The speed code of the port as it is now; the code stays as it was if the port cannot
// tell (it may have vanished with its scanner).
void RecordPortSpeed(CComDevice& device, int& baudCode)
{
    try {
        baudCode = CodeFromBaud(device.GetBaudRate());
    } catch (const CComDevice::CException&) {
    }
}

}  // namespace

std::string DeviceCaption(const std::string& port, const char* serial)
{
    if (serial != nullptr)
        return StringPrintf(LoadText(IDS_CAPTION_PORT_SERIAL), port.c_str(), serial);
    return StringPrintf(LoadText(IDS_CAPTION_PORT), port.c_str());
}

std::string MainTitle(const std::string& port, const char* serial, const std::string& version)
{
    return StringPrintf(LoadText(IDS_MAIN_TITLE), DeviceCaption(port, serial).c_str(),
                        LoadText(IDS_PROGRAM_NAME), version.c_str());
}

void CRunView::SetRowResult(int row, unsigned statusId)
{
    SetRowStatus(row, LoadText(statusId));
}

void CRunView::SetRowNote(int row, unsigned statusId, const std::string& note)
{
    SetRowStatus(row, AppendSentence(LoadText(statusId), note));
}

void CRunView::SetRowRemark(int row, unsigned statusId, const std::string& remark)
{
    SetRowStatus(row, AppendSentence(LoadText(statusId), remark));
}

CRunEngine::CRunEngine(CRunHost& host, CPortSystem& ports, CRunView& view,
                       CRunSettings& settings, std::string versionText)
    : host(host), ports(ports), view(view), settings(settings),
      versionText(std::move(versionText))
{
}

void CRunEngine::UpdateTitle(const char* serial)
{
    view.SetTitle(MainTitle(settings.portName, serial, versionText));
}

bool CRunEngine::IsSameScanner(const uint8_t id[16]) const
{
    return !scannerId || std::memcmp(id, scannerId->data(), scannerId->size()) == 0;
}

void CRunEngine::Start(const ldr::file* loaded)
{
    try {
        RunOperations(loaded);
        view.FlashIfInactive();
    } catch (const stop_exception&) {
        // Stopped before the first row: nothing to report.
        stopped = true;
        view.FlashIfInactive();
    } catch (...) {
        view.FlashIfInactive();
        ReportException(host, 0, view.OwnerWindow());
    }
}

void CRunEngine::OpenScannerPort(CComDevice& device, CScannerProtocol& protocol)
{
    // A USB scanner's port may still be coming back from its last restart, or be back
    // under another name while its old one is still held. Stop is taken between the looks.
    for (unsigned k = 0; k < kPortWaitTries; ++k) {
        if (ports.SerialPortExists(settings.portName))
            break;
        if (scannerUsb) {
            const std::string moved = FindPortOfUsbDevice(ports, *scannerUsb);
            if (!moved.empty()) {
                settings.portName = moved;
                break;
            }
        }
        SleepPumping(host, kPortWaitPauseMs);
    }
    OpenComPort(device, settings.portName, BaudFromCode(settings.baudCode), settings.timeout);
    CUsbIdentity usb;
    if (!scannerUsb && ports.PortUsbIdentity(settings.portName, usb))
        scannerUsb = usb;
    if (!FindSpeed(protocol, nullptr, 0))
        CheckResult(RESULT_NO_LINK);
    if (foundSpeedCode < 0)
        foundSpeedCode = CodeFromBaud(device.GetBaudRate());
}

void CRunEngine::IdentifyScanner(CScannerProtocol& protocol, int row)
{
    const bool checkSame = fixedSet && row != 0;
    if (!checkSame) {
        uint32_t number = 0;
        if (ReadSerialNumber(protocol, number, false))
            serialNumber = number;
        scannerId.reset();
    }
    // A lost reply leaves the identifier unknown rather than all zero, so one missed
    // read cannot make the same scanner look like another one.
    std::array<uint8_t, 16> id{};
    if (protocol.GetUniqueId(id.data(), TRANSPORT_SERIAL) != 0)
        return;
    if (checkSame && !IsSameScanner(id.data()))
        throw test_exception(IDS_OTHER_SCANNER);
    if (!scannerId)
        scannerId = id;
}

void CRunEngine::TraceEvent(const std::string& what)
{
    if (CTraceSink* trace = ports.Trace())
        trace->Event(settings.portName, what);
}

bool CRunEngine::ScannerIsCurrent(CScannerProtocol& protocol, const ldr::file& firmware, int row)
{
    uint16_t version = 0;
    // A retried row finds the scanner in its loader: the version before stays the
    // first, and only a first attempt, before any switch, may skip the scanner.
    if (!versionBefore && ReadBlackfinProgramVersion(protocol, version)) {
        versionBefore = version;
        TraceEvent("program version before: " + VersionText(version));
    }
    return skipCurrent && versionBefore && rowAttempts[row] == 1 &&
           *versionBefore == FirmwareModule(firmware, settings.firmwareFile).version;
}

void CRunEngine::RunRow(int row, CComDevice& device, CScannerProtocol& protocol,
                        const ldr::file& firmware, std::string& serial)
{
    ++rowAttempts[row];
    TraceEvent(StringPrintf("row %d start, attempt %u: %s", row + 1, rowAttempts[row],
                            LoadText(OperationNameId(view.RowOperation(row)))));
    view.SetRowStatus(row, LoadText(IDS_STATUS_RUNNING));
    host.PumpMessages();
    CRowStatusSink sink(view, row);
    OperationFunction operation = view.RowOperation(row);

    if (!device.IsOpen()) {
        OpenScannerPort(device, protocol);
        serial = SerialText(serialNumber);
    }
    IdentifyScanner(protocol, row);
    UpdateTitle(serial.c_str());

    if (operation == UpdateFirmware && ScannerIsCurrent(protocol, firmware, row)) {
        skipped = true;
        device.Close();
        return;
    }
    OperationContext context{&protocol, &firmware, &sink, &view, foundSpeedCode};
    context.loaderVersions = &loaderVersions;
    context.transferSpeedCode = settings.transferSpeedCode;
    context.transfer = &transfer;
    operation(&context);
    uint16_t version = 0;
    if (operation == SwitchToWorkingMode && ReadBlackfinProgramVersion(protocol, version)) {
        versionAfter = version;
        TraceEvent("program version after: " + VersionText(version));
    }
    UpdateTitle(serial.c_str());
    device.Close();
}

bool CRunEngine::AskToRetry(const object_description& failure, CComDevice& device, int row)
{
    const auto* scannerFailure = dynamic_cast<const test_exception*>(&failure);
    lastFailureResult = scannerFailure ? scannerFailure->ResultCode() : 0;
    if (device.IsOpen()) {
        RecordPortSpeed(device, settings.baudCode);
        device.Close();
    }
    try {
        // A Stop that came with the failure (or while it was being asked about) ends the
        // run as stopped: the operator is not asked about what they already ended.
        host.PumpMessages();
        view.SetRowResult(row, IDS_STATUS_ERROR);
        TraceEvent(StringPrintf("row %d result: %s: %s", row + 1, LoadText(IDS_STATUS_ERROR),
                                failure.Text().c_str()));
        view.FlashIfInactive();
        const std::string question = failure.Text() + "\r\n\r\n" + LoadText(IDS_CONTINUE_QUESTION);
        const bool retry = host.ShowMessageBox(question, LoadText(IDS_ERROR_CAPTION),
                                               MessageBoxKind::Question, view.OwnerWindow());
        if (retry)
            TraceEvent(StringPrintf("row %d retry", row + 1));
        return retry;
    } catch (const stop_exception&) {
        EndStopped(row);
        return false;
    }
}

void CRunEngine::EndStopped(int row)
{
    stopped = true;
    TraceEvent(StringPrintf("stop, row %d: %s", row + 1, LoadText(IDS_STATUS_INTERRUPTED)));
    view.SetRowResult(row, IDS_STATUS_INTERRUPTED);
    view.FlashIfInactive();
}

void CRunEngine::RunOperations(const ldr::file* loaded)
{
    lastFailureResult = 0;
    stopped = false;
    std::string serial = "?";
    UpdateTitle(serial.c_str());
    const int rows = view.RowCount();
    loaderVersions = CLoaderVersions();
    for (int i = 0; i < rows; ++i)
        view.SetRowStatus(i, "");
    host.PumpMessages();

    ldr::file ownFirmware;
    if (loaded == nullptr) {
        ldr::load(settings.firmwareFile, ownFirmware);
        loaded = &ownFirmware;
    }
    const ldr::file& firmware = *loaded;
    // A file the update cannot use is refused before the scanner is switched to its loader.
    for (int i = 0; i < rows; ++i) {
        if (view.IsRowChecked(i) && view.RowOperation(i) == UpdateFirmware)
            FirmwareModule(firmware, settings.firmwareFile);
    }
    scannerId.reset();
    scannerUsb.reset();
    foundSpeedCode = -1;
    leftNote.clear();
    skipped = false;
    versionBefore.reset();
    versionAfter.reset();
    rowAttempts.assign(size_t(rows), 0);
    transfer = CTransferReport();

    CComDevice device(ports, host);
    // A scanner pulled mid-run is told at once rather than after its time-outs, and
    // Windows' "safely remove" is granted.
    device.WatchWhileOpen(true);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);

    int i = 0;
    unsigned endStatus = IDS_STATUS_OK;
    while (i < rows) {
        try {
            view.EnsureRowVisible(i);
            unsigned status = IDS_STATUS_SKIPPED;
            if (view.IsRowChecked(i)) {
                RunRow(i, device, protocol, firmware, serial);
                status = skipped ? IDS_STATUS_SKIPPED : IDS_STATUS_OK;
                TraceEvent(StringPrintf("row %d result: %s", i + 1, LoadText(status)));
            }
            view.SetRowResult(i, status);
            if (status == IDS_STATUS_OK && view.RowOperation(i) == UpdateFirmware &&
                !transfer.remark.empty())
                view.SetRowRemark(i, status, transfer.remark);
            host.PumpMessages();
            ++i;
            // A skipped scanner is left as it is: no row after it runs.
            for (; skipped && i < rows; ++i)
                view.SetRowResult(i, IDS_STATUS_SKIPPED);
        } catch (const stop_exception&) {
            EndStopped(i);
            break;
        } catch (const object_description& failure) {
            endStatus = IDS_STATUS_ERROR;
            if (!AskToRetry(failure, device, i))
                break;
        } catch (...) {
            view.SetRowResult(i, endStatus = IDS_STATUS_INTERRUPTED);
            view.FlashIfInactive();
            ReportException(host, 0, view.OwnerWindow());
            break;
        }
    }
    if (stopped)
        endStatus = IDS_STATUS_INTERRUPTED;
    if (device.IsOpen()) {
        RecordPortSpeed(device, settings.baudCode);
        device.Close();
    }
    // Every row "OK": the operations themselves left the scanner at its speed.
    if (i < rows && foundSpeedCode >= 0) {
        LeaveScannerAsFound();
        if (!leftNote.empty())
            view.SetRowNote(i, endStatus, leftNote);
    }
}

void CRunEngine::LeaveScannerAsFound()
{
    // Where the run last had the port: the transfer's speed after a failure or a stop in
    // it, the found one otherwise. The scanner is looked for there, at the found one and
    // at the transfer's, the chosen one and 115200 (a stop can come between the scanner's
    // change and the port's).
    const int left = settings.baudCode;
    CRestoreHost restoreHost(host);
    CComDevice device(ports, restoreHost);
    CScannerProtocol protocol(restoreHost);
    protocol.SetDevice(&device);
    int at = -1;   // the speed code the scanner answers at
    bool inLoader = false;
    try {
        OpenComPort(device, settings.portName, BaudFromCode(left), kRestoreTimeoutMs);
        const int candidates[] = {left, foundSpeedCode, settings.transferSpeedCode,
                                  kTransferSpeedCode};
        for (const int* code = std::begin(candidates); code != std::end(candidates) && at < 0; ++code) {
            if (std::find(std::begin(candidates), code, *code) != code ||
                !device.CanMakeSpeed(BaudFromCode(*code)))
                continue;   // probed already, or not a speed the scanner can be at
            device.SetBaudRate(BaudFromCode(*code));
            if (Probe(protocol))
                at = *code;
        }
        // Bounded on purpose: one write and one look at each speed, no speed search.
        if (at >= 0 && at != foundSpeedCode &&
            protocol.WriteSpeedCode(static_cast<unsigned char>(foundSpeedCode)) != STATUS_NOT_SUPPORTED) {
            WaitPolling(restoreHost, nullptr, nullptr, kRestoreSettleMs, kRestoreSettleMs);
            device.SetBaudRate(BaudFromCode(foundSpeedCode));
            if (Probe(protocol) && GetSpeed(protocol, true) == foundSpeedCode) {
                at = foundSpeedCode;
            } else {
                device.SetBaudRate(BaudFromCode(at));
                if (!Probe(protocol))
                    at = -1;
            }
        }
        unsigned char reg[4] = {0, 0, 0, 0};
        inLoader = at >= 0 && protocol.ReadModeRegister(reg) == RESULT_OK && IsInMode(reg, MODE_LOADER);
    } catch (const object_description&) {
        // The port or the scanner is gone: it stays where the run left it.
    } catch (const stop_exception&) {
        // A second stop: the operator will not wait for the scanner.
    }
    if (at >= 0)
        settings.baudCode = at;
    const int now = at >= 0 ? at : left;
    // A scanner lost after the switch to a faster transfer is at no speed the run knows:
    // the failure has told the operator to switch it off and on.
    if (at < 0 && transfer.stranded)
        return;
    if (inLoader)
        leftNote = StringPrintf(LoadText(IDS_SCANNER_LEFT_IN_LOADER), BaudFromCode(now));
    else if (now != foundSpeedCode)
        leftNote = StringPrintf(LoadText(IDS_SCANNER_LEFT_AT_SPEED), BaudFromCode(now));
}
