#include "transport/device_notify_posix.h"


#include "transport/com_port_posix.h"

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
    const bool present = IsCharacterDevice(port->Path(), &now);
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
    if (!IsCharacterDevice(vanishedPath, &now)) {
        vanishedPathMissing = true;
        return false;
    }
    return vanishedPathMissing || now != vanishedDevice;
}
