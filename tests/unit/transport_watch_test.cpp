#include <gtest/gtest.h>

#include "transport/com_device.h"
#include "support/fake_port_system.h"

namespace {

int calls = 0;
void CountingCallback(int, CComDevice*) { ++calls; }
void OtherCallback(int, CComDevice*) {}

struct UsbPort {
    FakePortSystem system;
    CComDevice device{system, system.host};
    UsbPort()
    {
        system.usbPorts = {"COM3"};
        device.Open("COM3");
    }
};

}  // namespace

TEST(ReconnectWatch, NotArmedOnAPortThatIsNotTheScannersUsbPort)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    device.Open("COM3");
    EXPECT_FALSE(device.WatchRemoval());
    EXPECT_FALSE(system.notifier.WatchingHandle());
    EXPECT_FALSE(system.notifier.WatchingInterfaces());
}

TEST(ReconnectWatch, RemovalClosesThePortAndArrivalIsDeliveredOnlyWhilePumping)
{
    UsbPort usb;
    ASSERT_TRUE(usb.device.WatchRemoval());
    EXPECT_EQ(usb.system.notifier.RegisterHandleNotification(usb.device.Handle(),
                                                             NotificationHandler, &usb.device),
              3);
    usb.system.host.PumpMessages();
    EXPECT_FALSE(usb.device.WasRemoved());

    usb.system.ports["COM3"].gone = true;
    EXPECT_TRUE(usb.device.IsOpen());   // nothing happens between pumps
    usb.system.host.PumpMessages();
    EXPECT_TRUE(usb.device.WasRemoved());
    EXPECT_FALSE(usb.device.IsOpen());
    EXPECT_FALSE(usb.system.notifier.WatchingHandle());
    EXPECT_TRUE(usb.system.notifier.WatchingInterfaces());
    EXPECT_FALSE(usb.device.HasArrived());

    usb.system.notifier.usbArrived = true;
    usb.system.host.PumpMessages();
    EXPECT_TRUE(usb.device.HasArrived());
    EXPECT_FALSE(usb.system.notifier.WatchingInterfaces());

    // Re-armed after the reopen: the flags start clear again.
    usb.system.ports["COM3"].gone = false;
    usb.device.Open("COM3");
    ASSERT_TRUE(usb.device.WatchRemoval());
    EXPECT_FALSE(usb.device.HasArrived());
    EXPECT_FALSE(usb.device.WasRemoved());
}

// The arrival watch is armed with the removal watch: a scanner back before its removal
// was taken from the pump counts, and an arrival before the removal does not.
TEST(ReconnectWatch, AnArrivalBeforeTheRemovalWasTakenIsNotMissed)
{
    UsbPort usb;
    ASSERT_TRUE(usb.device.WatchRemoval());
    EXPECT_TRUE(usb.system.notifier.WatchingInterfaces());
    usb.system.notifier.usbArrived = true;   // another device
    usb.system.host.PumpMessages();
    EXPECT_FALSE(usb.device.HasArrived());

    usb.system.ports["COM3"].gone = true;   // gone and back between two pumps
    usb.system.host.PumpMessages();
    EXPECT_TRUE(usb.device.WasRemoved());
    EXPECT_TRUE(usb.device.HasArrived());
    EXPECT_FALSE(usb.system.notifier.WatchingInterfaces());
}

// Watched while open, a port pulled mid-run closes at the next pump and the next
// request says so.
TEST(ReconnectWatch, APortWatchedWhileOpenIsClosedWhenPulled)
{
    FakePortSystem system;
    CComDevice device(system, system.host);
    device.WatchWhileOpen(true);
    device.Open("COM5");
    EXPECT_TRUE(system.notifier.WatchingHandle());
    system.ports["COM5"].gone = true;
    system.host.PumpMessages();
    EXPECT_FALSE(device.IsOpen());
    EXPECT_THROW(device.ReadByte(), CComDevice::CDisconnected);
    system.ports["COM5"].gone = false;
    device.Open("COM5");
    try {
        device.ReadByte();
    } catch (const CComDevice::CDisconnected&) {
        ADD_FAILURE() << "the port is back";
    } catch (const CBasicDevice::CException&) {   // silent, but there
    }
    device.Close();
    EXPECT_FALSE(system.notifier.WatchingHandle());
    EXPECT_FALSE(system.notifier.WatchingInterfaces());
}

TEST(ReconnectWatch, ClosingOrDestroyingTheDeviceDropsItsWatch)
{
    UsbPort usb;
    ASSERT_TRUE(usb.device.WatchRemoval());
    usb.device.Close();
    EXPECT_FALSE(usb.system.notifier.WatchingHandle());

    auto device = std::make_unique<CComDevice>(usb.system, usb.system.host);
    device->Open("COM3");
    ASSERT_TRUE(device->WatchRemoval());
    usb.system.ports["COM3"].gone = true;
    usb.system.host.PumpMessages();
    ASSERT_TRUE(usb.system.notifier.WatchingInterfaces());
    device.reset();   // the caller gave up waiting for the arrival
    EXPECT_FALSE(usb.system.notifier.WatchingInterfaces());
    usb.system.notifier.usbArrived = true;
    usb.system.host.PumpMessages();   // must not touch the destroyed device
}

TEST(PolledNotifier, ReturnCodes)
{
    FakePortSystem system;
    FakeNotifier& n = system.notifier;
    FakePortLog line;
    FakePortHandle handle(line);

    EXPECT_EQ(n.RegisterHandleNotification(nullptr, CountingCallback, nullptr), 1);
    EXPECT_EQ(n.RegisterHandleNotification(&handle, nullptr, nullptr), 2);
    EXPECT_EQ(n.RegisterHandleNotification(&handle, CountingCallback, nullptr), 0);
    EXPECT_EQ(n.RegisterHandleNotification(&handle, CountingCallback, nullptr), 3);
    EXPECT_EQ(n.ResetNotifications(), 1);
    EXPECT_EQ(n.UnregisterHandleNotification(OtherCallback), 1);
    EXPECT_TRUE(n.WatchingHandle());
    EXPECT_EQ(n.UnregisterHandleNotification(CountingCallback), 0);
    EXPECT_EQ(n.UnregisterHandleNotification(CountingCallback), 1);

    EXPECT_EQ(n.RegisterInterfaceNotification(nullptr, nullptr), 2);
    EXPECT_EQ(n.RegisterInterfaceNotification(CountingCallback, nullptr), 0);
    EXPECT_EQ(n.RegisterInterfaceNotification(CountingCallback, nullptr), 3);
    EXPECT_EQ(n.UnregisterInterfaceNotification(OtherCallback), 1);
    EXPECT_EQ(n.ShutdownNotifications(), 0);
    EXPECT_FALSE(n.WatchingInterfaces());
    EXPECT_EQ(n.UnregisterInterfaceNotification(CountingCallback), 2);
    EXPECT_EQ(n.ResetNotifications(), 0);
}

TEST(PolledNotifier, RemovalOfAnotherHandleIsIgnoredAndEventsNeedAPump)
{
    FakePortSystem system;
    FakeNotifier& n = system.notifier;
    FakePortLog watchedLine, otherLine;
    FakePortHandle watched(watchedLine), other(otherLine);
    n.handles = {{&watched, &watchedLine}, {&other, &otherLine}};
    calls = 0;
    ASSERT_EQ(n.RegisterHandleNotification(&watched, CountingCallback, nullptr), 0);
    otherLine.gone = true;
    system.host.PumpMessages();
    EXPECT_EQ(calls, 0);
    watchedLine.gone = true;
    EXPECT_EQ(calls, 0);
    system.host.PumpMessages();
    EXPECT_EQ(calls, 1);
    system.host.PumpMessages();   // a removal is reported once
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(n.UnregisterHandleNotification(CountingCallback), 0);
}
