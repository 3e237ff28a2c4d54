#include "transport/line_settings_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace {

// The DCB bits that have a POSIX counterpart.
constexpr uint32_t kDcbParityCheck = 1u << 1;
constexpr uint32_t kDcbOutxCtsFlow = 1u << 2;
constexpr uint32_t kDcbOutX = 1u << 8;
constexpr uint32_t kDcbInX = 1u << 9;
constexpr uint32_t kDcbRtsControlMask = 3u << 12;
constexpr uint32_t kDcbRtsHandshake = 2u << 12;

constexpr uint8_t kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4;
constexpr uint8_t kTwoStopBits = 2;

tcflag_t ByteSizeFlag(uint8_t byteSize)
{
    switch (byteSize) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

// The classic speed constant of a rate, or BOTHER for any other rate. Classic rates keep
// their constant so that programs reading the line with the old interface see them.
tcflag_t SpeedFlag(uint32_t baud)
{
    static const struct {
        uint32_t baud;
        tcflag_t flag;
    } speeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},
                  {150, B150},       {200, B200},       {300, B300},       {600, B600},
                  {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
                  {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
                  {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
                  {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
    for (const auto& speed : speeds)
        if (speed.baud == baud)
            return speed.flag;
    return BOTHER;
}

}  // namespace

int ApplyLineState(int fd, const CPortState& state)
{
    // Refused as a Windows driver refuses it, so the program behaves the same on both.
    if (state.xonChar == state.xoffChar)
        return EINVAL;
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return errno;

    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IGNPAR);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CLOCAL | CREAD | SpeedFlag(state.baudRate) | ByteSizeFlag(state.byteSize);
    tio.c_ispeed = tio.c_ospeed = state.baudRate;

    switch (state.parity) {
    case kOddParity: tio.c_cflag |= PARENB | PARODD; break;
    case kEvenParity: tio.c_cflag |= PARENB; break;
    case kMarkParity: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case kSpaceParity: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (state.stopBits != 0)   // 1.5 does not exist on a terminal; two is the nearest
        tio.c_cflag |= CSTOPB;
    if (state.flags & kDcbParityCheck)
        tio.c_iflag |= INPCK;
    if ((state.flags & kDcbOutxCtsFlow) || (state.flags & kDcbRtsControlMask) == kDcbRtsHandshake)
        tio.c_cflag |= CRTSCTS;
    if (state.flags & kDcbOutX)
        tio.c_iflag |= IXON;
    if (state.flags & kDcbInX)
        tio.c_iflag |= IXOFF;

    tio.c_cc[VSTART] = state.xonChar;
    tio.c_cc[VSTOP] = state.xoffChar;

    // Reads are bounded by poll, never by the terminal: return whatever is there.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &tio) == 0 ? 0 : errno;
}

int ReadLineState(int fd, CPortState& state)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0)
        return errno;
    state.baudRate = tio.c_ospeed;
    switch (tio.c_cflag & CSIZE) {
    case CS5: state.byteSize = 5; break;
    case CS6: state.byteSize = 6; break;
    case CS7: state.byteSize = 7; break;
    default: state.byteSize = 8; break;
    }
    if (!(tio.c_cflag & PARENB))
        state.parity = 0;
    else if (tio.c_cflag & CMSPAR)
        state.parity = (tio.c_cflag & PARODD) ? kMarkParity : kSpaceParity;
    else
        state.parity = (tio.c_cflag & PARODD) ? kOddParity : kEvenParity;
    state.stopBits = (tio.c_cflag & CSTOPB) ? kTwoStopBits : 0;
    state.xonChar = tio.c_cc[VSTART];
    state.xoffChar = tio.c_cc[VSTOP];
    return 0;
}

int DrainOutput(int fd, unsigned timeoutMs)
{
    // tcdrain has no time limit; a wedged USB device must not hang the program, so the
    // queue is watched instead.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0)
            return errno;
        if (queued <= 0)
            return 0;
        if (timeoutMs != 0 && Clock::now() >= deadline)
            return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
