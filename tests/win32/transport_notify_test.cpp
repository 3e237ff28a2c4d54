// The device-change notification module on real message-only windows; the broadcasts
// the system would send are sent to the windows by the test.
#include <gtest/gtest.h>

#include "transport/com_port_win32.h"
#include "transport/port_system_win32.h"

#include <dbt.h>

#include <vector>

#include "transport/com_device.h"

namespace {

const GUID kUsbDevice = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
const GUID kHidInterface = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

struct Event {
    int event;
    CComDevice* context;
    bool operator==(const Event& other) const
    {
        return event == other.event && context == other.context;
    }
};
std::vector<Event> events;
void Record(int event, CComDevice* context) { events.push_back({event, context}); }
void Other(int, CComDevice*) {}

LRESULT SendRemoval(HWND window, HANDLE handle, WPARAM code = DBT_DEVICEREMOVECOMPLETE)
{
    DEV_BROADCAST_HANDLE broadcast{};
    broadcast.dbch_size = sizeof broadcast;
    broadcast.dbch_devicetype = DBT_DEVTYP_HANDLE;
    broadcast.dbch_handle = handle;
    return SendMessageW(window, WM_DEVICECHANGE, code, reinterpret_cast<LPARAM>(&broadcast));
}

void SendArrival(HWND window, const GUID& interfaceClass, DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE)
{
    DEV_BROADCAST_DEVICEINTERFACE_W broadcast{};
    broadcast.dbcc_size = sizeof broadcast;
    broadcast.dbcc_devicetype = deviceType;
    broadcast.dbcc_classguid = interfaceClass;
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&broadcast));
}

class Win32Notifier : public testing::Test {
protected:
    void SetUp() override
    {
        events.clear();
        watched = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        other = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override
    {
        notifier.ShutdownNotifications();
        CloseHandle(watched);
        CloseHandle(other);
    }
    CWin32Notifier notifier;
    HANDLE watched = nullptr;
    HANDLE other = nullptr;
    CComDevice* const context = reinterpret_cast<CComDevice*>(&events);
};

// A port handle over any system handle whose line calls succeed, so that a CComDevice
// opens it; the notification module needs only the handle.
class LinelessHandle : public CWin32PortHandle {
public:
    using CWin32PortHandle::CWin32PortHandle;
    uint32_t SetState(const CPortState&) override { return 0; }
    uint32_t SetupQueues(uint32_t, uint32_t) override { return 0; }
    uint32_t SetTimeouts(const CPortTimeouts&) override { return 0; }
};

class UsbPortSystem : public CPortSystem {
public:
    explicit UsbPortSystem(CWin32Notifier& n) : notifier(n) {}
    uint32_t OpenPort(const std::string&, std::unique_ptr<CPortHandle>& handle) override
    {
        handle = std::make_unique<LinelessHandle>(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        return 0;
    }
    std::vector<std::string> EnumerateSerialPorts() override { return {"COM3"}; }
    bool IsCurrentPortUsb(const std::string&, const std::string&, const std::string&,
                          std::string&) override
    {
        return true;
    }
    CDeviceNotifier& Notifier() override { return notifier; }

private:
    CWin32Notifier& notifier;
};

}  // namespace

TEST_F(Win32Notifier, HandleWatchReturnCodesAndWindows)
{
    EXPECT_EQ(notifier.RegisterHandleNotification(HANDLE(nullptr), Record, context), 1);
    EXPECT_EQ(notifier.RegisterHandleNotification(watched, nullptr, context), 2);
    ASSERT_EQ(notifier.RegisterHandleNotification(watched, Record, context), 0);
    HWND window = notifier.Window(CWin32Notifier::kHandleWindow);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"WHANDLE_CLASS", L"DevNotifWnd"), window);
    EXPECT_EQ(notifier.RegisterHandleNotification(other, Record, context), 3);
    EXPECT_EQ(notifier.ResetNotifications(), 1);

    EXPECT_EQ(notifier.UnregisterHandleNotification(Other), 1);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(notifier.UnregisterHandleNotification(Record), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(notifier.UnregisterHandleNotification(Record), 1);   // callback cleared

    // The class went with the window: a new watch starts afresh.
    EXPECT_EQ(notifier.RegisterHandleNotification(watched, Record, context), 0);
    EXPECT_EQ(notifier.ShutdownNotifications(), 0);
    EXPECT_EQ(notifier.Window(CWin32Notifier::kHandleWindow), nullptr);
    EXPECT_EQ(notifier.ResetNotifications(), 0);
}

TEST_F(Win32Notifier, RemovalOnlyOfTheWatchedHandleAndOnlyOnce)
{
    ASSERT_EQ(notifier.RegisterHandleNotification(watched, Record, context), 0);
    HWND window = notifier.Window(CWin32Notifier::kHandleWindow);
    SendRemoval(window, other);
    SendArrival(window, kUsbDevice);   // the handle watch does not take arrivals
    EXPECT_TRUE(events.empty());
    SendRemoval(window, watched);
    EXPECT_EQ(events, (std::vector<Event>{{USB_SERIAL_REMOVE, context}}));
    SendRemoval(window, watched);
    EXPECT_EQ(events.size(), 1u);
    // Other device-change codes go to the default procedure and call nothing.
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(Win32Notifier, ArrivalOnlyOfAUsbDeviceInterface)
{
    EXPECT_EQ(notifier.RegisterInterfaceNotification(nullptr, context), 2);
    ASSERT_EQ(notifier.RegisterInterfaceNotification(Record, context), 0);
    EXPECT_EQ(notifier.RegisterInterfaceNotification(Record, context), 3);
    HWND window = notifier.Window(CWin32Notifier::kInterfaceWindow);
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"WDEVINTERFACE_CLASS", L"DevNotifWnd"), window);

    SendArrival(window, kHidInterface);
    SendArrival(window, kUsbDevice, DBT_DEVTYP_HANDLE);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);   // no broadcast at all
    EXPECT_TRUE(events.empty());
    SendArrival(window, kUsbDevice);
    EXPECT_EQ(events, (std::vector<Event>{{USB_SERIAL_ARRIVAL, context}}));

    EXPECT_EQ(notifier.UnregisterInterfaceNotification(Other), 1);
    EXPECT_EQ(notifier.UnregisterInterfaceNotification(Record), 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(Win32Notifier, ReconnectWatchOfAUsbPortThroughRemovalAndArrival)
{
    UsbPortSystem system(notifier);
    CComDevice device(system, PlatformHost());
    device.Open("COM3");
    ASSERT_TRUE(device.WatchRemoval());
    auto* port = static_cast<CWin32PortHandle*>(device.Handle());
    // Armed with the removal watch: an arrival the system sends before the removal was
    // taken from the queue reaches a window.
    ASSERT_NE(notifier.Window(CWin32Notifier::kInterfaceWindow), nullptr);
    SendArrival(notifier.Window(CWin32Notifier::kInterfaceWindow), kUsbDevice);
    EXPECT_FALSE(device.HasArrived());   // before the removal: another device

    // The handler tears the handle watch down from inside its own window's procedure.
    SendRemoval(notifier.Window(CWin32Notifier::kHandleWindow), port->Native());
    EXPECT_TRUE(device.WasRemoved());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(notifier.Window(CWin32Notifier::kHandleWindow), nullptr);
    HWND arrivalWindow = notifier.Window(CWin32Notifier::kInterfaceWindow);
    ASSERT_NE(arrivalWindow, nullptr);
    EXPECT_FALSE(device.HasArrived());

    SendArrival(arrivalWindow, kUsbDevice);
    EXPECT_TRUE(device.HasArrived());
    EXPECT_EQ(notifier.Window(CWin32Notifier::kInterfaceWindow), nullptr);

    device.Open("COM3");
    EXPECT_TRUE(device.WatchRemoval());
}

// "Safely remove": Windows asks first, and a handle held open vetoes the removal. The
// watched port is let go and the request granted.
TEST_F(Win32Notifier, AQueryToRemoveTheWatchedPortClosesItAndGrants)
{
    UsbPortSystem system(notifier);
    CComDevice device(system, PlatformHost());
    device.WatchWhileOpen(true);
    device.Open("COM3");
    auto* port = static_cast<CWin32PortHandle*>(device.Handle());
    HWND window = notifier.Window(CWin32Notifier::kHandleWindow);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendRemoval(window, other, DBT_DEVICEQUERYREMOVE), TRUE);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(SendRemoval(window, port->Native(), DBT_DEVICEQUERYREMOVE), TRUE);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_TRUE(device.WasRemoved());
    EXPECT_THROW(device.ReadByte(), CComDevice::CDisconnected);
}
