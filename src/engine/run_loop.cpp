#include "engine/run_loop.h"

#include <cstring>

#include "base/strings.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

const char* const kOtherScannerText = "Тест должен проводится для одного и того же сканера.";

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
        host.PumpMessages();
        host.Sleep(kPortWaitPauseMs);
    }
    OpenComPort(device, settings.portName, BaudFromCode(settings.baudCode), settings.timeout);
    CUsbIdentity usb;
    if (!scannerUsb && ports.PortUsbIdentity(settings.portName, usb))
        scannerUsb = usb;
    if (!FindSpeed(protocol, nullptr, 0))
        CheckResult(RESULT_NO_LINK);
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
        throw test_exception(std::string(kOtherScannerText));
    if (!scannerId)
        scannerId = id;
}

void CRunEngine::RunRow(int row, CComDevice& device, CScannerProtocol& protocol,
                        const ldr::file& firmware, std::string& serial)
{
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

    OperationContext context{&protocol, &firmware, &sink, &view};
    operation(&context);
    UpdateTitle(serial.c_str());
    device.Close();
}

bool CRunEngine::AskToRetry(const object_description& failure, CComDevice& device)
{
    const auto* scannerFailure = dynamic_cast<const test_exception*>(&failure);
    lastFailureResult = scannerFailure ? scannerFailure->ResultCode() : 0;
    if (device.IsOpen()) {
        RecordPortSpeed(device, settings.baudCode);
        device.Close();
    }
    view.FlashIfInactive();
    const std::string question = failure.Text() + "\r\n\r\n" + LoadText(IDS_CONTINUE_QUESTION);
    return host.ShowMessageBox(question, LoadText(IDS_ERROR_CAPTION), MessageBoxKind::Question,
                               view.OwnerWindow());
}

void CRunEngine::RunOperations(const ldr::file* loaded)
{
    lastFailureResult = 0;
    std::string serial = "?";
    UpdateTitle(serial.c_str());
    const int rows = view.RowCount();
    for (int i = 0; i < rows; ++i)
        view.SetRowStatus(i, "");
    host.PumpMessages();

    ldr::file ownFirmware;
    if (loaded == nullptr) {
        ldr::load(settings.firmwareFile, ownFirmware);
        loaded = &ownFirmware;
    }
    const ldr::file& firmware = *loaded;
    scannerId.reset();
    scannerUsb.reset();

    CComDevice device(ports, host);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);

    for (int i = 0; i < rows;) {
        try {
            view.EnsureRowVisible(i);
            unsigned status = IDS_STATUS_SKIPPED;
            if (view.IsRowChecked(i)) {
                RunRow(i, device, protocol, firmware, serial);
                status = IDS_STATUS_OK;
            }
            view.SetRowResult(i, status);
            host.PumpMessages();
            ++i;
        } catch (const object_description& failure) {
            view.SetRowResult(i, IDS_STATUS_ERROR);
            if (!AskToRetry(failure, device))
                break;
        } catch (...) {
            view.SetRowResult(i, IDS_STATUS_INTERRUPTED);
            view.FlashIfInactive();
            ReportException(host, 0, view.OwnerWindow());
            break;
        }
    }
    if (device.IsOpen())
        RecordPortSpeed(device, settings.baudCode);
}
