#include "transport/port_system.h"

#include <algorithm>

bool CPortSystem::SerialPortExists(const std::string& name)
{
    const std::vector<std::string> ports = EnumerateSerialPorts();
    return std::find(ports.begin(), ports.end(), name) != ports.end();
}
