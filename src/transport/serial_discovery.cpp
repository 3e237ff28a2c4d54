#include "transport/serial_discovery.h"

#include <algorithm>
#include <cctype>

#include "transport/port_system.h"

namespace {

constexpr size_t kComPrefixLength = 3;   // "COM"

bool AllDigits(const std::string& text, size_t from)
{
    return text.size() > from && std::all_of(text.begin() + from, text.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c)) != 0;
           });
}

// Port numbers compare by value (COM03 is COM3) without any limit on their size: the
// digits without their leading zeros.
std::string PortNumber(const std::string& name)
{
    const size_t first = name.find_first_not_of('0', kComPrefixLength);
    return first == std::string::npos ? "0" : name.substr(first);
}

// A device's PortName counts when it is COM (any case) followed by digits only.
bool IsComName(const std::string& name)
{
    return name.size() > kComPrefixLength && AsciiUpper(name.substr(0, kComPrefixLength)) == "COM" &&
           AllDigits(name, kComPrefixLength);
}

// The four hex digits after a tag such as VID_ in an upper-cased hardware id; empty when
// the tag is missing or not followed by four hex digits.
std::string IdField(const std::string& id, const std::string& tag)
{
    const size_t at = id.find(tag);
    if (at == std::string::npos || id.size() < at + tag.size() + 4)
        return std::string();
    const std::string digits = id.substr(at + tag.size(), 4);
    const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
    return hex ? digits : std::string();
}

// Calls match with the upper-cased hardware id of each present Ports-class device whose
// PortName is portName's number (COMn) and whose hardware id can be read, until match
// returns true; false when none did. Only the digits after the first three characters
// are read: a name that has none, or anything else after them, names no numbered port.
template <class Match>
bool MatchPortDevice(CDiscoveryReader& reader, const std::string& portName, Match match)
{
    if (!AllDigits(portName, kComPrefixLength))
        return false;
    const std::string wanted = PortNumber(portName);
    if (!reader.OpenPortsClass())
        return false;
    bool found = false;
    for (uint32_t index = 0; !found && reader.EnumPortsDevice(index); ++index) {
        uint32_t type = 0;
        std::string name;
        if (!reader.ReadPortName(type, name) || (type != kRegSz && type != kRegExpandSz) ||
            !IsComName(name) || PortNumber(name) != wanted)
            continue;
        std::string id;
        if (!reader.ReadHardwareId(type, id) || type != kRegMultiSz)
            continue;
        found = match(AsciiUpper(id));
    }
    reader.ClosePortsClass();
    return found;
}

}  // namespace

std::string AsciiUpper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string UsbIdPattern(const std::string& vid, const std::string& pid)
{
    return AsciiUpper("USB\\VID_" + vid + "&PID_" + pid);
}

std::vector<std::string> ListSerialPorts(CDiscoveryReader& reader)
{
    std::vector<std::string> ports;
    if (!reader.OpenSerialComm())
        return ports;
    for (uint32_t index = 0;; ++index) {
        std::string name, data;
        uint32_t type = 0;
        const uint32_t result = reader.EnumSerialCommValue(index, name, type, data);
        if (result == kErrorMoreData)
            continue;
        if (result != 0)
            break;
        if (type == kRegSz && std::find(ports.begin(), ports.end(), data) == ports.end())
            ports.push_back(data);
    }
    reader.CloseSerialComm();
    return ports;
}

bool FindUsbPort(CDiscoveryReader& reader, const std::string& portName, const std::string& vid,
                 const std::string& pid, std::string& hardwareId)
{
    const std::string pattern = UsbIdPattern(vid, pid);
    return MatchPortDevice(reader, portName, [&](const std::string& id) {
        if (id.find(pattern) == std::string::npos)
            return false;
        hardwareId = id;
        return true;
    });
}

bool FindUsbIdentity(CDiscoveryReader& reader, const std::string& portName, CUsbIdentity& identity)
{
    return MatchPortDevice(reader, portName, [&](const std::string& id) {
        CUsbIdentity present;
        present.vendorId = IdField(id, "VID_");
        present.productId = IdField(id, "PID_");
        if (present.vendorId.empty() || present.productId.empty())
            return false;
        std::string instance;
        if (id.rfind("USB\\", 0) == 0 && reader.ReadInstanceId(instance)) {
            const size_t slash = instance.find_last_of('\\');
            const std::string last = slash == std::string::npos ? "" : instance.substr(slash + 1);
            if (last.find('&') == std::string::npos)
                present.serial = last;
        }
        if (!reader.ReadLocation(present.location))
            present.location.clear();
        identity = present;
        return true;
    });
}
