// The settings sheet opened from the main window: saving the settings file, the
// firmware page, and the connection page's actions against a simulated scanner.
#include <windows.h>

#include <commctrl.h>
#include <dlgs.h>

#include <gtest/gtest.h>

#include "base/utf.h"
#include "gui/sheet_fixture.h"
#include "resources/resource_connect.h"
#include "resources/resource_firmware.h"
#include "resources/resource_main.h"

namespace {

TEST_F(SettingsSheet, OkSavesEveryKeyKeepsForeignLinesAndKeepsTheTitle)
{
    // The stored port is a USB scanner that is not plugged in: shown, selected and kept.
    const std::string unplugged = "COM77";
    Open("; kept by hand\r\n[Connect]\r\nPortName=" + unplugged +
         "\r\nComment=kept\r\n[Other]\r\nKey=Value\r\n[Bootloader]\r\nFileName=C:\\boot.ldr\r\n"
         "[Firmware]\r\nFileName=" + DemoFirmware() + "\r\n");
    std::string titleBefore, titleAfter, portShown;
    std::vector<std::string> modules;
    bool modulesEnabled = false;
    std::string transferShown;
    OpenSheet();
    op.Do("a new time-out",
          [&] {
              titleBefore = WindowTextOf(Main());
              portShown = PageText(IDC_CONNECT_PORT);
              SetWindowTextW(PageItem(IDC_CONNECT_TIMEOUT), L"4500");
              SaveScreenshot(Sheet(), "settings-connection");
              PropSheet_SetCurSel(Sheet(), nullptr, 1);
          })
        .Then("the firmware page", [&] { return GetDlgItem(Page(), IDC_FIRMWARE_MODULES) != nullptr; },
              [&] {
                  HWND list = PageItem(IDC_FIRMWARE_MODULES);
                  for (int row = 0; row < ListCount(list); ++row)
                      modules.push_back(ListText(list, row, 0) + "|" + ListText(list, row, 1) +
                                        "|" + ListText(list, row, 2));
                  modulesEnabled = IsEnabled(list);
                  ClickItem(Page(), IDC_FIRMWARE_SKIP_CURRENT);
                  transferShown = PageText(IDC_FIRMWARE_TRANSFER_SPEED);
                  SaveScreenshot(Sheet(), "settings-firmware");
                  SendMessageW(PageItem(IDC_FIRMWARE_TRANSFER_SPEED), CB_SETCURSEL, 3, 0);
              });
    op.Do("OK", [&] { PropSheet_PressButton(Sheet(), PSBTN_OK); })
        .Then("the sheet closed", [&] { return Sheet() == nullptr; },
              [&] {
                  titleAfter = WindowTextOf(Main());
                  ClickItem(Main(), IDC_MAIN_EXIT);
              });
    Run();

    EXPECT_EQ(titleAfter, titleBefore);
    EXPECT_EQ(portShown, unplugged);
    EXPECT_TRUE(modulesEnabled);
    EXPECT_EQ(transferShown, "115200");
    const std::vector<std::string> expected = {"Модуль Загрузчика Blackfin|1.4|512",
                                               "Вычислительный модуль|1.2|24576",
                                               "Периферийный модуль|1.10|1024"};
    EXPECT_EQ(modules, expected);
    const std::string file = ReadTextFile(ini);
    for (const char* line : {"; kept by hand", "Comment=kept", "[Other]", "Key=Value",
                             "Timeout=4500", "BaudRate=2", "TestingMode=1", "[Tests]", "SkipCurrent=1",
                             "FileName=C:\\boot.ldr", "PortName=", "TransferSpeed=9"})
        EXPECT_NE(file.find(line), std::string::npos) << line << " in\n" << file;
    EXPECT_NE(file.find("PortName=" + unplugged), std::string::npos) << file;
    EXPECT_NE(file.find("FileName=" + DemoFirmware()), std::string::npos) << file;
}

// [Station] Locked=1: the sheet says it only shows the settings, nothing on it edits or
// acts, and OK leaves the file as it was.
TEST_F(SettingsSheet, LockedSheetShowsTheSettingsOnly)
{
    const std::string text = "[Connect]\r\nPortName=" + SimPort() + "\r\nTimeout=3000\r\n"
                             "[Firmware]\r\nFileName=" + DemoFirmware() + "\r\n[Station]\r\nLocked=1\r\n";
    Open(text);
    const char kLockedTitle[] = "Настройки (только просмотр: заблокированы в файле настроек)";
    HWND sheet = nullptr;
    std::vector<bool> enabled;
    bool modulesEnabled = false;
    op.Then("the window", [&] { return Shown(); }, [&] { ClickItem(Main(), IDC_MAIN_SETTINGS); })
        .Then("the locked sheet", [&] { return (sheet = FindDialog(kLockedTitle)) != nullptr; },
              [&] {
                  HWND page = PropSheet_GetCurrentPageHwnd(sheet);
                  for (int id : {IDC_CONNECT_PORT, IDC_CONNECT_TIMEOUT, IDC_CONNECT_CHECK, IDC_CONNECT_SET_SPEED})
                      enabled.push_back(IsEnabled(GetDlgItem(page, id)));
                  PropSheet_SetCurSel(sheet, nullptr, 1);
              })
        .Then("its firmware page",
              [&] { return GetDlgItem(PropSheet_GetCurrentPageHwnd(sheet), IDC_FIRMWARE_MODULES) != nullptr; },
              [&] {
                  HWND page = PropSheet_GetCurrentPageHwnd(sheet);
                  for (int id : {IDC_FIRMWARE_BROWSE, IDC_FIRMWARE_SKIP_CURRENT})
                      enabled.push_back(IsEnabled(GetDlgItem(page, id)));
                  modulesEnabled = IsEnabled(GetDlgItem(page, IDC_FIRMWARE_MODULES));
                  PropSheet_PressButton(sheet, PSBTN_OK);
              })
        .Then("the sheet closed", [&] { return FindDialog(kLockedTitle) == nullptr; },
              [&] { ClickItem(Main(), IDC_MAIN_EXIT); });
    Run();

    EXPECT_EQ(enabled, std::vector<bool>(6, false));
    EXPECT_TRUE(modulesEnabled);
    EXPECT_EQ(ReadTextFile(ini), text);
}

TEST_F(SettingsSheet, CancelLeavesTheFileAndAPortChangeRetitles)
{
    OpenWithScanner();
    const std::string original = ReadTextFile(ini);
    std::string afterCancel, titleAfterPortChange;
    OpenSheet();
    op.Do("a time-out, then Cancel",
          [&] {
              SetWindowTextW(PageItem(IDC_CONNECT_TIMEOUT), L"1234");
              PropSheet_PressButton(Sheet(), PSBTN_CANCEL);
          })
        .Then("the sheet closed", [&] { return Sheet() == nullptr; },
              [&] {
                  afterCancel = ReadTextFile(ini);
                  ClickItem(Main(), IDC_MAIN_SETTINGS);
              })
        .Then("the sheet again", [&] { return Sheet() != nullptr && Page() != nullptr; },
              [&] {
                  HWND ports = PageItem(IDC_CONNECT_PORT);
                  const LRESULT item = SendMessageW(ports, CB_FINDSTRINGEXACT, -1,
                                                    reinterpret_cast<LPARAM>(L"COM42"));
                  SendMessageW(ports, CB_SETCURSEL, item, 0);
                  PropSheet_PressButton(Sheet(), PSBTN_OK);
              })
        .Then("the sheet closed again", [&] { return Sheet() == nullptr; },
              [&] {
                  titleAfterPortChange = WindowTextOf(Main());
                  ClickItem(Main(), IDC_MAIN_EXIT);
              });
    Run();

    EXPECT_EQ(afterCancel, original);
    EXPECT_EQ(titleAfterPortChange.rfind("COM42 - ", 0), 0u) << titleAfterPortChange;
    EXPECT_NE(ReadTextFile(ini).find("PortName=COM42"), std::string::npos);
}

TEST_F(SettingsSheet, TimeOutOfRangeKeepsTheSheetOpenWithTheRangeMessage)
{
    OpenWithScanner();
    const std::string original = ReadTextFile(ini);
    bool stillOpen = false;
    OpenSheet();
    op.Do("a time-out too short, then OK",
          [&] {
              SetWindowTextW(PageItem(IDC_CONNECT_TIMEOUT), L"99");
              PropSheet_PressButton(Sheet(), PSBTN_OK);
          })
        .Then("the refusal", [&] { return !host.boxes.empty(); },
              [&] { stillOpen = Sheet() != nullptr; });
    CloseAll(PSBTN_CANCEL);
    Run();

    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Введите целое число от 100 до 300000.");
    EXPECT_EQ(ReadTextFile(ini), original);
}

TEST_F(SettingsSheet, ChosenFileThatDoesNotLoadIsReportedAndStillStored)
{
    OpenWithScanner();
    const std::string bad = WorkPath("not-firmware.ldr");
    WriteTextFile(bad, "this is not a firmware container");
    std::string shownPath;
    bool listEnabled = true;
    int rows = -1;
    OpenSheet();
    op.Do("the firmware page", [&] { PropSheet_SetCurSel(Sheet(), nullptr, 1); })
        .Then("its browse button", [&] { return GetDlgItem(Page(), IDC_FIRMWARE_BROWSE) != nullptr; },
              [&] { ClickItem(Page(), IDC_FIRMWARE_BROWSE); })
        .Then("the file-open dialog",
              [&] {
                  HWND chooser = GetLastActivePopup(Sheet());
                  return chooser != Sheet() && IsWindowVisible(chooser);
              },
              [&] {
                  HWND chooser = GetLastActivePopup(Sheet());
                  // The explorer-style dialog's file name box (a combo, or an edit in
                  // older layouts).
                  SetDlgItemTextW(chooser, cmb13, Widen(bad).c_str());
                  SetDlgItemTextW(chooser, edt1, Widen(bad).c_str());
                  PostMessageW(chooser, WM_COMMAND, IDOK, 0);
              })
        .Then("the report", [&] { return !host.boxes.empty(); },
              [&] {
                  shownPath = PageText(IDC_FIRMWARE_FILE);
                  HWND list = PageItem(IDC_FIRMWARE_MODULES);
                  listEnabled = IsEnabled(list);
                  rows = ListCount(list);
              });
    CloseAll(PSBTN_OK);
    Run();

    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].kind, MessageBoxKind::Error);
    EXPECT_EQ(host.boxes[0].text, "В начале ldr-файла отсутствует нужная строка. Файл: \"" + bad + "\".");
    EXPECT_EQ(shownPath, bad);
    EXPECT_FALSE(listEnabled);
    EXPECT_EQ(rows, 0);
    EXPECT_NE(ReadTextFile(ini).find("FileName=" + bad), std::string::npos);
}

}  // namespace
