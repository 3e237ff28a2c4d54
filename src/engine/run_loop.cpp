#include "engine/run_loop.h"

#include <cstring>

#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"
#include "protocol/scanner_protocol.h"
#include "resources/strings.h"
#include "transport/com_device.h"

namespace {

constexpr unsigned kTitleId = 5;
constexpr unsigned kProductNameId = 4;
constexpr unsigned kCaptionPortId = 6;
constexpr unsigned kCaptionSerialId = 7;
constexpr unsigned kErrorCaptionId = 90;
constexpr unsigned kContinueId = 270;
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
        return StringPrintf(LoadText(kCaptionSerialId), port.c_str(), serial);
    return StringPrintf(LoadText(kCaptionPortId), port.c_str());
}

std::string MainTitle(const std::string& port, const char* serial, const std::string& version)
{
    return StringPrintf(LoadText(kTitleId), DeviceCaption(port, serial).c_str(),
                        LoadText(kProductNameId), version.c_str());
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
    return std::memcmp(id, scannerId.data(), scannerId.size()) == 0;
}

void CRunEngine::Start()
{
    try {
        RunOperations();
        view.FlashIfInactive();
    } catch (...) {
        view.FlashIfInactive();
        ReportException(host, 0);
    }
}

void CRunEngine::RunOperations()
{
    std::string serial = "?";
    UpdateTitle(serial.c_str());
    const int rows = view.RowCount();
    for (int i = 0; i < rows; ++i)
        view.SetRowStatus(i, "");
    host.PumpMessages();

    ldr::file firmware;
    ldr::load(settings.firmwareFile, firmware);
    scannerId.fill(0);

    CComDevice device(ports);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);

    for (int i = 0; i < rows;) {
        try {
            view.EnsureRowVisible(i);
            unsigned status = kStatusSkipped;
            if (view.IsRowChecked(i)) {
                view.SetRowStatus(i, LoadText(kStatusRunning));
                host.PumpMessages();
                CRowStatusSink sink(view, i);
                OperationFunction operation = view.RowOperation(i);

                if (!device.IsOpen()) {
                    for (unsigned k = 0; k < kPortWaitTries; ++k) {
                        if (ports.SerialPortExists(settings.portName))
                            break;
                        host.Sleep(kPortWaitPauseMs);
                    }
                    OpenComPort(device, settings.portName, BaudFromCode(settings.baudCode),
                                settings.timeout);
                    if (!FindSpeed(protocol, nullptr, 0))
                        CheckResult(RESULT_NO_LINK);
                    serial = SerialText(serialNumber);
                }

                if (fixedSet && i != 0) {
                    uint8_t id[16] = {};
                    protocol.GetUniqueId(id, TRANSPORT_SERIAL);
                    if (!IsSameScanner(id))
                        throw test_exception(std::string(kOtherScannerText));
                } else {
                    uint32_t number = 0;
                    if (ReadSerialNumber(protocol, number, false))
                        serialNumber = number;
                    protocol.GetUniqueId(scannerId.data(), TRANSPORT_SERIAL);
                }
                UpdateTitle(serial.c_str());

                OperationContext context{&protocol, &firmware, &sink, &view};
                operation(&context);
                UpdateTitle(serial.c_str());
                status = kStatusOk;
                device.Close();
            }
            view.SetRowStatus(i, LoadText(status));
            host.PumpMessages();
            ++i;
        } catch (const object_description& failure) {
            view.SetRowStatus(i, LoadText(kStatusError));
            if (device.IsOpen()) {
                RecordPortSpeed(device, settings.baudCode);
                device.Close();
            }
            view.FlashIfInactive();
            const std::string question = failure.Text() + "\r\n\r\n" + LoadText(kContinueId);
            if (!host.ShowMessageBox(question, LoadText(kErrorCaptionId), MessageBoxKind::Question))
                break;
        } catch (...) {
            view.SetRowStatus(i, LoadText(kStatusInterrupted));
            view.FlashIfInactive();
            ReportException(host, 0);
            break;
        }
    }
    if (device.IsOpen())
        RecordPortSpeed(device, settings.baudCode);
}
