#include "transport/com_device.h"

#include "base/strings.h"
#include "base/trace.h"
#include "transport/device_notify.h"

namespace {

constexpr uint32_t kQueueSize = 1024;
constexpr unsigned kPurgeInputFlags = kPurgeRxAbort | kPurgeRxClear;
constexpr unsigned kPurgeOutputFlags = kPurgeTxAbort | kPurgeTxClear;

// The one place where a system error code becomes the operator's message.
std::string OpenErrorText(uint32_t errorCode, bool wasOpen)
{
    switch (errorCode) {
    case kErrorFileNotFound:
        return LoadText(IDS_PORT_UNAVAILABLE);
    case kErrorAccessDenied:
        return LoadText(wasOpen ? IDS_PORT_BLOCKED : IDS_PORT_BUSY);
    case kErrorInvalidName:
        return LoadText(IDS_PORT_NOT_SET);
    case kErrorNameTooLong:
        return LoadText(IDS_PORT_NAME_TOO_LONG);
    case kErrorNotSerialPort:
        return LoadText(IDS_PORT_NOT_SERIAL);
    case kErrorPortFailure:
        return LoadText(IDS_PORT_FAILED);
    default:
        return StringPrintf(LoadText(IDS_PORT_OPEN_FAILED), static_cast<unsigned long>(errorCode));
    }
}

// A configuration call on a closed device fails the way the system fails a call on an
// invalid handle.
CPortHandle& ConfiguredPort(const CComDevice& device)
{
    if (!device.Handle())
        throw CComDevice::CException(kErrorInvalidHandle, false);
    return *device.Handle();
}

void CheckConfigCall(const CComDevice& device, uint32_t error)
{
    if (error != kErrorSuccess)
        throw CComDevice::CException(error, device.IsOpen());
}

}  // namespace

CComDevice::CException::CException(uint32_t code, bool wasOpen)
    : object_description(OpenErrorText(code, wasOpen)), errorCode(code)
{
}

CComDevice::CComDevice(CPortSystem& portSystem) : system(&portSystem), trace(portSystem.Trace()) {}

void CComDevice::TraceEvent(const std::string& name, const std::string& what) const
{
    trace->Event(name, what);
}

CComDevice::~CComDevice()
{
    DropWatch(true);
    Close();
}

bool CComDevice::IsOpen() const
{
    return handle != nullptr;
}

void CComDevice::Open(const std::string& name)
{
    Close();

    std::unique_ptr<CPortHandle> opened;
    uint32_t error = system->OpenPort(name, opened);
    if (error == kErrorSuccess && !opened)
        error = kErrorInvalidHandle;
    if (error != kErrorSuccess) {
        if (trace)
            TraceEvent(name, "open failed, error " + std::to_string(error));
        throw CException(error, IsOpen());
    }

    // The line is set up from a fresh state rather than the port's current one, so
    // whatever another program left behind (handshaking, parity) cannot leak in: all
    // off, but with distinct XON/XOFF characters, which drivers insist on.
    const CPortState state{};
    error = opened->SetState(state);
    if (error == kErrorSuccess)
        error = opened->SetupQueues(kQueueSize, kQueueSize);
    if (error != kErrorSuccess) {
        opened.reset();
        if (trace)
            TraceEvent(name, "open failed, error " + std::to_string(error));
        throw CException(error, IsOpen());
    }

    handle = std::move(opened);
    portName = name;
    std::string hardwareId;
    usbCdc = system->IsCurrentPortUsb(portName, kScannerUsbVid, kScannerUsbPid, hardwareId);
    if (trace)
        TraceEvent(portName, usbCdc ? "open (USB scanner " + hardwareId + ")" : std::string("open"));
}

void CComDevice::Close()
{
    if (!handle)
        return;
    DropWatch(false);
    handle.reset();
    if (trace)
        TraceEvent(portName, "close");
    portName.clear();
    usbCdc = false;
}

void CComDevice::Write(const void* data, unsigned size)
{
    unsigned done = 0;
    if (!handle || handle->Write(data, size, &done) != kErrorSuccess || done != size)
        throw CBasicDevice::CException();
}

void CComDevice::WriteByte(unsigned char b)
{
    Write(&b, 1);
}

void CComDevice::Read(void* buffer, unsigned size)
{
    unsigned done = 0;
    if (!handle || handle->Read(buffer, size, &done) != kErrorSuccess || done != size)
        throw CBasicDevice::CException();
}

unsigned char CComDevice::ReadByte()
{
    unsigned char b = 0;
    Read(&b, 1);
    return b;
}

void CComDevice::ReadSome(void* buffer, unsigned* size)
{
    unsigned done = 0;
    if (!handle || handle->Read(buffer, *size, &done) != kErrorSuccess)
        throw CBasicDevice::CException();
    *size = done;
}

void CComDevice::ClearErrors()
{
    if (!handle || handle->ClearErrors() != kErrorSuccess)
        throw CBasicDevice::CException();
}

void CComDevice::PurgeInput()
{
    if (trace)
        TraceEvent(portName, "purge rx");
    if (!handle || handle->Purge(kPurgeInputFlags) != kErrorSuccess)
        throw CBasicDevice::CException();
}

void CComDevice::PurgeOutput()
{
    if (trace)
        TraceEvent(portName, "purge tx");
    if (!handle || handle->Purge(kPurgeOutputFlags) != kErrorSuccess)
        throw CBasicDevice::CException();
}

unsigned CComDevice::GetBaudRate()
{
    CPortState state;
    CheckConfigCall(*this, ConfiguredPort(*this).GetState(state));
    return state.baudRate;
}

void CComDevice::SetBaudRate(unsigned baud)
{
    CPortState state;
    CheckConfigCall(*this, ConfiguredPort(*this).GetState(state));
    state.baudRate = baud;
    if (trace)
        TraceEvent(portName, "speed " + std::to_string(baud));
    CheckConfigCall(*this, handle->SetState(state));
}

unsigned CComDevice::GetTimeout()
{
    CPortTimeouts timeouts;
    CheckConfigCall(*this, ConfiguredPort(*this).GetTimeouts(timeouts));
    return timeouts.readInterval;
}

void CComDevice::SetTimeouts(unsigned readInterval, unsigned readTotalMultiplier,
                             unsigned readTotalConstant, unsigned writeTotalMultiplier,
                             unsigned writeTotalConstant)
{
    const CPortTimeouts timeouts{readInterval, readTotalMultiplier, readTotalConstant,
                                 writeTotalMultiplier, writeTotalConstant};
    if (trace && handle)
        TraceEvent(portName, "timeout " + std::to_string(readTotalConstant) + " ms");
    CheckConfigCall(*this, ConfiguredPort(*this).SetTimeouts(timeouts));
}

void CComDevice::SetTimeout(unsigned ms)
{
    SetTimeouts(ms, 0, ms, 0, ms);
}

void OpenComPort(CComDevice& device, const std::string& portName, unsigned baud,
                 unsigned timeoutMs)
{
    device.Open(portName);
    device.SetBaudRate(baud);
    device.SetTimeout(timeoutMs);
}

CTimeoutGuard::CTimeoutGuard(CComDevice& guarded, unsigned ms)
    : device(guarded), saved(guarded.GetTimeout())
{
    device.SetTimeout(ms);
}

CTimeoutGuard::~CTimeoutGuard()
{
    // The exchange may have lost the port (a removal closes it); there is nothing to
    // restore then, and a destructor must not throw.
    if (!device.IsOpen())
        return;
    try {
        device.SetTimeout(saved);
    } catch (const CBasicDevice::CException&) {
    }
}

// ---- Reconnect watch ----

bool CComDevice::WatchRemoval()
{
    if (!usbCdc)
        return false;
    if (system->Notifier().RegisterHandleNotification(handle.get(), NotificationHandler, this) != 0)
        return false;
    watch = Watch::Removal;
    arrived = false;
    removed = false;
    return true;
}

void CComDevice::DropWatch(bool arrivalToo)
{
    if (watch == Watch::Removal)
        system->Notifier().UnregisterHandleNotification(NotificationHandler);
    else if (watch == Watch::Arrival && arrivalToo)
        system->Notifier().UnregisterInterfaceNotification(NotificationHandler);
    else
        return;
    watch = Watch::None;
}

void NotificationHandler(int event, CComDevice* device)
{
    if (!device)
        return;
    CDeviceNotifier& notifier = device->system->Notifier();
    if (event == USB_SERIAL_ARRIVAL) {
        notifier.UnregisterInterfaceNotification(NotificationHandler);
        device->watch = CComDevice::Watch::None;
        device->arrived = true;
        if (device->trace)
            device->TraceEvent(device->watchedName, "returned");
    } else if (event == USB_SERIAL_REMOVE) {
        notifier.UnregisterHandleNotification(NotificationHandler);
        const bool waiting = notifier.RegisterInterfaceNotification(NotificationHandler, device) == 0;
        device->watch = waiting ? CComDevice::Watch::Arrival : CComDevice::Watch::None;
        if (device->trace)
            device->TraceEvent(device->portName, "vanished");
        device->watchedName = device->portName;
        device->Close();
        device->removed = true;
    }
}
