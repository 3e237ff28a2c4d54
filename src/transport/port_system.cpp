#include "transport/port_system.h"

#include <algorithm>

bool IsRemovalError(uint32_t code)
{
    switch (code) {
    case kErrorAccessDenied:
    case kErrorInvalidHandle:
    case kErrorNotReady:   // STATUS_DEVICE_NOT_CONNECTED as Win32 sees it; Wine's hung-up tty
    case kErrorBadCommand:
    case kErrorGenFailure:
    case kErrorOperationAborted:
        return true;
    default:
        return IsUnambiguousRemovalError(code);
    }
}

bool IsUnambiguousRemovalError(uint32_t code)
{
    return code == kErrorDeviceNotConnected || code == kErrorDeviceRemoved;
}

bool CPortSystem::SerialPortExists(const std::string& name)
{
    const std::vector<std::string> ports = EnumerateSerialPorts();
    return std::any_of(ports.begin(), ports.end(),
                       [&name](const std::string& port) { return SamePortName(port, name); });
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
