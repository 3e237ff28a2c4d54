#include <gtest/gtest.h>

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
