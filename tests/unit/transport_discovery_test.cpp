#include <gtest/gtest.h>

#include "transport/port_system.h"
#include "transport/serial_discovery.h"

namespace {

struct Value {
    uint32_t result;
    std::string name;
    uint32_t type;
    std::string data;
};

struct Device {
    bool portNameReadable;
    uint32_t portNameType;
    std::string portName;
    uint32_t idType;
    std::string firstId;
    std::string instanceId = {};
    std::string location = {};
};

// The registry and the Ports class as data; it counts what discovery asked for.
class ScriptedReader : public CDiscoveryReader {
public:
    bool keyPresent = true;
    std::vector<Value> values;
    bool classAvailable = true;
    std::vector<Device> devices;
    unsigned classOpens = 0;
    bool keyOpen = false, classOpen = false;

    bool OpenSerialComm() override { return keyOpen = keyPresent; }
    uint32_t EnumSerialCommValue(uint32_t index, std::string& name, uint32_t& type,
                                 std::string& data) override
    {
        if (index >= values.size())
            return kErrorNoMoreItems;
        const Value& v = values[index];
        name = v.name;
        type = v.type;
        data = v.data;
        return v.result;
    }
    void CloseSerialComm() override { keyOpen = false; }
    bool OpenPortsClass() override
    {
        ++classOpens;
        return classOpen = classAvailable;
    }
    bool EnumPortsDevice(uint32_t index) override
    {
        current = index;
        return index < devices.size();
    }
    bool ReadPortName(uint32_t& type, std::string& value) override
    {
        type = devices[current].portNameType;
        value = devices[current].portName;
        return devices[current].portNameReadable;
    }
    bool ReadHardwareId(uint32_t& type, std::string& firstId) override
    {
        type = devices[current].idType;
        firstId = devices[current].firstId;
        return true;
    }
    bool ReadInstanceId(std::string& id) override
    {
        id = devices[current].instanceId;
        return !id.empty();
    }
    bool ReadLocation(std::string& location) override
    {
        location = devices[current].location;
        return !location.empty();
    }
    void ClosePortsClass() override { classOpen = false; }

private:
    uint32_t current = 0;
};

Device Port(const std::string& name, const std::string& id)
{
    return Device{true, kRegSz, name, kRegMultiSz, id};
}

}  // namespace

TEST(SerialDiscovery, ListKeepsOrderDropsDuplicatesAndSkipsWhatDoesNotFit)
{
    ScriptedReader reader;
    reader.values = {{0, "\\Device\\Serial0", kRegSz, "COM1"},
                     {kErrorMoreData, "", 0, ""},
                     {0, "\\Device\\USBSER000", kRegSz, "COM3"},
                     {0, "\\Device\\Odd", 4 /* REG_DWORD */, "COM9"},
                     {0, "\\Device\\USBSER001", kRegSz, "COM3"},
                     {0, "\\Device\\Serial1", kRegSz, "COM2"},
                     {5, "", 0, ""},   // a failure ends the list
                     {0, "\\Device\\Serial2", kRegSz, "COM7"}};
    EXPECT_EQ(ListSerialPorts(reader), (std::vector<std::string>{"COM1", "COM3", "COM2"}));
    EXPECT_FALSE(reader.keyOpen);

    reader.keyPresent = false;
    EXPECT_TRUE(ListSerialPorts(reader).empty());
}

TEST(SerialDiscovery, UsbPortMatchesByNumberAndUpperCasedId)
{
    ScriptedReader reader;
    reader.devices = {Port("COM1", "ACPI\\PNP0501"),
                      Port("com03", "usb\\vid_0647&pid_3339&rev_0100&mi_00"),
                      Port("COM4", "USB\\VID_0403&PID_6001&REV_0600")};
    std::string id;
    EXPECT_TRUE(FindUsbPort(reader, "COM3", "0647", "3339", id));
    EXPECT_EQ(id, "USB\\VID_0647&PID_3339&REV_0100&MI_00");
    EXPECT_FALSE(reader.classOpen);
    EXPECT_TRUE(FindUsbPort(reader, "COM003", "0647", "3339", id));
    EXPECT_FALSE(FindUsbPort(reader, "COM4", "0647", "3339", id));
    EXPECT_FALSE(FindUsbPort(reader, "COM1", "0647", "3339", id));
    EXPECT_FALSE(FindUsbPort(reader, "COM30", "0647", "3339", id));
}

TEST(SerialDiscovery, MalformedNamesAreRefusedBeforeEnumerating)
{
    ScriptedReader reader;
    reader.devices = {Port("COM3", "USB\\VID_0647&PID_3339")};
    std::string id = "unchanged";
    for (const char* name : {"COM3x", "COM", "CO", "", "COM-3", "COM 3", "COM+3"})
        EXPECT_FALSE(FindUsbPort(reader, name, "0647", "3339", id)) << name;
    EXPECT_EQ(reader.classOpens, 0u);
    EXPECT_EQ(id, "unchanged");
}

TEST(SerialDiscovery, DevicesWithUnusableValuesAreSkipped)
{
    ScriptedReader reader;
    const std::string usbId = "USB\\VID_0647&PID_3339";
    reader.devices = {Device{false, kRegSz, "COM3", kRegMultiSz, usbId},     // no key
                      Device{true, 4, "COM3", kRegMultiSz, usbId},           // not a string
                      Port("COMx3", usbId), Port("LPT3", usbId), Port("COM", usbId),
                      Device{true, kRegSz, "COM3", kRegSz, usbId}};          // id not a list
    std::string id;
    EXPECT_FALSE(FindUsbPort(reader, "COM3", "0647", "3339", id));
    reader.devices.push_back(Device{true, kRegExpandSz, "Com3", kRegMultiSz, usbId});
    EXPECT_TRUE(FindUsbPort(reader, "COM3", "0647", "3339", id));

    reader.classAvailable = false;
    EXPECT_FALSE(FindUsbPort(reader, "COM3", "0647", "3339", id));
}

// A scanner back from its loader under another COM number is still the same device: its
// serial string (the last part of a USB instance id) and its hub location tell it.
TEST(SerialDiscovery, UsbIdentityFromHardwareIdInstanceIdAndLocation)
{
    ScriptedReader reader;
    Device scanner = Port("COM7", "USB\\VID_0647&PID_3339&REV_0100");
    scanner.instanceId = "USB\\VID_0647&PID_3339\\1200341";
    scanner.location = "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)";
    Device noSerial = Port("COM8", "USB\\VID_0647&PID_3339&MI_00");
    noSerial.instanceId = "USB\\VID_0647&PID_3339&MI_00\\6&2A1B3C&0&0000";   // made up
    Device adapter = Port("COM9", "FTDIBUS\\COMPORT&VID_0403&PID_6001");
    adapter.instanceId = "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000";
    adapter.location = "Port_#0003.Hub_#0001";
    reader.devices = {Port("COM1", "ACPI\\PNP0501"), scanner, noSerial, adapter};

    CUsbIdentity identity;
    ASSERT_TRUE(FindUsbIdentity(reader, "COM7", identity));
    EXPECT_EQ(identity.vendorId + ":" + identity.productId, "0647:3339");
    EXPECT_EQ(identity.serial, "1200341");
    EXPECT_EQ(identity.location, scanner.location);
    ASSERT_TRUE(FindUsbIdentity(reader, "COM8", identity));
    EXPECT_EQ(identity.serial, "");
    EXPECT_EQ(identity.location, "");
    ASSERT_TRUE(FindUsbIdentity(reader, "COM9", identity));
    EXPECT_EQ(identity.vendorId + ":" + identity.productId + ":" + identity.serial, "0403:6001:");
    EXPECT_EQ(identity.location, adapter.location);
    EXPECT_FALSE(FindUsbIdentity(reader, "COM1", identity));
    EXPECT_FALSE(FindUsbIdentity(reader, "COM7x", identity));
    EXPECT_FALSE(reader.classOpen);

    // Same serial string, or same place: a loader may come with another product id.
    CUsbIdentity loader = {"0647", "3340", "", scanner.location};
    CUsbIdentity other = {"0647", "3339", "1200342", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(3)"};
    CUsbIdentity moved = {"0647", "3339", "1200341", "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)"};
    ASSERT_TRUE(FindUsbIdentity(reader, "COM7", identity));
    EXPECT_TRUE(SameUsbDevice(identity, loader));
    EXPECT_TRUE(SameUsbDevice(identity, moved));
    EXPECT_FALSE(SameUsbDevice(identity, other));
    EXPECT_FALSE(SameUsbDevice(CUsbIdentity{"0647", "3339", "", ""}, CUsbIdentity{"0647", "3339", "", ""}));
}
