// Device-change notification on Windows: message-only windows registered for the
// system's device broadcasts.
#pragma once

#include <windows.h>
#include <dbt.h>

#include "transport/device_notify.h"

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
    // Reports the removal of the watched handle, once, when the broadcast names it.
    void RemoveWatchedHandle(const DEV_BROADCAST_HDR* header);

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
