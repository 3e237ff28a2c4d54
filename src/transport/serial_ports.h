// Serial port discovery on the native system.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> EnumerateSerialPorts();
bool SerialPortExists(const std::string& name);
bool is_current_port_usb(const std::string& portName, const std::string& vid,
                         const std::string& pid, std::string& hardwareId);
