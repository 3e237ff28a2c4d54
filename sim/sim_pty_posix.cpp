// termios2 (any baud as a number) comes from the kernel headers, which clash with
// <termios.h>; this file therefore uses only the ioctl interface.
#include "sim/sim_pty_posix.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uint32_t kInitialBaud = 9600;

std::string SystemError(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

bool MakeRawLine(int fd)
{
    struct termios2 t;
    if (ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CBAUD);
    t.c_cflag |= CS8 | CREAD | CLOCAL | BOTHER;
    t.c_ispeed = t.c_ospeed = kInitialBaud;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &t) == 0;
}

bool CSimPty::Open(std::string& error)
{
    Close();
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) {
        error = SystemError("posix_openpt");
        return false;
    }
    const char* name = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || !(name = ptsname(master))) {
        error = SystemError("pty setup");
        Close();
        return false;
    }
    slavePath = name;
    slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0 || !MakeRawLine(slave)) {
        error = SystemError(slavePath.c_str());
        Close();
        return false;
    }
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = SystemError("fcntl");
        Close();
        return false;
    }
    if (!StartKeeper(error)) {
        Close();
        return false;
    }
    return true;
}

bool CSimPty::StartKeeper(std::string& error)
{
    int ends[2];
    if (pipe(ends) != 0) {
        error = SystemError("pipe");
        return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        error = SystemError("fork");
        close(ends[0]);
        close(ends[1]);
        return false;
    }
    if (pid == 0) {
        // The keeper must not hold the master, or closing it in the parent would not
        // hang the line up; nor the parent's output, which scripts read to its end.
        close(master);
        close(ends[1]);
        for (int fd = 0; fd <= 2; ++fd)
            close(fd);
        std::signal(SIGINT, SIG_IGN);
        std::signal(SIGTERM, SIG_DFL);
        if (setsid() >= 0)
            ioctl(slave, TIOCSCTTY, 0);
        char b;
        while (read(ends[0], &b, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    close(ends[0]);
    keeperPid = pid;
    keeperPipe = ends[1];
    return true;
}

void CSimPty::Close()
{
    if (slave >= 0)
        close(slave);
    if (master >= 0)
        close(master);
    slave = master = -1;
    slavePath.clear();
    if (keeperPipe >= 0)
        close(keeperPipe);
    if (keeperPid > 0)
        waitpid(keeperPid, nullptr, 0);
    keeperPipe = keeperPid = -1;
}

uint32_t CSimPty::HostBaud() const
{
    struct termios2 t;
    if (master < 0 || ioctl(master, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}
