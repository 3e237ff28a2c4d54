#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "transport/port_system.h"
#include "transport/serial_discovery.h"
#include "transport/serial_ports_posix.h"

namespace {

std::string ReadAttribute(const std::string& path)
{
    std::ifstream in(path);
    std::string value;
    std::getline(in, value);
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
        value.pop_back();
    return value;
}

// A number of milliseconds as a latency timer reads; -1 when the text is none.
long TimerValue(const std::string& text)
{
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return -1;
    return std::stol(text);
}

// Writes an attribute in one write, as sysfs wants it; false when refused.
bool WriteAttribute(const std::string& path, const std::string& value)
{
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
    return close(fd) == 0 && written;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::vector<std::string> DirectoryNames(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

// ttyS2 before ttyS10: runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit((unsigned char)a[i]) && std::isdigit((unsigned char)b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit((unsigned char)a[ei])) ++ei;
            while (ej < b.size() && std::isdigit((unsigned char)b[ej])) ++ej;
            const std::string da = a.substr(i, ei - i), db = b.substr(j, ej - j);
            const unsigned long long va = std::strtoull(da.c_str(), nullptr, 10);
            const unsigned long long vb = std::strtoull(db.c_str(), nullptr, 10);
            if (va != vb)
                return va < vb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

CSysfsPorts::CSysfsPorts(std::string sysRoot) : ttyClass(std::move(sysRoot) + "/class/tty/") {}

std::vector<std::string> CSysfsPorts::SerialPorts() const
{
    std::vector<std::string> names;
    for (const std::string& name : DirectoryNames(ttyClass)) {
        const std::string dir = ttyClass + name;
        // Virtual terminals, consoles and pseudo-terminals have no device behind them.
        if (!Exists(dir + "/device"))
            continue;
        // The 8250 driver registers a fixed number of ports whether or not a UART answers;
        // the ones without a UART report type 0 (unknown).
        const std::string type = ReadAttribute(dir + "/type");
        if (!type.empty() && std::strtoul(type.c_str(), nullptr, 10) == 0)
            continue;
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    std::vector<std::string> paths;
    for (const std::string& name : names)
        paths.push_back("/dev/" + name);
    return paths;
}

// The USB device (the directory with idVendor and idProduct) that the terminal's device
// belongs to, walking up from the interface or the usb-serial port; empty if none.
std::string CSysfsPorts::UsbDeviceDir(const std::string& ttyName) const
{
    if (ttyName.empty() || ttyName.find('/') != std::string::npos)
        return std::string();
    std::string dir = RealPath(ttyClass + ttyName + "/device");
    while (!dir.empty() && dir != "/") {
        if (Exists(dir + "/idVendor") && Exists(dir + "/idProduct"))
            return dir;
        dir = dir.substr(0, dir.find_last_of('/'));
    }
    return std::string();
}

std::set<std::string> CSysfsPorts::UsbSerialTtys() const
{
    std::set<std::string> ttys;
    for (const std::string& name : DirectoryNames(ttyClass))
        if (!UsbDeviceDir(name).empty())
            ttys.insert(name);
    return ttys;
}

bool CSysfsPorts::UsbHardwareId(const std::string& ttyName, std::string& hardwareId) const
{
    const std::string dir = UsbDeviceDir(ttyName);
    if (dir.empty())
        return false;
    std::string id =
        UsbIdPattern(ReadAttribute(dir + "/idVendor"), ReadAttribute(dir + "/idProduct"));
    const std::string revision = ReadAttribute(dir + "/bcdDevice");
    if (!revision.empty())
        id += AsciiUpper("&REV_" + revision);
    hardwareId = id;
    return true;
}

bool CSysfsPorts::UsbIdentity(const std::string& ttyName, CUsbIdentity& identity) const
{
    const std::string dir = UsbDeviceDir(ttyName);
    if (dir.empty())
        return false;
    identity.vendorId = AsciiUpper(ReadAttribute(dir + "/idVendor"));
    identity.productId = AsciiUpper(ReadAttribute(dir + "/idProduct"));
    identity.serial = ReadAttribute(dir + "/serial");
    identity.location = dir.substr(dir.find_last_of('/') + 1);
    return true;
}

std::string CSysfsPorts::LatencyTimerFile(const std::string& ttyName) const
{
    const std::string file = ttyClass + ttyName + "/device/latency_timer";
    return Exists(file) ? file : std::string();
}

CLatencyTimer::CLatencyTimer(std::string timerFile) : file(std::move(timerFile))
{
    previous = ReadAttribute(file);
    if (TimerValue(previous) <= 1)
        return;
    changed = WriteAttribute(file, "1");
    slow = TimerValue(ReadAttribute(file)) > 1;
}

CLatencyTimer::~CLatencyTimer()
{
    if (changed)
        WriteAttribute(file, previous);
}
