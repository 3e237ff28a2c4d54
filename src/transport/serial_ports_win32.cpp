#include "transport/serial_ports_win32.h"

#include <vector>

#include "base/utf.h"
#include "transport/port_system.h"

namespace {

// {4D36E978-E325-11CE-BFC1-08002BE10318}: the Ports (COM & LPT) setup class.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Value names and port names are short; a value that does not fit is skipped, as the
// registry reports it with ERROR_MORE_DATA.
constexpr DWORD kNameChars = 256;
constexpr DWORD kDataChars = 256;
constexpr DWORD kInstanceIdChars = 200;   // MAX_DEVICE_ID_LEN

// A registry string as stored: its size in bytes, possibly with or without terminator.
std::string RegistryText(const wchar_t* text, DWORD bytes)
{
    std::wstring wide(text, bytes / sizeof(wchar_t));
    const size_t end = wide.find(L'\0');
    if (end != std::wstring::npos)
        wide.resize(end);
    return Narrow(wide);
}

}  // namespace

CWin32DiscoveryReader::~CWin32DiscoveryReader()
{
    CloseSerialComm();
    ClosePortsClass();
}

bool CWin32DiscoveryReader::OpenSerialComm()
{
    CloseSerialComm();
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Hardware\\DeviceMap\\SerialComm", 0, KEY_READ,
                         &serialComm) == ERROR_SUCCESS;
}

uint32_t CWin32DiscoveryReader::EnumSerialCommValue(uint32_t index, std::string& name,
                                                    uint32_t& type, std::string& data)
{
    wchar_t nameBuffer[kNameChars];
    wchar_t dataBuffer[kDataChars];
    DWORD nameChars = kNameChars;
    DWORD dataBytes = sizeof dataBuffer;
    DWORD valueType = 0;
    const LONG result = RegEnumValueW(serialComm, index, nameBuffer, &nameChars, nullptr,
                                      &valueType, reinterpret_cast<BYTE*>(dataBuffer), &dataBytes);
    if (result != ERROR_SUCCESS)
        return static_cast<uint32_t>(result);
    name = Narrow(std::wstring(nameBuffer, nameChars));
    type = valueType;
    data = valueType == REG_SZ ? RegistryText(dataBuffer, dataBytes) : std::string();
    return kErrorSuccess;
}

void CWin32DiscoveryReader::CloseSerialComm()
{
    if (serialComm)
        RegCloseKey(serialComm);
    serialComm = nullptr;
}

bool CWin32DiscoveryReader::OpenPortsClass()
{
    ClosePortsClass();
    deviceSet = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    return deviceSet != INVALID_HANDLE_VALUE;
}

bool CWin32DiscoveryReader::EnumPortsDevice(uint32_t index)
{
    device = SP_DEVINFO_DATA{};
    device.cbSize = sizeof device;
    return SetupDiEnumDeviceInfo(deviceSet, index, &device) != FALSE;
}

bool CWin32DiscoveryReader::ReadPortName(uint32_t& type, std::string& value)
{
    HKEY key = SetupDiOpenDevRegKey(deviceSet, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV,
                                    KEY_QUERY_VALUE);
    if (key == INVALID_HANDLE_VALUE)
        return false;
    wchar_t buffer[kDataChars];
    DWORD bytes = sizeof buffer;
    DWORD valueType = 0;
    const LONG result = RegQueryValueExW(key, L"PortName", nullptr, &valueType,
                                         reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return false;
    type = valueType;
    value = RegistryText(buffer, bytes);
    return true;
}

bool CWin32DiscoveryReader::ReadProperty(DWORD property, uint32_t& type, std::string& first)
{
    DWORD valueType = 0;
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(deviceSet, &device, property, &valueType, nullptr, 0, &bytes);
    if (bytes == 0)
        return false;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(deviceSet, &device, property, &valueType,
                                           reinterpret_cast<BYTE*>(buffer.data()), bytes, nullptr))
        return false;
    type = valueType;
    first = RegistryText(buffer.data(), bytes);   // a list's first entry
    return true;
}

bool CWin32DiscoveryReader::ReadHardwareId(uint32_t& type, std::string& firstId)
{
    return ReadProperty(SPDRP_HARDWAREID, type, firstId);
}

bool CWin32DiscoveryReader::ReadInstanceId(std::string& instanceId)
{
    wchar_t buffer[kInstanceIdChars];
    if (!SetupDiGetDeviceInstanceIdW(deviceSet, &device, buffer, kInstanceIdChars, nullptr))
        return false;
    instanceId = Narrow(buffer);
    return true;
}

bool CWin32DiscoveryReader::ReadLocation(std::string& location)
{
    // The location paths name the hub ports all the way from the root and stay when the
    // device comes back; older systems have the location information only.
    uint32_t type = 0;
    if (ReadProperty(SPDRP_LOCATION_PATHS, type, location) && type == REG_MULTI_SZ &&
        !location.empty())
        return true;
    return ReadProperty(SPDRP_LOCATION_INFORMATION, type, location) && type == REG_SZ &&
           !location.empty();
}

void CWin32DiscoveryReader::ClosePortsClass()
{
    if (deviceSet != INVALID_HANDLE_VALUE)
        SetupDiDestroyDeviceInfoList(deviceSet);
    deviceSet = INVALID_HANDLE_VALUE;
}
