// The Win32 port system: COM ports through the serial communications API, discovery in
// the device registry, and device-change notification to message-only windows.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/device_notify_win32.h"
#include "transport/port_system.h"
#include "transport/serial_ports_win32.h"

class CWin32PortSystem : public CPortSystem {
public:
    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    bool PortUsbIdentity(const std::string& name, CUsbIdentity& identity) override;
    CDeviceNotifier& Notifier() override { return notifier; }

private:
    // The reader holds the registry key and device set of one listing at a time, and the
    // ports of a batch run list from threads of their own.
    std::mutex readerMutex;
    CWin32DiscoveryReader reader;
    CWin32Notifier notifier;
};
