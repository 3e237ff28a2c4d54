#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "transport/com_device.h"
#include "transport/port_system_posix.h"

namespace fs = std::filesystem;

namespace {

// A sysfs tree in a temporary folder, laid out as the kernel lays out its terminals:
// class/tty/NAME holds a "device" link into the device hierarchy, where a USB device
// directory carries idVendor and idProduct above its interfaces.
struct FakeSysfs {
    fs::path root;
    FakeSysfs()
    {
        char pattern[] = "/tmp/trelvo-sysfs-XXXXXX";
        root = mkdtemp(pattern);
    }
    ~FakeSysfs() { fs::remove_all(root); }

    static void Write(const fs::path& file, const std::string& text)
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    // A terminal whose device is devicePath (relative to root/devices).
    void AddTty(const std::string& name, const std::string& devicePath, const char* type = nullptr)
    {
        const fs::path device = root / "devices" / devicePath;
        const fs::path tty = root / "class/tty" / name;
        fs::create_directories(device);
        fs::create_directories(tty);
        fs::create_directory_symlink(device, tty / "device");
        if (type)
            Write(tty / "type", type);
    }
    void AddVirtualTty(const std::string& name) { fs::create_directories(root / "class/tty" / name); }
    void AddUsbDevice(const std::string& path, const char* vid, const char* pid, const char* rev,
                      const char* serial = nullptr)
    {
        const fs::path dir = root / "devices" / path;
        Write(dir / "idVendor", vid);
        Write(dir / "idProduct", pid);
        if (rev)
            Write(dir / "bcdDevice", rev);
        if (serial)
            Write(dir / "serial", serial);
    }
};

const char* kUsb1 = "pci0000:00/0000:00:14.0/usb1/1-1";
const char* kUsb2 = "pci0000:00/0000:00:14.0/usb1/1-2";

std::vector<int> events;
void Record(int event, CComDevice*) { events.push_back(event); }

}  // namespace

TEST(SysfsPorts, ListsRealTerminalsInNaturalOrderWithTheirUsbIdentity)
{
    FakeSysfs sys;
    sys.AddUsbDevice(kUsb1, "0647", "3339", "0100", "S1200341");
    sys.AddTty("ttyACM0", std::string(kUsb1) + "/1-1:1.0");
    sys.AddUsbDevice(kUsb2, "0a5c", "6001", nullptr);
    sys.AddTty("ttyUSB0", std::string(kUsb2) + "/1-2:1.0/ttyUSB0");
    sys.AddTty("ttyS0", "pnp0/00:00/00:00:0/00:00:0.0", "4");
    sys.AddTty("ttyS10", "pci0000:00/0000:00:1e.0", "4");
    sys.AddTty("ttyS2", "pnp0/00:00/00:00:0/00:00:0.2", "4");
    sys.AddTty("ttyS3", "platform/serial8250/serial8250:0.3", "0");   // no UART behind it
    sys.AddVirtualTty("tty0");
    sys.AddVirtualTty("ptmx");

    CSysfsPorts ports(sys.root.string());
    EXPECT_EQ(ports.SerialPorts(), (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyS0",
                                                             "/dev/ttyS2", "/dev/ttyS10",
                                                             "/dev/ttyUSB0"}));
    EXPECT_EQ(ports.UsbSerialTtys(), (std::set<std::string>{"ttyACM0", "ttyUSB0"}));

    std::string id;
    ASSERT_TRUE(ports.UsbHardwareId("ttyUSB0", id));
    EXPECT_EQ(id, "USB\\VID_0A5C&PID_6001");
    EXPECT_FALSE(ports.UsbHardwareId("ttyS0", id));

    CPosixPortSystem system(sys.root.string());
    EXPECT_TRUE(system.IsCurrentPortUsb("/dev/ttyACM0", kScannerUsbVid, kScannerUsbPid, id));
    EXPECT_EQ(id, "USB\\VID_0647&PID_3339&REV_0100");
    EXPECT_TRUE(system.IsCurrentPortUsb("ttyUSB0", "0a5c", "6001", id));   // either case
    EXPECT_FALSE(system.IsCurrentPortUsb("ttyUSB0", kScannerUsbVid, kScannerUsbPid, id));
    EXPECT_FALSE(system.IsCurrentPortUsb("ttyS0", kScannerUsbVid, kScannerUsbPid, id));
    EXPECT_FALSE(system.IsCurrentPortUsb("", kScannerUsbVid, kScannerUsbPid, id));

    // What follows a scanner that comes back under another name: its serial string and
    // its place on the bus, whichever port its interface shows up as.
    CUsbIdentity scanner, adapter;
    ASSERT_TRUE(system.PortUsbIdentity("/dev/ttyACM0", scanner));
    EXPECT_EQ(scanner.vendorId + ":" + scanner.productId, "0647:3339");
    EXPECT_EQ(scanner.serial, "S1200341");
    EXPECT_EQ(scanner.location, "1-1");
    ASSERT_TRUE(system.PortUsbIdentity("ttyUSB0", adapter));
    EXPECT_EQ(adapter.vendorId + ":" + adapter.productId + ":" + adapter.serial, "0A5C:6001:");
    EXPECT_EQ(adapter.location, "1-2");
    EXPECT_FALSE(system.PortUsbIdentity("ttyS0", adapter));
}

TEST(SysfsPorts, MissingTreeListsNothing)
{
    CSysfsPorts ports("/nonexistent-sysfs");
    EXPECT_TRUE(ports.SerialPorts().empty());
    EXPECT_TRUE(ports.UsbSerialTtys().empty());
}

TEST(PosixPortSystem, ExplicitPathsExistWhileTheirNodeDoes)
{
    FakeSysfs sys;
    CPosixPortSystem system(sys.root.string());
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const fs::path link = sys.root / "ttySCAN";
    fs::create_symlink(name, link);
    EXPECT_TRUE(system.SerialPortExists(name));
    EXPECT_TRUE(system.SerialPortExists(link.string()));
    EXPECT_FALSE(system.SerialPortExists((sys.root / "class").string()));   // not a device
    EXPECT_FALSE(system.SerialPortExists(""));
    close(master);
    close(slave);
    EXPECT_FALSE(system.SerialPortExists(link.string()));
}

// The scanner as a USB CDC port behind a link: it re-enumerates by dropping the link and
// its pseudo-terminal and coming back as a new one behind the same link.
TEST(PosixNotifier, FollowsAUsbPortThroughItsReEnumeration)
{
    FakeSysfs sys;
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    // The terminal the link resolves to belongs to the scanner's USB device.
    const std::string ptsNumber = fs::path(name).filename();
    sys.AddUsbDevice(kUsb1, "0647", "3339", "0100");
    sys.AddTty(ptsNumber, std::string(kUsb1) + "/1-1:1.0");
    const fs::path link = sys.root / "ttySCAN";
    fs::create_symlink(name, link);

    CPosixPortSystem system(sys.root.string());
    CComDevice device(system, PlatformHost());
    device.Open(link.string());
    ASSERT_TRUE(device.IsUsbCdc());
    ASSERT_TRUE(device.WatchRemoval());
    PlatformHost().PumpMessages();
    EXPECT_FALSE(device.WasRemoved());

    fs::remove(link);
    close(master);
    close(slave);
    EXPECT_TRUE(device.IsOpen());   // delivered only by the pump
    PlatformHost().PumpMessages();
    EXPECT_TRUE(device.WasRemoved());
    EXPECT_FALSE(device.IsOpen());
    PlatformHost().PumpMessages();
    EXPECT_FALSE(device.HasArrived());

    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    fs::create_symlink(name, link);
    PlatformHost().PumpMessages();
    EXPECT_TRUE(device.HasArrived());
    device.Open(link.string());
    EXPECT_TRUE(device.IsOpen());
    device.Close();
    close(master);
    close(slave);
}

TEST(PosixNotifier, ArrivalOfANewUsbTerminal)
{
    FakeSysfs sys;
    sys.AddUsbDevice(kUsb2, "0403", "6001", nullptr);
    sys.AddTty("ttyUSB0", std::string(kUsb2) + "/1-2:1.0/ttyUSB0");
    CPosixPortSystem system(sys.root.string());
    CDeviceNotifier& notifier = system.Notifier();
    events.clear();
    ASSERT_EQ(notifier.RegisterInterfaceNotification(Record, nullptr), 0);
    PlatformHost().PumpMessages();
    EXPECT_TRUE(events.empty());   // present before the watch: not an arrival

    sys.AddUsbDevice(kUsb1, "0647", "3339", "0100");
    sys.AddTty("ttyACM0", std::string(kUsb1) + "/1-1:1.0");
    PlatformHost().PumpMessages();
    EXPECT_EQ(events, (std::vector<int>{USB_SERIAL_ARRIVAL}));
    EXPECT_EQ(notifier.UnregisterInterfaceNotification(Record), 0);
}

// A USB-serial adapter's latency timer as its driver shows it under the terminal's
// device; the terminal itself is a pseudo-terminal, which refuses the low-latency ioctl.
TEST(PosixPortSystem, KeepsAnAdaptersLatencyTimerLowWhileOpenAndNamesOneItCannotLower)
{
    FakeSysfs sys;
    int master, slave;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    const std::string tty = fs::path(name).filename();
    sys.AddTty(tty, std::string(kUsb2) + "/1-2:1.0/ttyUSB0");
    const fs::path timer = sys.root / "class/tty" / tty / "device/latency_timer";
    auto read = [&] {
        std::string value;
        std::ifstream(timer) >> value;
        return value;
    };

    CPosixPortSystem system(sys.root.string());
    FakeSysfs::Write(timer, "16");
    {
        CComDevice device(system, PlatformHost());
        OpenComPort(device, name, 115200, 100);
        EXPECT_EQ(read(), "1");
        device.WriteByte(0x5A);   // the refused ioctl left a working port
        unsigned char b = 0;
        ASSERT_EQ(::read(master, &b, 1), 1);
        EXPECT_EQ(b, 0x5A);
    }
    EXPECT_EQ(read(), "16");
    EXPECT_TRUE(system.SlowAdapterFiles().empty());

    FakeSysfs::Write(timer, "1");   // already low: left alone
    {
        CComDevice device(system, PlatformHost());
        device.Open(name);
    }
    EXPECT_EQ(read(), "1");

    // A timer that no write changes, even by root: a read-only kernel number.
    fs::remove(timer);
    fs::create_symlink("/proc/sys/kernel/ngroups_max", timer);
    {
        CComDevice device(system, PlatformHost());
        device.Open(name);
    }
    EXPECT_EQ(system.SlowAdapterFiles(), std::vector<std::string>{timer.string()});
    close(master);
    close(slave);
}
