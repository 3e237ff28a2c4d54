// Serial port discovery as the Windows device registry allows it: the port list from
// HKLM\Hardware\DeviceMap\SerialComm and the USB identity of a COM port from the Ports
// device class. The reads go through a reader so that the rules (skipped values,
// duplicates, port-number matching) are checked without a registry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kErrorNoMoreItems = 259;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegMultiSz = 7;

class CDiscoveryReader {
public:
    virtual ~CDiscoveryReader() = default;

    // Opens the SerialComm key for reading; false when it is missing.
    virtual bool OpenSerialComm() = 0;
    // The value at index: 0 with its name, type and data (a string value's text);
    // kErrorMoreData when the name or data does not fit the buffers; any other code ends
    // the enumeration (kErrorNoMoreItems past the last value).
    virtual uint32_t EnumSerialCommValue(uint32_t index, std::string& name, uint32_t& type,
                                         std::string& data) = 0;
    virtual void CloseSerialComm() = 0;

    // The present devices of the Ports setup class; false when the set cannot be had.
    virtual bool OpenPortsClass() = 0;
    // Makes device index the current one; false past the last device.
    virtual bool EnumPortsDevice(uint32_t index) = 0;
    // The "PortName" value of the current device's hardware key; false when the key or
    // the value cannot be read.
    virtual bool ReadPortName(uint32_t& type, std::string& value) = 0;
    // The current device's hardware-id property: its registry type and first entry;
    // false when it cannot be read.
    virtual bool ReadHardwareId(uint32_t& type, std::string& firstId) = 0;
    // The current device's instance id (USB\VID_0647&PID_3339\1200341); false when it
    // cannot be read.
    virtual bool ReadInstanceId(std::string& instanceId) = 0;
    // The current device's place on the bus: the first of its location paths, or else its
    // location information; false when it has neither.
    virtual bool ReadLocation(std::string& location) = 0;
    virtual void ClosePortsClass() = 0;
};

struct CUsbIdentity;

// Upper case letter by letter; hardware ids and port names are ASCII.
std::string AsciiUpper(std::string text);
// USB\VID_<vid>&PID_<pid> in upper case, the part of a hardware id that names a USB device.
std::string UsbIdPattern(const std::string& vid, const std::string& pid);

// Port names in the registry's order, each once.
std::vector<std::string> ListSerialPorts(CDiscoveryReader& reader);

// Whether portName (COMn) belongs to a present Ports-class device whose hardware id
// contains USB\VID_<vid>&PID_<pid> (any case); hardwareId receives the upper-cased id.
bool FindUsbPort(CDiscoveryReader& reader, const std::string& portName, const std::string& vid,
                 const std::string& pid, std::string& hardwareId);

// The USB identity of portName (COMn): vendor and product id from the hardware id
// (USB\VID_xxxx&PID_xxxx, or a driver's own bus such as FTDIBUS\COMPORT&VID_xxxx&PID_xxxx),
// the serial string from a USB instance id's last part (unless it is one the system made
// up, which holds '&'), and the location; false when the port is not a USB device's.
bool FindUsbIdentity(CDiscoveryReader& reader, const std::string& portName, CUsbIdentity& identity);
