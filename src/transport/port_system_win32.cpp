#include "transport/port_system_win32.h"

#include <algorithm>

#include "transport/com_port_win32.h"

bool SamePortName(const std::string& a, const std::string& b)
{
    // Device names are ASCII (COM3); other bytes are left as they are.
    auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

uint32_t CWin32PortSystem::OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle)
{
    return OpenWin32Port(name, handle);
}

std::vector<std::string> CWin32PortSystem::EnumerateSerialPorts()
{
    std::lock_guard<std::mutex> lock(readerMutex);
    return ListSerialPorts(reader);
}

bool CWin32PortSystem::IsCurrentPortUsb(const std::string& name, const std::string& vid,
                                        const std::string& pid, std::string& hardwareId)
{
    std::lock_guard<std::mutex> lock(readerMutex);
    return FindUsbPort(reader, name, vid, pid, hardwareId);
}

bool CWin32PortSystem::PortUsbIdentity(const std::string& name, CUsbIdentity& identity)
{
    std::lock_guard<std::mutex> lock(readerMutex);
    return FindUsbIdentity(reader, name, identity);
}

CPortSystem& NativePortSystem()
{
    // One per program, as the notification windows and their classes are.
    static CWin32PortSystem system;
    return system;
}
