#include "transport/port_system_posix.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "transport/com_port_posix.h"
#include "transport/serial_discovery.h"

CPosixPortSystem::CPosixPortSystem(std::string sysRoot)
    : ports(std::move(sysRoot)), notifier(ports)
{
}

bool SamePortName(const std::string& a, const std::string& b)
{
    return a == b;
}

namespace {

// The terminal's name in sysfs: a link (a udev alias such as /dev/serial/by-id/...) names
// the terminal it points to.
std::string TtyName(const std::string& devicePath)
{
    char resolved[PATH_MAX];
    const std::string path = realpath(devicePath.c_str(), resolved) ? resolved : devicePath;
    return path.substr(path.find_last_of('/') + 1);
}

}  // namespace

uint32_t CPosixPortSystem::OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    const uint32_t error = OpenPosixPort(name, handle);
    if (error != kErrorSuccess)
        return error;
    auto& opened = static_cast<CPosixPortHandle&>(*handle);
    const std::string timerFile = ports.LatencyTimerFile(TtyName(opened.Path()));
    if (!timerFile.empty()) {
        opened.LowerLatencyTimer(timerFile);
        if (!opened.SlowLatencyTimer().empty()) {
            const std::lock_guard<std::mutex> lock(slowMutex);
            slowFiles.insert(timerFile);
        }
    }
    return kErrorSuccess;
}

std::vector<std::string> CPosixPortSystem::SlowAdapterFiles()
{
    const std::lock_guard<std::mutex> lock(slowMutex);
    return {slowFiles.begin(), slowFiles.end()};
}

std::vector<std::string> CPosixPortSystem::EnumerateSerialPorts()
{
    return ports.SerialPorts();
}

bool CPosixPortSystem::SerialPortExists(const std::string& name)
{
    return !name.empty() && IsCharacterDevice(PosixDevicePath(name), nullptr);
}

bool CPosixPortSystem::IsCurrentPortUsb(const std::string& name, const std::string& vid,
                                        const std::string& pid, std::string& hardwareId)
{
    if (name.empty())
        return false;
    std::string id;
    if (!ports.UsbHardwareId(TtyName(PosixDevicePath(name)), id))
        return false;
    if (id.find(UsbIdPattern(vid, pid)) == std::string::npos)
        return false;
    hardwareId = id;
    return true;
}

bool CPosixPortSystem::PortUsbIdentity(const std::string& name, CUsbIdentity& identity)
{
    return !name.empty() && ports.UsbIdentity(TtyName(PosixDevicePath(name)), identity);
}

CPortSystem& NativePortSystem()
{
    // The platform's one device namespace; the port objects themselves belong to the
    // devices that open them.
    static CPosixPortSystem system;
    return system;
}
