// Serial port discovery on Linux: the terminals that sysfs lists with a device behind
// them, and the USB identity of those that belong to a USB device.
#pragma once

#include <set>
#include <string>
#include <vector>

// Serial ports as sysfs describes them, under an injectable root.
class CSysfsPorts {
public:
    explicit CSysfsPorts(std::string sysRoot = "/sys");
    // Device paths (/dev/NAME) of the terminals that have a real device behind them, in
    // natural order (ttyS2 before ttyS10).
    std::vector<std::string> SerialPorts() const;
    // Names of the terminals that belong to a USB device.
    std::set<std::string> UsbSerialTtys() const;
    // The hardware id of the USB device a terminal belongs to, in the form
    // USB\VID_xxxx&PID_xxxx&REV_xxxx (upper case); false when it is not a USB terminal.
    bool UsbHardwareId(const std::string& ttyName, std::string& hardwareId) const;

private:
    std::string UsbDeviceDir(const std::string& ttyName) const;
    std::string ttyClass;
};
