// Device-change notification for systems that have no device broadcasts to a window:
// the watches are checked each time the thread pumps, and the callbacks run from
// Dispatch() only, so events arrive exactly where the Win32 module delivers them
// (inside the pump) and with the same return codes and state machine.
//
// A subclass answers two questions about the world: whether the watched port handle is
// gone, and whether a USB serial device has arrived since the arrival watch was armed.
#pragma once

#include "base/host.h"
#include "transport/device_notify.h"

class CPolledNotifier : public CDeviceNotifier, public CEventSource {
public:
    ~CPolledNotifier() override;

    // Return codes: 0 success; 1 null handle or callback not the registered one;
    // 2 no callback, or nothing registered; 3 the watch already exists.
    int RegisterHandleNotification(CPortHandle* handle, NotificationCallback callback,
                                   CComDevice* context) override;
    int RegisterInterfaceNotification(NotificationCallback callback,
                                      CComDevice* context) override;
    int UnregisterHandleNotification(NotificationCallback callback) override;
    int UnregisterInterfaceNotification(NotificationCallback callback) override;
    int ResetNotifications() override;
    int ShutdownNotifications() override;

    // Delivers a removal of the watched handle, then an arrival, to their callbacks.
    void Dispatch() override;

    bool WatchingHandle() const { return handleWatch.armed; }
    bool WatchingInterfaces() const { return interfaceWatch.armed; }

protected:
    // The host whose pump delivers the events; the notifier is one of its event sources
    // while a watch is armed.
    virtual CRunHost& Host() = 0;
    // Whether the port behind handle has gone away (the device vanished).
    virtual bool HandleGone(CPortHandle* handle) = 0;
    // Called when the arrival watch is armed: remember what is present now.
    virtual void ArmArrivalWatch() = 0;
    // Whether a USB serial device has appeared since ArmArrivalWatch.
    virtual bool UsbSerialArrived() = 0;

private:
    struct Watch {
        bool armed = false;
        NotificationCallback callback = nullptr;
        CComDevice* context = nullptr;
    };
    void UpdateRegistration();

    Watch handleWatch;
    Watch interfaceWatch;
    CPortHandle* watchedHandle = nullptr;
    bool registered = false;
    CRunHost* registeredHost = nullptr;
};
