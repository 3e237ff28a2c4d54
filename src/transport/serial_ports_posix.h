// Serial port discovery on Linux: the terminals that sysfs lists with a device behind
// them, and the USB identity of those that belong to a USB device.
#pragma once

#include <set>
#include <string>
#include <vector>

struct CUsbIdentity;

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
    // The vendor, product, serial string and bus place (the USB device's own name in
    // sysfs, such as 1-1.2) of a USB terminal; false when it is not one.
    bool UsbIdentity(const std::string& ttyName, CUsbIdentity& identity) const;

    // The latency timer attribute of a USB-serial adapter's terminal (in its device's
    // folder); empty when the terminal's driver has none.
    std::string LatencyTimerFile(const std::string& ttyName) const;

private:
    std::string UsbDeviceDir(const std::string& ttyName) const;
    std::string ttyClass;
};

// A USB-serial adapter holds short replies back for its latency timer (16 ms by default
// on common chips). While a port is open this keeps the timer at 1 ms: when the file
// reads more, 1 is written and the file read again; the previous value is written back
// at the end if it was changed.
class CLatencyTimer {
public:
    explicit CLatencyTimer(std::string file);
    ~CLatencyTimer();
    CLatencyTimer(const CLatencyTimer&) = delete;
    CLatencyTimer& operator=(const CLatencyTimer&) = delete;

    // The timer still reads above 1 ms (the file is not writable, or the driver kept
    // its value).
    bool StaysSlow() const { return slow; }
    const std::string& File() const { return file; }

private:
    std::string file;
    std::string previous;   // the value as read, written back when changed
    bool changed = false;
    bool slow = false;
};
