// termios2 comes from the kernel headers, which clash with <termios.h>.
#include "sim/sim_tty_posix.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

std::string SystemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

std::string ReadLine(const std::string& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

CSimTty::CSimTty(std::string ttyPath, std::string gadget)
    : path(std::move(ttyPath)), gadgetDir(std::move(gadget))
{
    if (!gadgetDir.empty())
        udcName = ReadLine(gadgetDir + "/UDC");
}

CSimTty::~CSimTty()
{
    if (fd >= 0)
        close(fd);
}

bool CSimTty::WriteUdc(const std::string& value, std::string& error)
{
    // configfs takes the attribute in one write; an empty line unbinds.
    const std::string file = gadgetDir + "/UDC";
    const int udc = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (udc < 0) {
        error = SystemError(file);
        return false;
    }
    const std::string text = value + "\n";
    const bool written = write(udc, text.data(), text.size()) == ssize_t(text.size());
    if (!written)
        error = SystemError(file);
    close(udc);
    return written;
}

bool CSimTty::OpenTerminal(std::string& error)
{
    fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || !MakeRawLine(fd)) {
        error = SystemError(path);
        if (fd >= 0)
            close(fd);
        fd = -1;
        return false;
    }
    return true;
}

bool CSimTty::Open(std::string& error)
{
    if (!gadgetDir.empty()) {
        if (udcName.empty()) {
            error = gadgetDir + " is not bound to a USB device controller";
            return false;
        }
        if (ReadLine(gadgetDir + "/UDC").empty() && !WriteUdc(udcName, error))
            return false;
    }
    present = true;
    return OpenTerminal(error);
}

void CSimTty::Close()
{
    present = false;
    std::string error;
    if (!gadgetDir.empty())
        WriteUdc("", error);
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void CSimTty::HungUp()
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

void CSimTty::Idle()
{
    std::string error;
    if (present && fd < 0)
        OpenTerminal(error);
}

uint32_t CSimTty::HostBaud() const
{
    struct termios2 t;
    if (fd < 0 || ioctl(fd, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}
