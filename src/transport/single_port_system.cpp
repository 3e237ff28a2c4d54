#include "transport/single_port_system.h"

CSinglePortSystem::CSinglePortSystem(CPortSystem& shared, std::string portName, CRunHost& host)
    : shared(shared), portName(std::move(portName)), host(host), notifier(*this)
{
}

uint32_t CSinglePortSystem::OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    return shared.OpenPort(name, handle);
}

std::vector<std::string> CSinglePortSystem::EnumerateSerialPorts()
{
    return shared.EnumerateSerialPorts();
}

bool CSinglePortSystem::SerialPortExists(const std::string& name)
{
    return shared.SerialPortExists(name);
}

bool CSinglePortSystem::IsCurrentPortUsb(const std::string& name, const std::string& vid,
                                         const std::string& pid, std::string& hardwareId)
{
    return shared.IsCurrentPortUsb(name, vid, pid, hardwareId);
}

bool CSinglePortSystem::CPortWatch::HandleGone(CPortHandle* handle)
{
    if (!system.shared.SerialPortExists(system.portName))
        return true;
    return handle != nullptr && handle->ClearErrors() != kErrorSuccess;
}

bool CSinglePortSystem::CPortWatch::UsbSerialArrived()
{
    return system.shared.SerialPortExists(system.portName);
}
