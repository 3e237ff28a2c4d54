// Serial port discovery on Windows: the registry's SERIALCOMM list and the Ports device
// class of SetupDi, read for the portable discovery logic.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>

#include "transport/serial_discovery.h"

// The discovery reads through the registry and SetupDi.
class CWin32DiscoveryReader : public CDiscoveryReader {
public:
    ~CWin32DiscoveryReader() override;
    bool OpenSerialComm() override;
    uint32_t EnumSerialCommValue(uint32_t index, std::string& name, uint32_t& type,
                                 std::string& data) override;
    void CloseSerialComm() override;
    bool OpenPortsClass() override;
    bool EnumPortsDevice(uint32_t index) override;
    bool ReadPortName(uint32_t& type, std::string& value) override;
    bool ReadHardwareId(uint32_t& type, std::string& firstId) override;
    bool ReadInstanceId(std::string& instanceId) override;
    bool ReadLocation(std::string& location) override;
    void ClosePortsClass() override;

private:
    // A registry property of the current device: its type and (of a list) first entry.
    bool ReadProperty(DWORD property, uint32_t& type, std::string& first);

    HKEY serialComm = nullptr;
    HDEVINFO deviceSet = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device{};   // the current device
};
