// The POSIX port system: a port is a terminal device named by its path (a bare name such
// as ttyUSB0 means /dev/ttyUSB0), discovered in sysfs, watched by polling.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "transport/device_notify_posix.h"
#include "transport/port_system.h"
#include "transport/serial_ports_posix.h"

class CPosixPortSystem : public CPortSystem {
public:
    explicit CPosixPortSystem(std::string sysRoot = "/sys");

    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    // A port exists when its device node does: the listed ports, and explicit paths such
    // as a pseudo-terminal or a link to one.
    bool SerialPortExists(const std::string& name) override;
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    bool PortUsbIdentity(const std::string& name, CUsbIdentity& identity) override;
    CDeviceNotifier& Notifier() override { return notifier; }
    std::vector<std::string> SlowAdapterFiles() override;

private:
    CSysfsPorts ports;
    std::mutex slowMutex;   // ports are opened from several threads
    std::set<std::string> slowFiles;
    CPosixNotifier notifier;
};
