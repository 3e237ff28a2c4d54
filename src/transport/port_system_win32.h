// The Win32 port system: COM ports through the serial communications API, discovery in
// the device registry, and device-change notification to message-only windows.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <memory>
#include <string>

#include "transport/device_notify.h"
#include "transport/port_system.h"
#include "transport/serial_discovery.h"

class CWin32PortHandle : public CPortHandle {
public:
    explicit CWin32PortHandle(HANDLE port) : handle(port) {}
    ~CWin32PortHandle() override;

    uint32_t SetState(const CPortState& state) override;
    uint32_t GetState(CPortState& state) override;
    uint32_t SetupQueues(uint32_t inSize, uint32_t outSize) override;
    uint32_t SetTimeouts(const CPortTimeouts& timeouts) override;
    uint32_t GetTimeouts(CPortTimeouts& timeouts) override;
    uint32_t Read(void* buffer, unsigned size, unsigned* done) override;
    uint32_t Write(const void* data, unsigned size, unsigned* done) override;
    uint32_t Purge(unsigned flags) override;
    uint32_t ClearErrors() override;

    HANDLE Native() const { return handle; }

private:
    HANDLE handle;
};

// Opens \\.\name exclusively, without overlapped I/O; returns GetLastError's code.
uint32_t OpenWin32Port(const std::string& name, std::unique_ptr<CPortHandle>& handle);

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
    void ClosePortsClass() override;

private:
    HKEY serialComm = nullptr;
    HDEVINFO deviceSet = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device{};   // the current device
};

// The notification module: one handle watch and one interface watch, each a
// message-only window registered for device-change broadcasts.
class CWin32Notifier : public CDeviceNotifier {
public:
    CWin32Notifier() = default;
    CWin32Notifier(const CWin32Notifier&) = delete;
    CWin32Notifier& operator=(const CWin32Notifier&) = delete;

    int RegisterHandleNotification(CPortHandle* handle, NotificationCallback callback,
                                   CComDevice* context) override;
    int RegisterInterfaceNotification(NotificationCallback callback,
                                      CComDevice* context) override;
    int UnregisterHandleNotification(NotificationCallback callback) override;
    int UnregisterInterfaceNotification(NotificationCallback callback) override;
    int ResetNotifications() override;
    int ShutdownNotifications() override;

    // The window kinds and their classes.
    static constexpr int kHandleWindow = 0;
    static constexpr int kInterfaceWindow = 1;
    HWND Window(int kind) const { return kind == kHandleWindow ? handleWindow : interfaceWindow; }
    // Registration of a raw handle (what the seam's port handle wraps).
    int RegisterHandleNotification(HANDLE handle, NotificationCallback callback,
                                   CComDevice* context);

private:
    int CreateNotificationWindow(HWND& slot, WNDPROC procedure, int kind);
    int DestroyNotificationWindow(HWND& slot, int kind);
    static LRESULT CALLBACK NotificationWndProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam);
    LRESULT OnDeviceChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND handleWindow = nullptr;
    NotificationCallback handleCallback = nullptr;
    CComDevice* handleContext = nullptr;
    HDEVNOTIFY handleNotification = nullptr;
    HANDLE watchedHandle = INVALID_HANDLE_VALUE;

    HWND interfaceWindow = nullptr;
    NotificationCallback interfaceCallback = nullptr;
    CComDevice* interfaceContext = nullptr;
    HDEVNOTIFY interfaceNotification = nullptr;
};

class CWin32PortSystem : public CPortSystem {
public:
    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override;
    std::vector<std::string> EnumerateSerialPorts() override;
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid,
                          const std::string& pid, std::string& hardwareId) override;
    CDeviceNotifier& Notifier() override { return notifier; }

private:
    CWin32DiscoveryReader reader;
    CWin32Notifier notifier;
};
