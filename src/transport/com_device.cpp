#include "transport/com_device.h"

#include <algorithm>

#include "base/strings.h"
#include "base/trace.h"
#include "transport/device_notify.h"

namespace {

constexpr uint32_t kQueueSize = 1024;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr unsigned kBitsPerChar = 10;   // start bit, 8 data bits, stop bit
// The most a drain reads before it gives up on a line that never falls quiet (a
// babbling scanner): a frame and a half.
constexpr unsigned kDrainLimitBytes = 384;
constexpr unsigned kPurgeInputFlags = kPurgeRxAbort | kPurgeRxClear;
constexpr unsigned kPurgeOutputFlags = kPurgeTxAbort | kPurgeTxClear;
// A speed read back within this share of the one asked for is taken: a driver may round
// to what its clock divides to, and a UART line holds within a few per cent.
constexpr unsigned kSpeedToleranceDivisor = 50;   // 2 %

bool SpeedTaken(unsigned asked, unsigned readBack)
{
    const unsigned difference = asked > readBack ? asked - readBack : readBack - asked;
    return difference <= asked / kSpeedToleranceDivisor;
}

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

CComDevice::CException CComDevice::CException::SpeedNotTaken(unsigned baud)
{
    CException failure(kErrorSpeedNotTaken, true);
    failure.description =
        StringPrintf(LoadText(IDS_PORT_SPEED_NOT_TAKEN), static_cast<unsigned long>(baud));
    return failure;
}

CComDevice::CComDevice(CPortSystem& portSystem, CRunHost& runHost)
    : system(&portSystem), host(&runHost), trace(portSystem.Trace()),
      timeoutMs(kDefaultReplyTimeoutMs)
{
}

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
    // A read returns as soon as any byte is there, or after one slice without; a write
    // gives up after a slice. Waits longer than that are the device's own loops.
    const CPortTimeouts slices{kMaxDword, kMaxDword, kPortSliceMs, 0, kPortSliceMs};
    if (error == kErrorSuccess)
        error = opened->SetTimeouts(slices);
    if (error != kErrorSuccess) {
        opened.reset();
        if (trace)
            TraceEvent(name, "open failed, error " + std::to_string(error));
        throw CException(error, IsOpen());
    }

    handle = std::move(opened);
    portName = name;
    lineBaud = state.baudRate;
    portWaitMs = kPortSliceMs;
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

CPortHandle& CComDevice::Port()
{
    if (!handle)
        throw CBasicDevice::CException();
    return *handle;
}

uint32_t CComDevice::LineTimeMs(unsigned count) const
{
    const uint64_t bits = uint64_t(count) * kBitsPerChar * 1000;
    const unsigned baud = lineBaud != 0 ? lineBaud : 1;
    return static_cast<uint32_t>((bits + baud - 1) / baud);
}

void CComDevice::SetPortWait(uint32_t ms)
{
    if (ms == portWaitMs)
        return;
    const CPortTimeouts timeouts{kMaxDword, kMaxDword, ms, 0, kPortSliceMs};
    if (Port().SetTimeouts(timeouts) != kErrorSuccess)
        throw CBasicDevice::CException();
    portWaitMs = ms;
}

unsigned CComDevice::Collect(uint8_t* out, unsigned size, uint32_t limitMs, bool untilAny)
{
    // Time is the host's clock, or what the empty reads were asked to wait when that is
    // more: a driver that returns empty at once must not spin this loop for ever.
    const uint32_t start = host->TickCount();
    uint32_t waited = 0;
    uint32_t pumpedAt = 0;
    unsigned got = 0;
    for (;;) {
        const uint32_t elapsed = std::max(host->TickCount() - start, waited);
        if (elapsed >= limitMs)
            return got;
        if (elapsed - pumpedAt >= kPumpIntervalMs) {
            host->PumpMessages();
            pumpedAt = elapsed;
        }
        const uint32_t wait = std::max<uint32_t>(1, std::min(limitMs - elapsed, kPortSliceMs));
        SetPortWait(wait);
        unsigned n = 0;
        if (Port().Read(out + got, size - got, &n) != kErrorSuccess)
            throw CBasicDevice::CException();
        got += n;
        if (got == size || (untilAny && got > 0))
            return got;
        if (n == 0)
            waited = elapsed + wait;
    }
}

void CComDevice::Write(const void* data, unsigned size)
{
    // Written in pieces the line takes within half a slice, so that a stuck line (or a
    // Stop) is noticed between them; the whole write may take the reply time-out beyond
    // the bytes' own time.
    const auto* bytes = static_cast<const uint8_t*>(data);
    const unsigned piece = std::max(1u, lineBaud * (kPortSliceMs / 2) / (kBitsPerChar * 1000));
    const uint32_t limitMs = timeoutMs + LineTimeMs(size);
    const uint32_t start = host->TickCount();
    uint32_t waited = 0;
    uint32_t pumpedAt = 0;
    unsigned done = 0;
    while (done < size) {
        const uint32_t elapsed = std::max(host->TickCount() - start, waited);
        if (elapsed >= limitMs)
            throw CBasicDevice::CException();
        if (elapsed - pumpedAt >= kPumpIntervalMs) {
            host->PumpMessages();
            pumpedAt = elapsed;
        }
        const unsigned count = std::min(piece, size - done);
        unsigned n = 0;
        if (Port().Write(bytes + done, count, &n) != kErrorSuccess)
            throw CBasicDevice::CException();
        done += n;
        if (n < count)
            waited = elapsed + kPortSliceMs;
    }
}

void CComDevice::WriteByte(unsigned char b)
{
    Write(&b, 1);
}

void CComDevice::Read(void* buffer, unsigned size)
{
    if (size == 0)
        return;
    auto* out = static_cast<uint8_t*>(buffer);
    const unsigned got = Collect(out, size, timeoutMs, true);
    if (got == 0)
        throw CBasicDevice::CException();
    if (got < size)
        ReadRest(out + got, size - got);
}

unsigned char CComDevice::ReadByte()
{
    unsigned char b = 0;
    Read(&b, 1);
    return b;
}

void CComDevice::ReadRest(void* buffer, unsigned size)
{
    if (Collect(static_cast<uint8_t*>(buffer), size, LineTimeMs(size) + kFrameMarginMs, false) < size)
        throw CBasicDevice::CException();
}

void CComDevice::ReadSome(void* buffer, unsigned* size)
{
    *size = Collect(static_cast<uint8_t*>(buffer), *size, timeoutMs, true);
}

void CComDevice::Drain()
{
    const uint32_t quietMs = std::max(kDrainQuietMs, LineTimeMs(kDrainQuietChars));
    uint8_t scratch[64];
    unsigned drained = 0;
    while (drained < kDrainLimitBytes) {
        const unsigned n = Collect(scratch, sizeof scratch, quietMs, true);
        if (n == 0)
            return;
        drained += n;
    }
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
    const CPortState previous = state;
    state.baudRate = baud;
    if (trace)
        TraceEvent(portName, "speed " + std::to_string(baud));
    CheckConfigCall(*this, handle->SetState(state));
    // The 8250 driver takes a speed above its clock's limit without an error and keeps
    // the old one: only the speed read back is the line's.
    CPortState readBack;
    CheckConfigCall(*this, handle->GetState(readBack));
    if (SpeedTaken(baud, readBack.baudRate)) {
        lineBaud = baud;
        return;
    }
    if (trace)
        TraceEvent(portName, "speed " + std::to_string(baud) + " not taken, " +
                                 std::to_string(readBack.baudRate) + " kept");
    handle->SetState(previous);
    throw CException::SpeedNotTaken(baud);
}

bool CComDevice::CanMakeSpeed(unsigned baud)
{
    CPortState state;
    CheckConfigCall(*this, ConfiguredPort(*this).GetState(state));
    if (state.baudRate == baud)
        return true;
    const CPortState previous = state;
    state.baudRate = baud;
    // A driver may refuse the speed outright (Windows) or keep its own (the 8250).
    bool taken = handle->SetState(state) == kErrorSuccess;
    CPortState readBack;
    taken = taken && handle->GetState(readBack) == kErrorSuccess &&
            SpeedTaken(baud, readBack.baudRate);
    CheckConfigCall(*this, handle->SetState(previous));
    return taken;
}

unsigned CComDevice::GetTimeout()
{
    ConfiguredPort(*this);
    return timeoutMs;
}

void CComDevice::SetTimeout(unsigned ms)
{
    ConfiguredPort(*this);
    if (trace)
        TraceEvent(portName, "timeout " + std::to_string(ms) + " ms");
    timeoutMs = ms;
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
