#include "protocol/mode_switch.h"

#include <string>

#include "base/host.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

// What the reconnection poll needs to reopen the port as it was before the switch.
struct ReconnectRecord {
    CScannerProtocol* protocol;
    int mode;
    std::string portName;
    unsigned baudRate;
    unsigned timeout;
    bool usbKnown = false;   // the USB device behind the port could be told
    CUsbIdentity usb;
};

CComDevice& PortOf(CScannerProtocol& protocol)
{
    auto* device = dynamic_cast<CComDevice*>(protocol.GetDevice());
    if (device == nullptr)
        throw test_exception(IDS_MODE_CHANGE_FAILED);
    return *device;
}

bool ReconnectPoll(void* user)
{
    auto& record = *static_cast<ReconnectRecord*>(user);
    CComDevice& device = PortOf(*record.protocol);
    try {
        OpenComPort(device, record.portName, record.baudRate, record.timeout);
        if (PollMode(*record.protocol, record.mode))
            return true;
    } catch (const CComDevice::CException&) {
        // The port is not back yet, or went again while the scanner restarts; the next
        // poll tries again.
    } catch (const test_exception& failure) {
        // A scanner still busy starting up is there: the next poll looks again, and the
        // last look after the limit tells the operator.
        if (failure.ResultCode() != STATUS_BUSY)
            throw;
    }
    device.Close();
    return false;
}

// The port the restarted scanner is back on: its old name, or, while the system still
// holds that name for a program that kept the vanished port open, whichever port its USB
// device now shows up as. Empty while it is not back.
std::string ReturnedPort(CPortSystem& ports, const ReconnectRecord& record)
{
    if (ports.SerialPortExists(record.portName))
        return record.portName;
    return record.usbKnown ? FindPortOfUsbDevice(ports, record.usb) : std::string();
}

// A USB CDC scanner restarting: wait (pumping, so the device-change events arrive) for
// its port to go and for the scanner's port to be listed again (another USB device
// plugged in meanwhile also ends the arrival watch), then reopen it as it was.
void FollowReEnumeration(CRunHost& host, CComDevice& device, const ReconnectRecord& record)
{
    for (unsigned round = 0; round < kUsbWaitRounds && !device.WasRemoved(); ++round)
        SleepPumping(host, kUsbWaitRoundMs);
    CPortSystem& ports = device.PortSystem();
    std::string returned;
    for (unsigned round = 0; round < kUsbWaitRounds; ++round) {
        host.PumpMessages();
        if (device.HasArrived() && !(returned = ReturnedPort(ports, record)).empty())
            break;
        SleepPumping(host, kUsbWaitRoundMs);
    }
    // A watch still armed after a wait that ran out would make the next switch's
    // registration fail; take down whatever is left.
    device.DropWatch(true);

    SleepPumping(host, kUsbReopenPauseMs);
    // Reopened with the speed and time-out it had: a port left at the defaults of a bare
    // open would have no read time-out at all.
    OpenComPort(device, returned.empty() ? record.portName : returned, record.baudRate,
                record.timeout);
}

// After a restart: the scanner must answer, and in the wanted mode.
void CheckModeReached(CScannerProtocol& protocol, int mode)
{
    if (!FindSpeed(protocol, nullptr, 0))
        CheckResult(RESULT_NO_LINK);
    unsigned char reg[4] = {0, 0, 0, 0};
    CheckResult(protocol.ReadModeRegister(reg));
    if (!IsInMode(reg, mode))
        throw test_exception(IDS_MODE_CHANGE_FAILED);
}

}  // namespace

void SetModeBits(unsigned char reg[4], int mode)
{
    const unsigned char bit = 0x02;
    for (int i = 0; i < 2; ++i)
        reg[i] = static_cast<unsigned char>(mode ? (reg[i] | bit) : (reg[i] & ~bit));
}

bool PollMode(CScannerProtocol& protocol, int mode)
{
    unsigned char reg[4] = {0, 0, 0, 0};
    if (!FindSpeed(protocol, nullptr, 0))
        return false;
    int result = protocol.ReadModeRegister(reg);
    if (result == RESULT_NO_LINK || result == STATUS_BUSY)
        return false;
    CheckResult(result);
    if (IsInMode(reg, mode))
        return true;
    // Back in the old mode: ask again, the next poll looks once more.
    SetModeBits(reg, mode);
    protocol.WriteModeRegister(reg);
    return false;
}

void SwitchMode(CScannerProtocol& protocol, int mode, bool force)
{
    unsigned char reg[4] = {0, 0, 0, 0};
    int result = protocol.ReadModeRegister(reg);
    if (result != RESULT_NO_LINK) {
        CheckResult(result);
        if (IsInMode(reg, mode) && !force)
            return;
    }

    CComDevice& device = PortOf(protocol);
    CRunHost& host = protocol.Host();
    const bool watched = device.WatchRemoval();
    ReconnectRecord record{&protocol, mode, device.GetPortName(), device.GetBaudRate(),
                           device.GetTimeout(), false, {}};
    if (watched)
        record.usbKnown = device.PortSystem().PortUsbIdentity(record.portName, record.usb);

    SetModeBits(reg, mode);
    try {
        protocol.WriteModeRegister(reg);   // the scanner may restart before it answers
    } catch (const CComDevice::CDisconnected&) {
        // It restarted at once and took its port with it: what is followed below.
    }

    if (watched) {
        // Asking again would restart it once more; what came back is the answer.
        FollowReEnumeration(host, device, record);
        CheckModeReached(protocol, mode);
        return;
    }

    device.Close();
    SleepPumping(host, kPortClosePauseMs);
    if (WaitPolling(host, ReconnectPoll, &record, kReconnectPollIntervalMs, kReconnectLimitMs))
        return;

    OpenComPort(device, record.portName, record.baudRate, record.timeout);
    if (!FindSpeed(protocol, nullptr, 0))
        CheckResult(RESULT_NO_LINK);
    throw test_exception(IDS_MODE_CHANGE_FAILED);
}
