#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "transport/port_system_posix.h"
#include "transport/serial_discovery.h"

namespace {

bool IsCharDevice(const std::string& path, dev_t* device)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    if (device)
        *device = info.st_rdev;
    return true;
}

}  // namespace

CPosixNotifier::CPosixNotifier(const CSysfsPorts& sysfsPorts) : ports(sysfsPorts) {}

CRunHost& CPosixNotifier::Host()
{
    return PlatformHost();
}

bool CPosixNotifier::HandleGone(CPortHandle* handle)
{
    auto* port = dynamic_cast<CPosixPortHandle*>(handle);
    if (!port)
        return false;
    // The node vanishing or naming another device is how udev and the simulator show a
    // re-enumeration; the hang-up catches a device gone while its node lingers.
    dev_t now = 0;
    const bool present = IsCharDevice(port->Path(), &now);
    if (present && now == port->Device() && !port->HungUp())
        return false;
    vanishedPath = port->Path();
    vanishedDevice = port->Device();
    vanishedPathMissing = !present;
    return true;
}

void CPosixNotifier::ArmArrivalWatch()
{
    knownTtys = ports.UsbSerialTtys();
}

bool CPosixNotifier::UsbSerialArrived()
{
    // A terminal that left and came back between two pumps is new as well: forget the
    // ones that have gone.
    const std::set<std::string> present = ports.UsbSerialTtys();
    bool arrived = false;
    for (const std::string& tty : present)
        arrived = arrived || knownTtys.count(tty) == 0;
    knownTtys = present;
    if (arrived)
        return true;

    if (vanishedPath.empty())
        return false;
    dev_t now = 0;
    if (!IsCharDevice(vanishedPath, &now)) {
        vanishedPathMissing = true;
        return false;
    }
    return vanishedPathMissing || now != vanishedDevice;
}

CPosixPortSystem::CPosixPortSystem(std::string sysRoot)
    : ports(std::move(sysRoot)), notifier(ports)
{
}

uint32_t CPosixPortSystem::OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    return OpenPosixPort(name, handle);
}

std::vector<std::string> CPosixPortSystem::EnumerateSerialPorts()
{
    return ports.SerialPorts();
}

bool CPosixPortSystem::SerialPortExists(const std::string& name)
{
    return !name.empty() && IsCharDevice(PosixDevicePath(name), nullptr);
}

bool CPosixPortSystem::IsCurrentPortUsb(const std::string& name, const std::string& vid,
                                        const std::string& pid, std::string& hardwareId)
{
    if (name.empty())
        return false;
    // A link (a udev alias such as /dev/serial/by-id/...) names the terminal it points to.
    char resolved[PATH_MAX];
    const std::string devicePath = PosixDevicePath(name);
    const std::string path = realpath(devicePath.c_str(), resolved) ? resolved : devicePath;
    std::string id;
    if (!ports.UsbHardwareId(path.substr(path.find_last_of('/') + 1), id))
        return false;
    if (id.find(UsbIdPattern(vid, pid)) == std::string::npos)
        return false;
    hardwareId = id;
    return true;
}

CPortSystem& NativePortSystem()
{
    // The platform's one device namespace; the port objects themselves belong to the
    // devices that open them.
    static CPosixPortSystem system;
    return system;
}
