// The main window with its settings sheet, over a settings file of the test's making.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/main_dialog_win32.h"
#include "base/version.h"
#include "gui/gui_support.h"
#include "resources/resource_main.h"
#include "settings/profile.h"
#include "transport/port_system.h"

inline const char kSheetTitle[] = "Настройки...";

class SettingsSheet : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay() || SimPort().empty())
            GTEST_SKIP() << "needs a display and the simulator (tests/e2e/gui_windows.sh)";
        ResetScanner(host, SimPort());
        ini = WorkPath("settings.ini");
    }

    void Open(const std::string& iniText)
    {
        WriteTextFile(ini, iniText);
        profile = OpenNativeProfile(ini);
        window = std::make_unique<CTrelvoDlg>(host, NativePortSystem(), *profile, GetVersionText());
    }

    // A file naming the simulated scanner and the demo firmware.
    void OpenWithScanner()
    {
        Open("[Connect]\r\nPortName=" + SimPort() + "\r\nBaudRate=2\r\nTimeout=3000\r\n"
             "[Firmware]\r\nFileName=" + DemoFirmware() + "\r\n");
    }

    HWND Main() const { return window->Handle(); }
    HWND Sheet() const { return FindDialog(kSheetTitle); }
    HWND Page() const { return PropSheet_GetCurrentPageHwnd(Sheet()); }
    HWND PageItem(int id) const { return GetDlgItem(Page(), id); }
    std::string PageText(int id) const { return WindowTextOf(PageItem(id)); }
    bool Shown() const { return Main() != nullptr && IsWindowVisible(Main()); }

    // Steps that open the sheet from the main window.
    void OpenSheet()
    {
        op.Then("the window", [&] { return Shown(); }, [&] { ClickItem(Main(), IDC_MAIN_SETTINGS); })
            .Then("the sheet", [&] { return Sheet() != nullptr && Page() != nullptr; });
    }
    void CloseAll(int sheetButton)
    {
        op.Do("closing the sheet", [&, sheetButton] { PropSheet_PressButton(Sheet(), sheetButton); })
            .Then("the sheet closed", [&] { return Sheet() == nullptr; },
                  [&] { ClickItem(Main(), IDC_MAIN_EXIT); });
    }

    void Run()
    {
        op.Start();
        window->DoModal();
        EXPECT_EQ(op.Failure(), "");
        EXPECT_TRUE(op.Done());
    }

    CTestHost host;
    COperator op;
    std::string ini;
    std::unique_ptr<CProfile> profile;
    std::unique_ptr<CTrelvoDlg> window;
};

