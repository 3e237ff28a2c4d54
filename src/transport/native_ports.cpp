// Everything bound to the native port system, kept apart so that code running on another
// system (the simulator) links without the platform backend.
#include "transport/com_device.h"
#include "transport/serial_ports.h"

CComDevice::CComDevice() : CComDevice(NativePortSystem()) {}

std::vector<std::string> EnumerateSerialPorts()
{
    return NativePortSystem().EnumerateSerialPorts();
}

bool SerialPortExists(const std::string& name)
{
    return NativePortSystem().SerialPortExists(name);
}

bool is_current_port_usb(const std::string& portName, const std::string& vid,
                         const std::string& pid, std::string& hardwareId)
{
    return NativePortSystem().IsCurrentPortUsb(portName, vid, pid, hardwareId);
}
