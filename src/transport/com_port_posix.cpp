#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>

#include "base/host.h"
#include "transport/com_port_posix.h"
#include "transport/line_settings_posix.h"

namespace {

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr uint32_t kDcbDtrControlShift = 4;
constexpr uint32_t kDcbRtsControlShift = 12;
constexpr uint32_t kLineControlEnable = 1;

using Clock = std::chrono::steady_clock;

// For poll, which takes an int: a limit beyond that (some 24 days) waits as long as poll
// can rather than wrapping to a short or endless wait.
int MsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX));
}

// Lowers or raises DTR and RTS as the DCB's control fields say (disable lowers, as the
// Windows driver does). A pseudo-terminal has no modem lines and refuses; that is fine.
int ApplyModemLines(int fd, uint32_t flags)
{
    struct {
        int bit;
        uint32_t control;
    } lines[] = {{TIOCM_DTR, (flags >> kDcbDtrControlShift) & 3},
                 {TIOCM_RTS, (flags >> kDcbRtsControlShift) & 3}};
    for (auto& line : lines) {
        if (line.control > kLineControlEnable)   // handshake: the terminal drives it
            continue;
        const unsigned long request = line.control == kLineControlEnable ? TIOCMBIS : TIOCMBIC;
        if (ioctl(fd, request, &line.bit) != 0 && errno != EINVAL && errno != ENOTTY)
            return errno;
    }
    return 0;
}

}  // namespace

std::string PosixDevicePath(const std::string& name)
{
    return name.find('/') == std::string::npos ? "/dev/" + name : name;
}

bool IsCharacterDevice(const std::string& path, dev_t* device)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    if (device)
        *device = info.st_rdev;
    return true;
}

uint32_t PosixErrorCode(int error, bool atOpen)
{
    // Every errno the port code can meet has its meaning here; anything else is a device
    // failure, never a number that would read as some Windows code.
    switch (error) {
    case 0:
        return kErrorSuccess;
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
        return kErrorFileNotFound;
    case ENODEV:
    case ENXIO:
        // No device behind the node: absent at open, gone once it was open.
        return atOpen ? kErrorFileNotFound : kErrorDeviceNotConnected;
    case EACCES:
    case EPERM:
    case EROFS:
        return kErrorAccessDenied;
    case EBUSY:
    case EWOULDBLOCK:
        return atOpen ? kErrorAccessDenied : kErrorPortFailure;
    case ENAMETOOLONG:
        return kErrorNameTooLong;
    case ENOTTY:
    case EISDIR:
        return kErrorNotSerialPort;
    case EINVAL:
        return kErrorInvalidParameter;
    case EIO:
        // What a terminal answers once its device has gone (a USB tty pulled, the other
        // end of a pseudo-terminal closed).
        return atOpen ? kErrorPortFailure : kErrorDeviceNotConnected;
    default:
        return kErrorPortFailure;
    }
}

uint32_t OpenPosixPort(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    if (name.empty() || name.find('\0') != std::string::npos)
        return kErrorInvalidName;
    const std::string path = PosixDevicePath(name);
    // Non-blocking, so that a line without carrier cannot hold the open.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return PosixErrorCode(errno, true);

    // Exclusive use, as share mode 0 gives on Windows: the lock stops another program
    // that locks too, TIOCEXCL every other opener that is not privileged.
    int error = 0;
    struct stat info;
    if (!isatty(fd))
        error = ENOTTY;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || fstat(fd, &info) != 0)
        error = errno;
    if (error != 0) {
        close(fd);
        return PosixErrorCode(error, true);
    }
    auto opened = std::make_unique<CPosixPortHandle>(fd, path, info.st_rdev);
    opened->RequestLowLatency();
    handle = std::move(opened);
    return kErrorSuccess;
}

CPosixPortHandle::CPosixPortHandle(int descriptor, std::string devicePath, dev_t node)
    : fd(descriptor), path(std::move(devicePath)), device(node)
{
}

CPosixPortHandle::~CPosixPortHandle()
{
    serial_struct serial{};
    if (lowLatencySet && ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags &= ~ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    latencyTimer.reset();
    // The exclusive flag outlives this descriptor while anyone else holds the terminal
    // (a pseudo-terminal's owner does), and would lock us out of our own next open.
    ioctl(fd, TIOCNXCL);
    close(fd);
}

void CPosixPortHandle::RequestLowLatency()
{
    serial_struct serial{};
    if (ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    serial.flags |= ASYNC_LOW_LATENCY;
    lowLatencySet = ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

void CPosixPortHandle::LowerLatencyTimer(const std::string& timerFile)
{
    latencyTimer = std::make_unique<CLatencyTimer>(timerFile);
}

std::string CPosixPortHandle::SlowLatencyTimer() const
{
    return latencyTimer && latencyTimer->StaysSlow() ? latencyTimer->File() : std::string();
}

uint32_t CPosixPortHandle::Failed(int error)
{
    lastErrno = error;
    hungUp = false;
    return PosixErrorCode(error, false);
}

uint32_t CPosixPortHandle::HangUp()
{
    hungUp = true;
    return kErrorDeviceNotConnected;
}

std::string CPosixPortHandle::LastErrorText() const
{
    if (hungUp)
        return "POLLHUP, the terminal hung up";
    if (lastErrno == 0)
        return {};
    return "errno " + std::to_string(lastErrno) + ", " + std::strerror(lastErrno);
}

uint32_t CPosixPortHandle::SetState(const CPortState& state)
{
    int error = ApplyLineState(fd, state);
    if (error == 0)
        error = ApplyModemLines(fd, state.flags);
    if (error != 0)
        return Failed(error);
    lineFlags = state.flags;
    return kErrorSuccess;
}

uint32_t CPosixPortHandle::GetState(CPortState& state)
{
    const int error = ReadLineState(fd, state);
    state.flags = lineFlags;
    return error == 0 ? kErrorSuccess : Failed(error);
}

uint32_t CPosixPortHandle::SetupQueues(uint32_t, uint32_t)
{
    // The kernel's terminal queues have a fixed size; there is nothing to set up.
    return kErrorSuccess;
}

uint32_t CPosixPortHandle::SetTimeouts(const CPortTimeouts& value)
{
    timeouts = value;
    return kErrorSuccess;
}

uint32_t CPosixPortHandle::GetTimeouts(CPortTimeouts& value)
{
    value = timeouts;
    return kErrorSuccess;
}

// Read with the Windows time-out rules: a total limit of multiplier × size + constant
// (none when both are 0), an interval limit between bytes once the first has come, and
// the two MAXDWORD forms (return at once with what is there; or return as soon as any
// byte is there, within the constant).
uint32_t CPosixPortHandle::Read(void* buffer, unsigned size, unsigned* done)
{
    *done = 0;
    const CPortTimeouts& t = timeouts;
    const bool immediate =
        t.readInterval == kMaxDword && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
    const bool anyByte = t.readInterval == kMaxDword && t.readTotalMultiplier == kMaxDword &&
                         t.readTotalConstant != 0 && t.readTotalConstant != kMaxDword;
    const uint64_t totalMs =
        anyByte ? t.readTotalConstant
                : uint64_t(t.readTotalMultiplier) * size + t.readTotalConstant;
    const uint32_t intervalMs = t.readInterval == kMaxDword ? 0 : t.readInterval;
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::milliseconds(totalMs);
    Clock::time_point lastByte = start;
    auto* bytes = static_cast<unsigned char*>(buffer);
    bool hangUpSeen = false;

    while (*done < size) {
        const ssize_t got = read(fd, bytes + *done, size - *done);
        if (got > 0) {
            *done += static_cast<unsigned>(got);
            lastByte = Clock::now();
            continue;
        }
        if (got < 0 && errno != EAGAIN && errno != EINTR)
            return Failed(errno);
        if (hangUpSeen)   // nothing more will come: the device is gone
            return HangUp();
        if (immediate || (anyByte && *done > 0))
            break;

        int waitMs = -1;
        if (totalMs != 0)
            waitMs = MsUntil(deadline);
        if (intervalMs != 0 && *done > 0) {
            const int intervalLeft = MsUntil(lastByte + std::chrono::milliseconds(intervalMs));
            waitMs = waitMs < 0 ? intervalLeft : std::min(waitMs, intervalLeft);
        }
        if (waitMs == 0)
            break;
        // Waited in slices so that Ctrl+C ends even a read of minutes at once.
        if (waitMs < 0 || waitMs > int(kInterruptCheckMs))
            waitMs = int(kInterruptCheckMs);
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, waitMs);
        if (ready < 0 && errno != EINTR)
            return Failed(errno);
        if (InterruptPending())
            return PosixErrorCode(EINTR, false);
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            hangUpSeen = true;
    }
    return kErrorSuccess;
}

// Write with the Windows rule that a synchronous write returns once the bytes have gone
// out, within multiplier × size + constant when either is set.
uint32_t CPosixPortHandle::Write(const void* data, unsigned size, unsigned* done)
{
    *done = 0;
    const uint64_t totalMs =
        uint64_t(timeouts.writeTotalMultiplier) * size + timeouts.writeTotalConstant;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    const auto* bytes = static_cast<const unsigned char*>(data);

    while (*done < size) {
        const ssize_t put = write(fd, bytes + *done, size - *done);
        if (put > 0) {
            *done += static_cast<unsigned>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return Failed(errno);
        int waitMs = totalMs != 0 ? MsUntil(deadline) : -1;
        if (waitMs == 0)
            return kErrorSuccess;   // timed out: the count tells how far it got
        if (waitMs < 0 || waitMs > int(kInterruptCheckMs))
            waitMs = int(kInterruptCheckMs);
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, waitMs) < 0 && errno != EINTR)
            return Failed(errno);
        if (InterruptPending())
            return PosixErrorCode(EINTR, false);
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return HangUp();
    }
    const unsigned drainMs = totalMs != 0 ? std::max(1, MsUntil(deadline)) : 0;
    const int error = DrainOutput(fd, drainMs);
    // Bytes still queued when the limit ran out go out later; the write itself is done.
    return error == 0 || error == ETIMEDOUT ? kErrorSuccess : Failed(error);
}

uint32_t CPosixPortHandle::Purge(unsigned flags)
{
    if ((flags & kPurgeRxClear) && tcflush(fd, TCIFLUSH) != 0)
        return Failed(errno);
    if ((flags & kPurgeTxClear) && tcflush(fd, TCOFLUSH) != 0)
        return Failed(errno);
    return kErrorSuccess;
}

uint32_t CPosixPortHandle::ClearErrors()
{
    // A terminal keeps no error latch; what can fail is the device itself having gone.
    termios tio;
    return tcgetattr(fd, &tio) == 0 ? kErrorSuccess : Failed(errno);
}

bool CPosixPortHandle::HungUp() const
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLNVAL));
}
