#include "transport/port_system.h"

#include <algorithm>

bool CPortSystem::SerialPortExists(const std::string& name)
{
    const std::vector<std::string> ports = EnumerateSerialPorts();
    return std::find(ports.begin(), ports.end(), name) != ports.end();
}

bool SameUsbDevice(const CUsbIdentity& a, const CUsbIdentity& b)
{
    if (!a.serial.empty() && a.serial == b.serial && a.vendorId == b.vendorId &&
        a.productId == b.productId)
        return true;
    return !a.location.empty() && a.location == b.location;
}

std::string FindPortOfUsbDevice(CPortSystem& system, const CUsbIdentity& identity)
{
    for (const std::string& port : system.EnumerateSerialPorts()) {
        CUsbIdentity present;
        if (system.PortUsbIdentity(port, present) && SameUsbDevice(identity, present))
            return port;
    }
    return std::string();
}
