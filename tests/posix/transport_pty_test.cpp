#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/strings.h"
#include "support/open_message.h"
#include "transport/com_device.h"
#include "transport/com_port_posix.h"
#include "transport/port_system_posix.h"

namespace {

// A pseudo-terminal: the device under test opens the slave, the test plays the other end
// on the master. The test keeps a slave descriptor too, as the simulator does, so the
// master stays usable while the device is closed.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty()
    {
        char name[128];
        EXPECT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        path = name;
    }
    ~Pty()
    {
        close(master);
        close(slave);
    }
    std::string ReadMaster()
    {
        std::string out;
        char buffer[256];
        for (int i = 0; i < 50; ++i) {
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                out.append(buffer, n);
                break;
            }
            usleep(2000);
        }
        return out;
    }
};

double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

TEST(PosixPort, OpenFailuresGiveTheOperatorMessages)
{
    CPosixPortSystem system;
    CComDevice device(system, PlatformHost());
    EXPECT_EQ(OpenMessage(device, "/nonexistent/ttyQ9"), LoadText(IDS_PORT_UNAVAILABLE));
    EXPECT_EQ(OpenMessage(device, "ttyDoesNotExist7"), LoadText(IDS_PORT_UNAVAILABLE));
    EXPECT_EQ(OpenMessage(device, ""), LoadText(IDS_PORT_NOT_SET));
    for (const char* other : {"/dev/null", "/dev/zero", "/tmp"})
        EXPECT_EQ(OpenMessage(device, other), LoadText(IDS_PORT_NOT_SERIAL)) << other;
    EXPECT_EQ(OpenMessage(device, "/dev/" + std::string(100 * 1024, 'x')),
              LoadText(IDS_PORT_NAME_TOO_LONG));
    // A device that fails once open reads as a failure, not as a refused access, and
    // one that has gone (a pulled USB tty answers EIO, its node ENXIO or ENODEV) as gone.
    for (int gone : {EIO, ENXIO, ENODEV})
        EXPECT_EQ(PosixErrorCode(gone, false), kErrorDeviceNotConnected) << gone;
    EXPECT_EQ(PosixErrorCode(EBADF, false), kErrorPortFailure);
    EXPECT_EQ(PosixErrorCode(EINVAL, false), kErrorInvalidParameter);

    Pty pty;
    const int other = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);   // another program holds the port
    EXPECT_EQ(OpenMessage(device, pty.path), LoadText(IDS_PORT_BUSY));
    EXPECT_FALSE(device.IsOpen());
    close(other);
    EXPECT_EQ(OpenMessage(device, pty.path), "opened");

    CComDevice second(system, PlatformHost());
    EXPECT_EQ(OpenMessage(second, pty.path), LoadText(IDS_PORT_BUSY));
}

// Paths are case-sensitive: another case is another device.
TEST(PosixPort, PortNamesCompareExactly)
{
    EXPECT_TRUE(SamePortName("/dev/ttyUSB0", "/dev/ttyUSB0"));
    EXPECT_FALSE(SamePortName("/dev/ttyUSB0", "/dev/ttyusb0"));
}

TEST(PosixPort, OpenSetsARaw8N1LineAndSpeedChangesKeepIt)
{
    Pty pty;
    CPosixPortSystem system;
    CComDevice device(system, PlatformHost());
    device.Open(pty.path);
    EXPECT_EQ(device.GetBaudRate(), 9600u);

    device.SetBaudRate(250000);   // not one of the classic speeds
    EXPECT_EQ(device.GetBaudRate(), 250000u);
    device.SetBaudRate(115200);
    termios tio;
    ASSERT_EQ(tcgetattr(pty.master, &tio), 0);   // master and slave share the settings
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, (tcflag_t)CS8);
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), (tcflag_t)(CLOCAL | CREAD));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
}

TEST(PosixPort, ReadTimeOutOnASilentLine)
{
    Pty pty;
    CPosixPortSystem system;
    CComDevice device(system, PlatformHost());
    OpenComPort(device, pty.path, 9600, 100);
    EXPECT_EQ(device.GetTimeout(), 100u);

    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(device.ReadByte(), CBasicDevice::CException);
    const double readMs = MsSince(start);
    EXPECT_GE(readMs, 95.0);
    EXPECT_LT(readMs, 1000.0);

    unsigned char buffer[16];
    unsigned size = sizeof buffer;
    start = std::chrono::steady_clock::now();
    device.ReadSome(buffer, &size);
    EXPECT_EQ(size, 0u);
    EXPECT_GE(MsSince(start), 95.0);
}

TEST(PosixPort, ExchangesBytesAndPurgesInput)
{
    Pty pty;
    CPosixPortSystem system;
    CComDevice device(system, PlatformHost());
    OpenComPort(device, pty.path, 115200, 200);

    device.Write("\x02hello", 6);
    EXPECT_EQ(pty.ReadMaster(), "\x02hello");

    ASSERT_EQ(write(pty.master, "abc\r\n", 5), 5);
    unsigned char got[5];
    device.Read(got, 5);
    EXPECT_EQ(std::string((char*)got, 5), "abc\r\n");   // raw: no line discipline

    // Some bytes end the wait at once.
    ASSERT_EQ(write(pty.master, "xy", 2), 2);
    unsigned char some[8];
    unsigned size = sizeof some;
    device.ReadSome(some, &size);
    EXPECT_EQ(size, 2u);

    ASSERT_EQ(write(pty.master, "stale", 5), 5);
    usleep(20000);
    device.PurgeInput();
    device.PurgeOutput();
    device.ClearErrors();
    device.SetTimeout(50);
    size = sizeof some;
    device.ReadSome(some, &size);
    EXPECT_EQ(size, 0u);
}

// A total limit past what poll takes in ms (2^32 + 20 here) must still mean a long wait,
// not whatever its low 32 bits say.
TEST(PosixPort, HugeReadLimitDoesNotEndTheReadEarly)
{
    Pty pty;
    std::unique_ptr<CPortHandle> port;
    ASSERT_EQ(OpenPosixPort(pty.path, port), 0u);
    ASSERT_EQ(port->SetState(CPortState{}), 0u);   // raw, as every open sets it up
    ASSERT_EQ(port->SetTimeouts({0, 0x80000000u, 20, 0, 200}), 0u);
    std::thread late([&pty] {
        usleep(200000);
        EXPECT_EQ(write(pty.master, "ok", 2), 2);
    });
    unsigned char got[2] = {};
    unsigned done = 0;
    EXPECT_EQ(port->Read(got, 2, &done), 0u);
    late.join();
    EXPECT_EQ(done, 2u);
    EXPECT_EQ(std::string((char*)got, 2), "ok");
}

TEST(PosixPort, ReopenAndCloseReleaseThePort)
{
    Pty pty;
    CPosixPortSystem system;
    CComDevice device(system, PlatformHost());
    device.Open(pty.path);
    device.Open(pty.path);   // the old descriptor and its lock go first
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.GetPortName(), pty.path);
    device.Close();
    const int other = open(pty.path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST(PosixPort, VanishedDeviceFailsIoAndConfiguration)
{
    auto pty = std::make_unique<Pty>();
    CPosixPortSystem system;
    CComDevice device(system, PlatformHost());
    OpenComPort(device, pty->path, 9600, 100);
    pty.reset();   // the other end and the node are gone
    // A hang-up, then EIO: the device has gone, which is final, not a lost attempt.
    unsigned char buffer[4];
    unsigned size = sizeof buffer;
    EXPECT_THROW(device.ReadSome(buffer, &size), CComDevice::CDisconnected);
    EXPECT_THROW(device.ClearErrors(), CComDevice::CDisconnected);
    EXPECT_THROW(device.SetBaudRate(115200), CComDevice::CDisconnected);
    EXPECT_TRUE(device.IsOpen());
}
