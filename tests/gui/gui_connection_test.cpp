// The connection page's actions against the simulated scanners: the link check, the
// speed change, the device information window, and the device search with its result
// adopted by the page.
#include <gtest/gtest.h>

#include "gui/sheet_fixture.h"
#include "protocol/device_info.h"
#include "resources/resource_connect.h"
#include "resources/resource_search.h"

namespace {

const char kSearchTitle[] = "Поиск оборудования...";
const char kInfoTitle[] = "Информация об устройстве";
// The simulator's default model and serial number.
constexpr unsigned kSimModel = 150;
const char kSimSerial[] = "1234567";

using ConnectionPage = SettingsSheet;

int RowOf(HWND list, const std::string& port)
{
    for (int row = 0; row < ListCount(list); ++row)
        if (ListText(list, row, 0) == port)
            return row;
    return -1;
}

void SelectRow(HWND list, int row)
{
    LVITEMW state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
}

TEST_F(ConnectionPage, LinkCheckAndSpeedChangeReachTheScanner)
{
    OpenWithScanner();
    std::string at9600, at57600;
    auto device = [&] { return PageText(IDC_CONNECT_DEVICE); };
    // The page's buttons come back when its action has ended (the action's own button
    // stays enabled meanwhile: it stops the action).
    auto idle = [&] { return IsEnabled(PageItem(IDC_CONNECT_SEARCH)); };
    auto simSpeed = [&](int code) {
        return [&idle, code] {
            const std::string state = ReadTextFile(EnvText("TRELVO_GUI_SIM_STATE"));
            return idle() && state.find("speed " + std::to_string(code) + "\n") != std::string::npos;
        };
    };
    OpenSheet();
    op.Do("the link check", [&] { ClickItem(Page(), IDC_CONNECT_CHECK); })
        .Then("its answer", [&] { return idle() && !device().empty(); },
              [&] {
                  at9600 = device();
                  SendMessageW(PageItem(IDC_CONNECT_SPEED), CB_SETCURSEL, 5, 0);
                  ClickItem(Page(), IDC_CONNECT_SET_SPEED);
              })
        .Then("the scanner at 57600", simSpeed(5),
              [&] {
                  SetWindowTextW(PageItem(IDC_CONNECT_DEVICE), L"");
                  ClickItem(Page(), IDC_CONNECT_CHECK);
              })
        .Then("the answer at 57600", [&] { return idle() && !device().empty(); },
              [&] {
                  at57600 = device();
                  SendMessageW(PageItem(IDC_CONNECT_SPEED), CB_SETCURSEL, 2, 0);
                  ClickItem(Page(), IDC_CONNECT_SET_SPEED);
              })
        .Then("the scanner back at 9600", simSpeed(2));
    CloseAll(PSBTN_CANCEL);
    Run();

    EXPECT_EQ(at9600, ModelText(kSimModel));
    EXPECT_EQ(at57600, ModelText(kSimModel));
    EXPECT_TRUE(host.boxes.empty());
}

// On a port where nothing answers, at a 30000 ms reply time-out: the link check's own
// button stops it at once and the page stays as it was; Escape during the next check
// stops it too and closes the sheet once the check has ended.
TEST_F(ConnectionPage, LinkCheckOnASilentPortStopsAtOnceAndEscapeClosesTheSheetAfterIt)
{
    Open("[Connect]\r\nPortName=" + SilentPort() + "\r\nBaudRate=2\r\nTimeout=30000\r\n"
         "[Firmware]\r\nFileName=" + DemoFirmware() + "\r\n");
    auto busy = [&] { return !IsEnabled(PageItem(IDC_CONNECT_SEARCH)); };
    std::string buttonWhileBusy, buttonAfter, deviceAfter;
    bool okWhileBusy = true;
    DWORD began = 0, stopped = 0, stopAfter = 0, escaped = 0;
    OpenSheet();
    op.Do("the link check",
          [&] {
              SetWindowTextW(PageItem(IDC_CONNECT_DEVICE), L"прежний текст");
              ClickItem(Page(), IDC_CONNECT_CHECK);
          })
        .Then("the check under way", busy, [&] { began = GetTickCount(); })
        .Then("a second of silence", [&] { return GetTickCount() - began >= 1000; },
              [&] {
                  buttonWhileBusy = PageText(IDC_CONNECT_CHECK);
                  okWhileBusy = IsEnabled(GetDlgItem(Sheet(), IDOK));
                  stopped = GetTickCount();
                  ClickItem(Page(), IDC_CONNECT_CHECK);
              })
        .Then("the check stopped", [&] { return !busy(); },
              [&] {
                  stopAfter = GetTickCount() - stopped;
                  buttonAfter = PageText(IDC_CONNECT_CHECK);
                  deviceAfter = PageText(IDC_CONNECT_DEVICE);
                  ClickItem(Page(), IDC_CONNECT_CHECK);
              })
        .Then("the second check under way", busy,
              [&] {
                  escaped = GetTickCount();
                  PressKey(Sheet(), VK_ESCAPE);
              })
        .Then("the sheet closed", [&] { return Sheet() == nullptr; },
              [&] { ClickItem(Main(), IDC_MAIN_EXIT); });
    Run();

    EXPECT_EQ(buttonWhileBusy, "Прервать");
    EXPECT_FALSE(okWhileBusy);
    EXPECT_EQ(buttonAfter, "Проверка связи");
    EXPECT_EQ(deviceAfter, "прежний текст");
    // A quarter of a second, and the operator's own ticks and Wine's scheduling besides.
    EXPECT_LT(stopAfter, 500u);
    // Escape's stop (the sheet itself then takes Wine two seconds to go, as any cancelled
    // sheet does).
    EXPECT_GE(host.stopRequestedAt, escaped);
    EXPECT_LT(host.stopTakenAt - host.stopRequestedAt, 250u);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(ConnectionPage, DetailsShowTheDeviceInformationBox)
{
    OpenWithScanner();
    host.showInformation = true;
    bool readerSeen = false;
    OpenSheet();
    op.Do("details", [&] { ClickItem(Page(), IDC_CONNECT_DETAILS); })
        .Then("the reading window", [&] { return FindCaptionlessDialog() != nullptr; },
              [&] {
                  readerSeen = true;
                  SaveScreenshot(FindCaptionlessDialog(), "device-info-reading");
              })
        .Then("the information box", [&] { return FindDialog(kInfoTitle) != nullptr; },
              [&] {
                  SaveScreenshot(FindDialog(kInfoTitle), "device-info");
                  PostMessageW(FindDialog(kInfoTitle), WM_COMMAND, IDOK, 0);
              },
              60000)
        .Then("the box closed", [&] { return FindDialog(kInfoTitle) == nullptr; });
    CloseAll(PSBTN_CANCEL);
    Run();

    EXPECT_TRUE(readerSeen);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, MessageBoxKind::Information);
    EXPECT_EQ(host.boxes[0].caption, kInfoTitle);
    EXPECT_NE(host.boxes[0].text.find(kSimSerial), std::string::npos) << host.boxes[0].text;
    EXPECT_NE(host.boxes[0].text.find(ModelText(kSimModel)), std::string::npos);
}

TEST_F(ConnectionPage, EscapeDuringTheReadClosesTheWindowWithoutAMessage)
{
    OpenWithScanner();
    OpenSheet();
    op.Do("details", [&] { ClickItem(Page(), IDC_CONNECT_DETAILS); })
        .Then("the reading window", [&] { return FindCaptionlessDialog() != nullptr; },
              [&] { PressKey(FindCaptionlessDialog(), VK_ESCAPE); })
        .Then("the reading window closed", [&] { return FindCaptionlessDialog() == nullptr; });
    CloseAll(PSBTN_CANCEL);
    Run();

    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(ConnectionPage, SearchFindsTheScannerAt57600AndThePageAdoptsIt)
{
    OpenWithScanner();
    HWND search = nullptr;
    HWND list = nullptr;
    auto found = [&] {
        const int row = RowOf(list, SearchPort());
        return row >= 0 && IsEnabled(GetDlgItem(search, IDC_SEARCH_START)) &&
               ListText(list, row, 2) == ModelText(kSimModel);
    };
    std::string speedShown, portAdopted, speedAdopted, device;
    bool tickedAtStart = false;
    OpenSheet();
    op.Do("the search", [&] { ClickItem(Page(), IDC_CONNECT_SEARCH); })
        .Then("the search window with the port",
              [&] {
                  search = FindDialog(kSearchTitle);
                  list = search != nullptr ? GetDlgItem(search, IDC_SEARCH_PORTS) : nullptr;
                  return list != nullptr && RowOf(list, SearchPort()) >= 0;
              },
              [&] {
                  const int row = RowOf(list, SearchPort());
                  tickedAtStart = ((ListView_GetItemState(list, row, LVIS_STATEIMAGEMASK) >> 12) == 2);
                  ClickItem(search, IDC_SEARCH_START);
              })
        .Then("the scanner found", found,
              [&] {
                  const int row = RowOf(list, SearchPort());
                  speedShown = ListText(list, row, 1);
                  SaveScreenshot(search, "device-search");
                  // As a click on the row does: the list takes the focus and the row.
                  SetFocus(list);
                  SelectRow(list, row);
                  PressKey(search, VK_RETURN);
              },
              60000)
        .Then("the page's check of the adopted port",
              [&] {
                  return FindDialog(kSearchTitle) == nullptr && IsEnabled(PageItem(IDC_CONNECT_CHECK)) &&
                         !PageText(IDC_CONNECT_DEVICE).empty();
              },
              [&] {
                  portAdopted = PageText(IDC_CONNECT_PORT);
                  speedAdopted = PageText(IDC_CONNECT_SPEED);
                  device = PageText(IDC_CONNECT_DEVICE);
              });
    CloseAll(PSBTN_CANCEL);
    Run();

    EXPECT_TRUE(tickedAtStart);
    EXPECT_EQ(speedShown, "57600");
    EXPECT_EQ(portAdopted, SearchPort());
    EXPECT_EQ(speedAdopted, "57600");
    EXPECT_EQ(device, ModelText(kSimModel));
}

TEST_F(ConnectionPage, StopEndsTheSearchWithoutAMessage)
{
    OpenWithScanner();
    HWND search = nullptr;
    auto anyRowSays = [&](const std::string& text) {
        HWND list = GetDlgItem(search, IDC_SEARCH_PORTS);
        for (int row = 0; row < ListCount(list); ++row)
            if (ListText(list, row, 2) == text)
                return true;
        return false;
    };
    bool stopped = false;
    OpenSheet();
    op.Do("the search", [&] { ClickItem(Page(), IDC_CONNECT_SEARCH); })
        .Then("the search window", [&] { return (search = FindDialog(kSearchTitle)) != nullptr; },
              [&] { ClickItem(search, IDC_SEARCH_START); })
        .Then("a port being searched", [&] { return anyRowSays("Идёт поиск..."); },
              [&] { ClickItem(search, IDC_SEARCH_STOP); })
        .Then("the search ended", [&] { return IsEnabled(GetDlgItem(search, IDC_SEARCH_START)); },
              [&] {
                  stopped = anyRowSays("Поиск остановлен");
                  PressKey(search, VK_ESCAPE);
              })
        .Then("the search window closed", [&] { return FindDialog(kSearchTitle) == nullptr; });
    CloseAll(PSBTN_CANCEL);
    Run();

    EXPECT_TRUE(stopped);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(ConnectionPage, SearchListFollowsPortsThatComeAndGo)
{
    OpenWithScanner();
    const wchar_t kKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
    const wchar_t kValue[] = L"GuiLatePort";
    const std::string late = "COM48";
    auto setLatePort = [&](bool present) {
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
        if (present)
            RegSetValueExW(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"COM48"),
                           sizeof(L"COM48"));
        else
            RegDeleteValueW(key, kValue);
        RegCloseKey(key);
    };
    HWND list = nullptr;
    bool ticked = false;
    OpenSheet();
    op.Do("the search", [&] { ClickItem(Page(), IDC_CONNECT_SEARCH); })
        .Then("the search window",
              [&] {
                  HWND search = FindDialog(kSearchTitle);
                  list = search != nullptr ? GetDlgItem(search, IDC_SEARCH_PORTS) : nullptr;
                  return list != nullptr && ListCount(list) > 0;
              },
              [&] { setLatePort(true); })
        .Then("the new port listed", [&] { return RowOf(list, late) >= 0; },
              [&] {
                  ticked = (ListView_GetItemState(list, RowOf(list, late), LVIS_STATEIMAGEMASK) >> 12) == 2;
                  setLatePort(false);
              },
              5000)
        .Then("the port gone again", [&] { return RowOf(list, late) < 0; },
              [&] { PressKey(FindDialog(kSearchTitle), VK_ESCAPE); }, 5000)
        .Then("the search window closed", [&] { return FindDialog(kSearchTitle) == nullptr; });
    CloseAll(PSBTN_CANCEL);
    Run();
    setLatePort(false);

    EXPECT_TRUE(ticked);
}

}  // namespace
