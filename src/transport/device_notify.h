// Device-change notification: one watch for the removal of an open port, one for the
// arrival of any USB device. Events are delivered only while the thread pumps messages.
#pragma once

class CComDevice;
class CPortHandle;

enum { USB_SERIAL_ARRIVAL = 0, USB_SERIAL_REMOVE = 1 };

using NotificationCallback = void (*)(int event, CComDevice* context);

// Return codes are small integers, 0 = success, as the Win32 module defines them.
class CDeviceNotifier {
public:
    virtual ~CDeviceNotifier() = default;
    virtual int RegisterHandleNotification(CPortHandle* handle, NotificationCallback callback,
                                           CComDevice* context) = 0;
    virtual int RegisterInterfaceNotification(NotificationCallback callback,
                                              CComDevice* context) = 0;
    virtual int UnregisterHandleNotification(NotificationCallback callback) = 0;
    virtual int UnregisterInterfaceNotification(NotificationCallback callback) = 0;
    virtual int ResetNotifications() = 0;
    virtual int ShutdownNotifications() = 0;
};

// The handler a CComDevice registers: removal closes the port and waits for an arrival.
void NotificationHandler(int event, CComDevice* device);
