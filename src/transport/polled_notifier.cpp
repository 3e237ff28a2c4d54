#include "transport/polled_notifier.h"

CPolledNotifier::~CPolledNotifier()
{
    // A host outliving the notifier must not keep a dangling event source.
    if (registered)
        registeredHost->RemoveEventSource(this);
}

void CPolledNotifier::UpdateRegistration()
{
    const bool wanted = handleWatch.armed || interfaceWatch.armed;
    if (wanted && !registered) {
        registeredHost = &Host();
        registeredHost->AddEventSource(this);
        registered = true;
    } else if (!wanted && registered) {
        registeredHost->RemoveEventSource(this);
        registeredHost = nullptr;
        registered = false;
    }
}

int CPolledNotifier::RegisterHandleNotification(CPortHandle* handle,
                                                NotificationCallback callback,
                                                CComDevice* context)
{
    if (!handle)
        return 1;
    if (!callback)
        return 2;
    if (handleWatch.armed)
        return 3;
    watchedHandle = handle;
    handleWatch = Watch{true, callback, context};
    UpdateRegistration();
    return 0;
}

int CPolledNotifier::RegisterInterfaceNotification(NotificationCallback callback,
                                                   CComDevice* context)
{
    if (!callback)
        return 2;
    if (interfaceWatch.armed)
        return 3;
    interfaceWatch = Watch{true, callback, context};
    ArmArrivalWatch();
    UpdateRegistration();
    return 0;
}

int CPolledNotifier::UnregisterHandleNotification(NotificationCallback callback)
{
    if (callback != handleWatch.callback)
        return 1;
    watchedHandle = nullptr;
    const bool wasArmed = handleWatch.armed;
    handleWatch = Watch{};
    if (!wasArmed)
        return 2;
    UpdateRegistration();
    return 0;
}

int CPolledNotifier::UnregisterInterfaceNotification(NotificationCallback callback)
{
    if (callback != interfaceWatch.callback)
        return 1;
    const bool wasArmed = interfaceWatch.armed;
    interfaceWatch = Watch{};
    if (!wasArmed)
        return 2;
    UpdateRegistration();
    return 0;
}

int CPolledNotifier::ResetNotifications()
{
    if (handleWatch.armed || interfaceWatch.armed)
        return 1;
    handleWatch = Watch{};
    interfaceWatch = Watch{};
    return 0;
}

int CPolledNotifier::ShutdownNotifications()
{
    // Like destroying the notification windows: the watches stop, the stored callbacks
    // and contexts stay until the next reset.
    handleWatch.armed = false;
    interfaceWatch.armed = false;
    watchedHandle = nullptr;
    UpdateRegistration();
    return 0;
}

void CPolledNotifier::Dispatch()
{
    if (handleWatch.armed && handleWatch.callback && watchedHandle &&
        HandleGone(watchedHandle)) {
        handleWatch.callback(USB_SERIAL_REMOVE, handleWatch.context);
        watchedHandle = nullptr;
    }
    if (interfaceWatch.armed && interfaceWatch.callback && UsbSerialArrived())
        interfaceWatch.callback(USB_SERIAL_ARRIVAL, interfaceWatch.context);
}
