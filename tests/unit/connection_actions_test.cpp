#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "connection/connection_actions.h"
#include "connection/device_search.h"
#include "connection/port_list.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"
#include "transport/com_device.h"

namespace {

struct Row {
    std::string port;
    bool ticked = true;
    std::string speed;
    std::string state;
    int code = -1;
};

class TableView : public CSearchView {
public:
    int RowCount() override { return static_cast<int>(rows.size()); }
    std::string PortName(int row) override { return rows[row].port; }
    bool IsTicked(int row) override { return rows[row].ticked; }
    void SetSpeedText(int row, const std::string& text) override { rows[row].speed = text; }
    void SetStateText(int row, const std::string& text) override { rows[row].state = text; }
    void SetRowCode(int row, int code) override { rows[row].code = code; }
    void EnsureVisible(int) override {}
    BoxOwner OwnerWindow() override { return nullptr; }
    std::vector<Row> rows;
};

class Connection : public testing::Test {
protected:
    CVirtualHost host;
    CSimPortSystem ports{host};
};

TEST_F(Connection, SearchFindsScannerAt57600AmongSilentAndMissingPorts)
{
    SimConfig config;
    config.speedCode = 5;
    config.modelCode = 200;
    ports.AddScanner("COM2", config);
    ports.AddSilentPort("COM1");
    SimConfig fastest;
    fastest.speedCode = 9;
    ports.AddScanner("COM5", fastest);
    TableView view;
    view.rows = {{"COM1"}, {"COM2"}, {"COM9"}, {"COM4", false}, {"COM5"}};
    const uint64_t start = host.NowMs();
    SearchDevices(ports, host, view);
    EXPECT_EQ(view.rows[0].state, "Не обнаружено");
    EXPECT_EQ(view.rows[0].speed, "921600");
    EXPECT_EQ(view.rows[0].code, -1);
    EXPECT_EQ(view.rows[1].state, "Встраиваемый сканер \"Tolvan\"");
    EXPECT_EQ(view.rows[1].speed, "57600");
    EXPECT_EQ(view.rows[1].code, 5);
    EXPECT_EQ(view.rows[2].state, "COM-порт недоступен. Подключите сканер кабелем.");
    EXPECT_EQ(view.rows[3].state, "");   // unticked: not tried
    EXPECT_EQ(view.rows[3].speed, "");
    // The fast speeds come after the others: what set-speed can set, a search finds.
    EXPECT_EQ(view.rows[4].speed, "921600");
    EXPECT_EQ(view.rows[4].code, 9);
    EXPECT_TRUE(host.Boxes().empty());
    // A silent port costs three 100 ms time-outs per speed.
    EXPECT_GE(host.NowMs() - start, 10u * 300u);
}

TEST_F(Connection, SearchSkipsBusyPortAndStopEndsIt)
{
    ports.AddScanner("COM1");
    ports.SetBusy("COM1", true);
    ports.AddSilentPort("COM2");
    ports.AddScanner("COM3");
    TableView view;
    view.rows = {{"COM1"}, {"COM2"}, {"COM3"}};
    // The busy port is tried for a second; the Stop comes while the silent one is searched.
    host.At(kRefusedOpenRetryMs + 200, [this] { host.RequestStop(0); });
    SearchDevices(ports, host, view);
    EXPECT_EQ(view.rows[0].state, "COM-порт занят другим приложением");
    EXPECT_EQ(view.rows[1].state, "Поиск остановлен");
    EXPECT_EQ(view.rows[2].state, "");
    EXPECT_TRUE(host.Boxes().empty());   // Stop is silent
}

TEST_F(Connection, CheckLinkAndSpeedChange)
{
    CSimScanner& scanner = ports.AddScanner("COM5");
    CConnectSettings settings{"COM5", 2, 300};
    EXPECT_EQ(LinkText(CheckLink(ports, host, settings)), "Ручной сканер \"Pellar II\"");

    ChangeSpeed(ports, host, settings, 2, 5);
    EXPECT_EQ(scanner.SpeedCode(), 5);
    EXPECT_EQ(LinkText(CheckLink(ports, host, settings)), "Не обнаружено");
    settings.speedCode = 5;
    EXPECT_EQ(LinkText(CheckLink(ports, host, settings)), "Ручной сканер \"Pellar II\"");

    // Nothing chosen before: the port opens at 9600, where the scanner is not.
    EXPECT_THROW(ChangeSpeed(ports, host, settings, -1, 4), test_exception);
}

TEST_F(Connection, DeviceInformationAtSettings)
{
    ports.AddScanner("COM5");
    CDeviceInfo info;
    ReadDeviceInfoAt(ports, host, {"COM5", 2, 300}, info);
    EXPECT_TRUE(info.applicationRead);
    EXPECT_EQ(info.serialNumber, SimConfig{}.serialNumber);
}

TEST(PortList, SelectedVanishedPortStaysOthersGo)
{
    const std::vector<std::string> items = {"COM1", "COM10", "COM2", "COM3"};
    CPortListUpdate update = RefreshPortItems(items, 2, {"COM3", "COM4", "COM1", "COM4"});
    EXPECT_EQ(update.removeIndexes, (std::vector<int>{1}));   // COM2 is selected and stays
    EXPECT_EQ(update.add, (std::vector<std::string>{"COM4"}));

    update = RefreshPortItems(items, -1, {});
    EXPECT_EQ(update.removeIndexes, (std::vector<int>{3, 2, 1, 0}));
}

TEST(PortList, StoredPortOrLastItem)
{
    EXPECT_EQ(PortItemToSelect({"COM1", "COM10", "COM2"}, "COM10"), 1);
    // As the platform compares names: COM10 itself on Windows, another port on Linux.
    EXPECT_EQ(PortItemToSelect({"COM1", "COM10", "COM2"}, "com10"), SamePortName("com10", "COM10") ? 1 : 2);
    EXPECT_EQ(StoredPortNeedsItem({"COM1", "COM10"}, "com10"), !SamePortName("com10", "COM10"));
    EXPECT_EQ(PortItemToSelect({}, "COM1"), -1);
    // A stored port that is away gets an item of its own; an empty name does not.
    EXPECT_TRUE(StoredPortNeedsItem({"COM1", "COM2"}, "COM7"));
    EXPECT_FALSE(StoredPortNeedsItem({"COM1", "COM7"}, "COM7"));
    EXPECT_FALSE(StoredPortNeedsItem({"COM1"}, ""));
}

}  // namespace
