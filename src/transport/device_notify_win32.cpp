#include "transport/device_notify_win32.h"

#include <dbt.h>

#include "transport/com_port_win32.h"

namespace {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the interface class of every USB device.
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

constexpr DWORD kNotifyAllInterfaceClasses = 4;   // DEVICE_NOTIFY_ALL_INTERFACE_CLASSES
const HBRUSH kBackgroundBrush = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(5));
const wchar_t kWindowName[] = L"DevNotifWnd";

const wchar_t* ClassName(int kind)
{
    switch (kind) {
    case CWin32Notifier::kHandleWindow: return L"WHANDLE_CLASS";
    case CWin32Notifier::kInterfaceWindow: return L"WDEVINTERFACE_CLASS";
    default: return nullptr;
    }
}

}  // namespace

int CWin32Notifier::CreateNotificationWindow(HWND& slot, WNDPROC procedure, int kind)
{
    const wchar_t* className = ClassName(kind);
    if (!procedure || slot || !className)
        return 1;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = kBackgroundBrush;
    windowClass.lpszClassName = className;
    if (!RegisterClassExW(&windowClass))
        return 2;
    slot = CreateWindowExW(0, className, kWindowName, WS_MINIMIZE, 0, 0, CW_USEDEFAULT, 0,
                           HWND_MESSAGE, nullptr, instance, nullptr);
    if (!slot) {
        // Without this the class stays registered and every later attempt fails with 2.
        UnregisterClassW(className, instance);
        return 3;
    }
    SetWindowLongPtrW(slot, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return 0;
}

int CWin32Notifier::DestroyNotificationWindow(HWND& slot, int kind)
{
    const wchar_t* className = ClassName(kind);
    if (!slot || !className || !DestroyWindow(slot))
        return 1;
    slot = nullptr;
    return UnregisterClassW(className, GetModuleHandleW(nullptr)) ? 0 : 3;
}

int CWin32Notifier::RegisterHandleNotification(CPortHandle* handle, NotificationCallback callback,
                                               CComDevice* context)
{
    auto* port = dynamic_cast<CWin32PortHandle*>(handle);
    return RegisterHandleNotification(port ? port->Native() : nullptr, callback, context);
}

int CWin32Notifier::RegisterHandleNotification(HANDLE handle, NotificationCallback callback,
                                               CComDevice* context)
{
    if (!handle)
        return 1;
    if (!callback)
        return 2;
    if (handleWindow)
        return 3;
    watchedHandle = handle;
    handleCallback = callback;
    handleContext = context;
    if (int created = CreateNotificationWindow(handleWindow, NotificationWndProc, kHandleWindow))
        return created;

    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = handle;
    handleNotification = RegisterDeviceNotificationW(handleWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!handleNotification) {
        const int destroyed = DestroyNotificationWindow(handleWindow, kHandleWindow);
        return destroyed ? destroyed : 4;
    }
    return 0;
}

int CWin32Notifier::RegisterInterfaceNotification(NotificationCallback callback,
                                                  CComDevice* context)
{
    if (!callback)
        return 2;
    if (interfaceWindow)
        return 3;
    interfaceCallback = callback;
    interfaceContext = context;
    if (int created = CreateNotificationWindow(interfaceWindow, NotificationWndProc, kInterfaceWindow))
        return created;

    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kUsbDeviceInterface;
    // Every interface class is delivered; the window procedure picks out USB devices.
    interfaceNotification = RegisterDeviceNotificationW(
        interfaceWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | kNotifyAllInterfaceClasses);
    if (!interfaceNotification) {
        const int destroyed = DestroyNotificationWindow(interfaceWindow, kInterfaceWindow);
        return destroyed ? destroyed : 4;
    }
    return 0;
}

int CWin32Notifier::UnregisterHandleNotification(NotificationCallback callback)
{
    if (callback != handleCallback)
        return 1;
    watchedHandle = INVALID_HANDLE_VALUE;
    handleCallback = nullptr;
    handleContext = nullptr;
    if (!handleNotification || !UnregisterDeviceNotification(handleNotification))
        return 2;
    handleNotification = nullptr;
    return DestroyNotificationWindow(handleWindow, kHandleWindow);
}

int CWin32Notifier::UnregisterInterfaceNotification(NotificationCallback callback)
{
    if (callback != interfaceCallback)
        return 1;
    interfaceCallback = nullptr;
    interfaceContext = nullptr;
    if (!interfaceNotification || !UnregisterDeviceNotification(interfaceNotification))
        return 2;
    interfaceNotification = nullptr;
    return DestroyNotificationWindow(interfaceWindow, kInterfaceWindow);
}

int CWin32Notifier::ResetNotifications()
{
    if (handleWindow || interfaceWindow)
        return 1;
    handleCallback = interfaceCallback = nullptr;
    handleContext = interfaceContext = nullptr;
    return 0;
}

int CWin32Notifier::ShutdownNotifications()
{
    int first = 0;
    if (handleWindow)
        first = DestroyNotificationWindow(handleWindow, kHandleWindow);
    if (interfaceWindow) {
        const int result = DestroyNotificationWindow(interfaceWindow, kInterfaceWindow);
        if (first == 0)
            first = result;
    }
    return first;
}

LRESULT CALLBACK CWin32Notifier::NotificationWndProc(HWND window, UINT message, WPARAM wParam,
                                                     LPARAM lParam)
{
    auto* notifier = reinterpret_cast<CWin32Notifier*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!notifier || (window != notifier->handleWindow && window != notifier->interfaceWindow))
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_CREATE)
        return 0;
    if (message == WM_NCCREATE)
        return 1;
    if (message != WM_DEVICECHANGE) {
        DefWindowProcW(window, message, wParam, lParam);
        return 0;
    }
    return notifier->OnDeviceChange(window, message, wParam, lParam);
}

void CWin32Notifier::RemoveWatchedHandle(const DEV_BROADCAST_HDR* header)
{
    if (handleNotification && handleCallback && header &&
        header->dbch_devicetype == DBT_DEVTYP_HANDLE && watchedHandle != INVALID_HANDLE_VALUE &&
        reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header)->dbch_handle == watchedHandle) {
        handleCallback(USB_SERIAL_REMOVE, handleContext);
        watchedHandle = INVALID_HANDLE_VALUE;
    }
}

LRESULT CWin32Notifier::OnDeviceChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    switch (wParam) {
    case DBT_DEVICEARRIVAL:
        if (interfaceNotification && interfaceCallback && header &&
            header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
            const auto* arrival = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
            if (IsEqualGUID(arrival->dbcc_classguid, kUsbDeviceInterface))
                interfaceCallback(USB_SERIAL_ARRIVAL, interfaceContext);
        }
        break;
    case DBT_DEVICEQUERYREMOVE:
        // Windows asks before it removes a device ("safely remove"), and an open handle
        // vetoes the removal: the port is let go as on a removal, and the request granted.
        RemoveWatchedHandle(header);
        return TRUE;
    case DBT_DEVICEREMOVECOMPLETE:
        RemoveWatchedHandle(header);
        break;
    default:
        DefWindowProcW(window, message, wParam, lParam);
        break;
    }
    return 0;
}
