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

}  // namespace

CComDevice::CException::CException(uint32_t code, bool wasOpen)
    : object_description(OpenErrorText(code, wasOpen)), errorCode(code)
{
}

CComDevice::CException::CException(uint32_t code, std::string text)
    : object_description(std::move(text)), errorCode(code)
{
}

CComDevice::CException CComDevice::CException::SpeedNotTaken(unsigned baud)
{
    return CException(kErrorSpeedNotTaken,
                      StringPrintf(LoadText(IDS_PORT_SPEED_NOT_TAKEN), static_cast<unsigned long>(baud)));
}

CComDevice::CDisconnected::CDisconnected(uint32_t code, const std::string& port)
    : CException(code, StringPrintf(LoadText(IDS_PORT_DISCONNECTED), port.c_str()))
{
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

uint32_t CComDevice::OpenRetryingRefusal(const std::string& name,
                                         std::unique_ptr<CPortHandle>& opened)
{
    // The next row, or a scanner back from its restart, reopens a port the moment it was
    // closed; a port that another program holds is refused all along, and told so after
    // the wait. Stop is taken between the tries.
    const uint32_t start = host->TickCount();
    for (;;) {
        uint32_t error = system->OpenPort(name, opened);
        if (error == kErrorSuccess && !opened)
            error = kErrorInvalidHandle;
        if (error != kErrorAccessDenied || host->TickCount() - start >= kRefusedOpenRetryMs)
            return error;
        host->PumpMessages();
        host->Sleep(kRefusedOpenPauseMs);
    }
}

void CComDevice::Open(const std::string& name)
{
    Close();
    // Whatever a watch of the last port reported is over once a port is opened again.
    DropArrivalWatch();
    arrived = removed = lostPort = false;

    std::unique_ptr<CPortHandle> opened;
    uint32_t error = OpenRetryingRefusal(name, opened);
    if (error != kErrorSuccess) {
        if (trace)
            TraceEvent(name, "open failed, error " + std::to_string(error));
        throw CException(error, IsOpen());
    }

    // The line is set up from a fresh state rather than the port's current one, so
    // whatever another program left behind (handshaking, parity) cannot leak in: binary,
    // everything else off, with distinct XON/XOFF characters, which drivers insist on.
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
    if (watchWhileOpen)
        ArmRemovalWatch();
}

void CComDevice::Close()
{
    if (!handle)
        return;
    DropWatch(false);
    // An arrival matters only after a removal; a port closed on purpose awaits none.
    if (!removed)
        DropArrivalWatch();
    handle.reset();
    if (trace)
        TraceEvent(portName, "close");
    portName.clear();
    usbCdc = false;
}

CPortHandle& CComDevice::Port()
{
    if (!handle) {
        if (lostPort)
            throw CDisconnected(kErrorDeviceNotConnected, watchedName);
        throw CBasicDevice::CException();
    }
    return *handle;
}

CPortHandle& CComDevice::ConfiguredPort()
{
    // A configuration call on a closed device fails the way the system fails a call on
    // an invalid handle.
    if (!handle) {
        if (lostPort)
            throw CDisconnected(kErrorDeviceNotConnected, watchedName);
        throw CException(kErrorInvalidHandle, false);
    }
    return *handle;
}

void CComDevice::TraceFailure(const char* what, uint32_t error) const
{
    const std::string system = handle ? handle->LastErrorText() : std::string();
    TraceEvent(portName, what + (system.empty() ? "error " + std::to_string(error) : system));
}

CComDevice::CDisconnected CComDevice::Disconnected(uint32_t error)
{
    if (trace)
        TraceFailure("disconnected, ", error);
    return CDisconnected(error, portName);
}

void CComDevice::CheckIo(uint32_t error)
{
    if (error == kErrorSuccess)
        return;
    if (IsRemovalError(error))
        throw Disconnected(error);
    if (trace)
        TraceFailure("request failed, ", error);
    throw CBasicDevice::CException();
}

void CComDevice::CheckConfig(uint32_t error)
{
    if (error == kErrorSuccess)
        return;
    // Access denied on an open port is also how a driver blocks a port that is still
    // there; only a port that has left the list is gone.
    if (IsOpen() && IsRemovalError(error) &&
        (IsUnambiguousRemovalError(error) || !system->SerialPortExists(portName)))
        throw Disconnected(error);
    throw CException(error, IsOpen());
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
    // 0: return at once with what is there (the documented form; a zero constant with
    // the multiplier at MAXDWORD is not one).
    const CPortTimeouts timeouts = ms == 0 ? CPortTimeouts{kMaxDword, 0, 0, 0, kPortSliceMs}
                                           : CPortTimeouts{kMaxDword, kMaxDword, ms, 0, kPortSliceMs};
    CheckIo(Port().SetTimeouts(timeouts));
    portWaitMs = ms;
}

unsigned CComDevice::Collect(uint8_t* out, unsigned size, uint32_t limitMs, bool untilAny)
{
    const uint32_t start = host->TickCount();
    uint32_t pumpedAt = 0;
    unsigned got = 0;
    for (;;) {
        const uint32_t elapsed = host->TickCount() - start;
        // Past the limit the port is looked at once more without waiting: bytes that
        // came in time while this thread was not running (a busy machine) still count.
        const bool last = elapsed >= limitMs;
        if (!last && elapsed - pumpedAt >= kPumpIntervalMs) {
            host->PumpMessages();
            pumpedAt = elapsed;
        }
        const uint32_t wait = last ? 0 : std::min(limitMs - elapsed, kPortSliceMs);
        SetPortWait(wait);
        const uint32_t before = host->TickCount();
        unsigned n = 0;
        CheckIo(Port().Read(out + got, size - got, &n));
        got += n;
        if (got == size || (untilAny && got > 0) || last)
            return got;
        // A driver that ends an empty read at once must neither spin this loop nor cut
        // the wait short: the wait is the clock's.
        const uint32_t took = host->TickCount() - before;
        if (n == 0 && took < wait)
            host->Sleep(std::min(wait - took, kEmptyReadPauseMs));
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
    uint32_t pumpedAt = 0;
    unsigned done = 0;
    while (done < size) {
        const uint32_t elapsed = host->TickCount() - start;
        if (elapsed >= limitMs)
            throw CBasicDevice::CException();
        if (elapsed - pumpedAt >= kPumpIntervalMs) {
            host->PumpMessages();
            pumpedAt = elapsed;
        }
        const unsigned count = std::min(piece, size - done);
        const uint32_t before = host->TickCount();
        unsigned n = 0;
        CheckIo(Port().Write(bytes + done, count, &n));
        done += n;
        const uint32_t took = host->TickCount() - before;
        if (n < count && took < kPortSliceMs)
            host->Sleep(std::min(kPortSliceMs - took, kEmptyReadPauseMs));
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
    CheckIo(Port().ClearErrors());
}

void CComDevice::PurgeInput()
{
    if (trace)
        TraceEvent(portName, "purge rx");
    CheckIo(Port().Purge(kPurgeInputFlags));
}

void CComDevice::PurgeOutput()
{
    if (trace)
        TraceEvent(portName, "purge tx");
    CheckIo(Port().Purge(kPurgeOutputFlags));
}

unsigned CComDevice::GetBaudRate()
{
    CPortState state;
    CheckConfig(ConfiguredPort().GetState(state));
    return state.baudRate;
}

void CComDevice::SetBaudRate(unsigned baud)
{
    CPortState state;
    CheckConfig(ConfiguredPort().GetState(state));
    const CPortState previous = state;
    state.baudRate = baud;
    if (trace)
        TraceEvent(portName, "speed " + std::to_string(baud));
    CheckConfig(handle->SetState(state));
    // The 8250 driver takes a speed above its clock's limit without an error and keeps
    // the old one: only the speed read back is the line's.
    CPortState readBack;
    CheckConfig(handle->GetState(readBack));
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
    CheckConfig(ConfiguredPort().GetState(state));
    if (state.baudRate == baud)
        return true;
    const CPortState previous = state;
    state.baudRate = baud;
    // A driver may refuse the speed outright (Windows) or keep its own (the 8250).
    bool taken = handle->SetState(state) == kErrorSuccess;
    CPortState readBack;
    taken = taken && handle->GetState(readBack) == kErrorSuccess &&
            SpeedTaken(baud, readBack.baudRate);
    CheckConfig(handle->SetState(previous));
    return taken;
}

unsigned CComDevice::GetTimeout()
{
    ConfiguredPort();
    return timeoutMs;
}

void CComDevice::SetTimeout(unsigned ms)
{
    ConfiguredPort();
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

bool CComDevice::ArmRemovalWatch()
{
    if (!watchingRemoval)
        watchingRemoval =
            system->Notifier().RegisterHandleNotification(handle.get(), NotificationHandler, this) == 0;
    return watchingRemoval;
}

void CComDevice::DropArrivalWatch()
{
    if (watchingArrival)
        system->Notifier().UnregisterInterfaceNotification(NotificationHandler);
    watchingArrival = false;
}

bool CComDevice::WatchRemoval()
{
    if (!usbCdc || !ArmRemovalWatch())
        return false;
    arrived = false;
    removed = false;
    // Armed before the scanner is told to restart: the system may announce its return
    // before the removal has been taken from the queue.
    if (!watchingArrival)
        watchingArrival = system->Notifier().RegisterInterfaceNotification(NotificationHandler, this) == 0;
    return true;
}

void CComDevice::DropWatch(bool arrivalToo)
{
    if (watchingRemoval)
        system->Notifier().UnregisterHandleNotification(NotificationHandler);
    watchingRemoval = false;
    if (arrivalToo)
        DropArrivalWatch();
}

void NotificationHandler(int event, CComDevice* device)
{
    if (!device)
        return;
    CDeviceNotifier& notifier = device->system->Notifier();
    if (event == USB_SERIAL_ARRIVAL) {
        // Until the port has gone, an arrival is some other device's.
        if (!device->removed)
            return;
        notifier.UnregisterInterfaceNotification(NotificationHandler);
        device->watchingArrival = false;
        device->arrived = true;
        if (device->trace)
            device->TraceEvent(device->watchedName, "returned");
    } else if (event == USB_SERIAL_REMOVE) {
        notifier.UnregisterHandleNotification(NotificationHandler);
        device->watchingRemoval = false;
        if (!device->watchingArrival)
            device->watchingArrival =
                notifier.RegisterInterfaceNotification(NotificationHandler, device) == 0;
        if (device->trace)
            device->TraceEvent(device->portName, "vanished");
        device->watchedName = device->portName;
        device->removed = true;
        device->Close();
        device->lostPort = true;
    }
}
