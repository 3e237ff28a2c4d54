// The main window against a simulated scanner: runs, failures with the retry question,
// Stop, closing during a run, Escape and Enter, and the title.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "app/main_dialog_win32.h"
#include "base/strings.h"
#include "base/version.h"
#include "gui/gui_support.h"
#include "resources/resource_main.h"
#include "settings/profile.h"
#include "transport/port_system.h"

namespace {

const std::string kProduct = " - Обновление прошивок в сканерах QZT " TRELVO_VERSION_TEXT;
const char kQuestionEnd[] = "\r\n\r\nПродолжить выполнение?";

class MainWindow : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay() || SimPort().empty())
            GTEST_SKIP() << "needs a display and the simulator (tests/e2e/gui_windows.sh)";
    }

    // The window over a settings file naming the port and the demo firmware; a scanner
    // on the port is put back to its working program first.
    void Open(const std::string& port, bool scanner = true, unsigned timeout = 3000)
    {
        if (scanner)
            ResetScanner(host, port);
        const std::string ini = WorkPath("main-window.ini");
        WriteTextFile(ini, "[Connect]\r\nPortName=" + port + "\r\nBaudRate=2\r\nTimeout=" +
                           std::to_string(timeout) + "\r\n"
                           "[Firmware]\r\nFileName=" + DemoFirmware() + "\r\n");
        profile = OpenNativeProfile(ini);
        window = std::make_unique<CTrelvoDlg>(host, NativePortSystem(), *profile, GetVersionText());
    }

    HWND Main() const { return window->Handle(); }
    HWND Item(int id) const { return GetDlgItem(Main(), id); }
    std::string Status(int row) const { return ListText(Item(IDC_MAIN_OPERATIONS), row, 1); }
    bool Shown() const { return Main() != nullptr && IsWindowVisible(Main()); }
    bool Running() const { return window->IsRunning(); }
    bool Transferring() const { return Status(0).rfind("Выполнено:", 0) == 0; }

    INT_PTR Run()
    {
        op.Start();
        const INT_PTR result = window->DoModal();
        EXPECT_EQ(op.Failure(), "");
        EXPECT_TRUE(op.Done());
        return result;
    }

    std::string SimState() const { return ReadTextFile(EnvText("TRELVO_GUI_SIM_STATE")); }

    CTestHost host;
    COperator op;
    std::unique_ptr<CProfile> profile;
    std::unique_ptr<CTrelvoDlg> window;
};

TEST_F(MainWindow, RunUpdatesTheScannerAndShowsItsSerialInTheTitle)
{
    Open(SimPort());
    std::string before, during, after, status0, status1;
    bool stopEnabledDuring = false, startEnabledDuring = true;
    op.Then("the window", [&] { return Shown(); },
            [&] {
                before = WindowTextOf(Main());
                SaveScreenshot(Main(), "main-idle");
                ClickItem(Main(), IDC_MAIN_START);
            })
        .Then("the transfer", [&] { return Transferring(); },
              [&] {
                  during = WindowTextOf(Main());
                  stopEnabledDuring = IsEnabled(Item(IDC_MAIN_STOP));
                  startEnabledDuring = IsEnabled(Item(IDC_MAIN_START));
                  SaveScreenshot(Main(), "main-transfer");
              })
        .Then("the end of the run", [&] { return !Running(); },
              [&] {
                  after = WindowTextOf(Main());
                  status0 = Status(0);
                  status1 = Status(1);
                  SaveScreenshot(Main(), "main-done");
                  ClickItem(Main(), IDC_MAIN_EXIT);
              },
              90000);
    EXPECT_EQ(Run(), IDOK);

    EXPECT_EQ(before, SimPort() + kProduct);
    EXPECT_EQ(during, SimPort() + " (з/н: -)" + kProduct);
    EXPECT_EQ(after, SimPort() + " (з/н: 1234567)" + kProduct);
    EXPECT_TRUE(stopEnabledDuring);
    EXPECT_FALSE(startEnabledDuring);
    EXPECT_EQ(status0, "OK");
    EXPECT_EQ(status1, "OK");
    EXPECT_TRUE(host.boxes.empty());
    const std::string state = SimState();
    EXPECT_NE(state.find("image match"), std::string::npos) << state;
    EXPECT_NE(state.find("mode application"), std::string::npos) << state;
}

TEST_F(MainWindow, FailedRowIsRetriedOnYesAndEndsTheRunOnNo)
{
    Open(FailingPort());
    host.answers = {true, false};
    std::string status0, status1;
    op.Then("the window", [&] { return Shown(); }, [&] { ClickItem(Main(), IDC_MAIN_START); })
        .Then("the run", [&] { return Running(); })
        .Then("the end of the run", [&] { return !Running(); },
              [&] {
                  status0 = Status(0);
                  status1 = Status(1);
                  ClickItem(Main(), IDC_MAIN_EXIT);
              },
              90000);
    Run();

    // The run ended with the scanner in its loader, back at its speed: the row says so.
    EXPECT_EQ(status0, "Ошибка. Сканер остался в режиме загрузчика на скорости 9600 бод: обновление нужно запустить ещё раз.");
    EXPECT_EQ(status1, "");
    ASSERT_EQ(host.boxes.size(), 2u);
    for (const CTestHost::Box& box : host.boxes) {
        EXPECT_EQ(box.kind, MessageBoxKind::Question);
        EXPECT_EQ(box.caption, "Ошибка");
        EXPECT_EQ(box.text.rfind("(147) ", 0), 0u) << box.text;
        EXPECT_EQ(box.text.substr(box.text.size() - std::string(kQuestionEnd).size()), kQuestionEnd);
    }
}

TEST_F(MainWindow, RetryQuestionIsOwnedByTheWindowWhileAnotherWindowIsInFront)
{
    // A port that is not there: the run's open fails and it asks, with a real box.
    Open("COM59", false);
    host.realQuestions = true;
    HWND other = nullptr, owner = nullptr, main = nullptr;
    bool mainEnabled = true, otherActive = false;
    op.Then("the window", [&] { return Shown(); },
            [&] {
                // Another window in front, as another program's would be.
                other = CreateWindowExW(0, L"STATIC", L"другое окно", WS_POPUP | WS_VISIBLE | WS_CAPTION,
                                        40, 40, 240, 80, nullptr, nullptr, nullptr, nullptr);
                SetActiveWindow(other);
                otherActive = GetActiveWindow() == other;
                ClickItem(Main(), IDC_MAIN_START);
            })
        .Then("the question", [&] { return FindDialog("Ошибка") != nullptr; },
              [&] {
                  HWND box = FindDialog("Ошибка");
                  owner = GetWindow(box, GW_OWNER);
                  main = Main();
                  mainEnabled = IsWindowEnabled(Main()) != FALSE;
                  SaveScreenshot(box, "main-question");
                  PostMessageW(box, WM_COMMAND, IDNO, 0);
              })
        .Then("the end of the run", [&] { return !Running(); },
              [&] {
                  DestroyWindow(other);
                  ClickItem(Main(), IDC_MAIN_EXIT);
              });
    Run();

    EXPECT_TRUE(otherActive);
    EXPECT_EQ(owner, main);
    EXPECT_NE(main, nullptr);
    EXPECT_FALSE(mainEnabled);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, std::string(LoadText(IDS_PORT_UNAVAILABLE)) + kQuestionEnd);
}

// The scanner falls silent in the transfer, at a 30000 ms reply time-out: Stop ends the
// run at once, with the row "Прервано" and no question.
TEST_F(MainWindow, StopWhileTheTransferWaitsOnASilentScannerEndsTheRunAtOnce)
{
    Open(MuteWritesPort(), true, 30000);
    std::string status0, status1;
    DWORD waiting = 0, stopped = 0, endedAfter = 0;
    bool visible = false;
    // In its loader at the transfer's speed: the first write has gone out unanswered.
    auto transferring = [] {
        const std::string state = MuteWritesState();
        return state.find("mode loader\n") != std::string::npos &&
               state.find("speed 6\n") != std::string::npos;
    };
    op.Then("the window", [&] { return Shown(); }, [&] { ClickItem(Main(), IDC_MAIN_START); })
        .Then("the silent transfer", transferring, [&] { waiting = GetTickCount(); })
        .Then("a second of silence", [&] { return GetTickCount() - waiting >= 1000; },
              [&] {
                  stopped = GetTickCount();
                  ClickItem(Main(), IDC_MAIN_STOP);
              })
        .Then("the end of the run", [&] { return !Running(); },
              [&] {
                  endedAfter = GetTickCount() - stopped;
                  status0 = Status(0);
                  status1 = Status(1);
                  visible = Shown();
                  ClickItem(Main(), IDC_MAIN_EXIT);
              });
    Run();

    EXPECT_EQ(status0, "Прервано. Сканер остался в режиме загрузчика на скорости 9600 бод: обновление нужно запустить ещё раз.");
    EXPECT_EQ(status1, "");
    EXPECT_TRUE(visible);
    EXPECT_TRUE(host.boxes.empty());
    // A quarter of a second, and the operator's own ticks and Wine's scheduling besides.
    EXPECT_LT(host.stopTakenAt - host.stopRequestedAt, 250u);
    EXPECT_LT(endedAfter, 500u);
}

TEST_F(MainWindow, ClosingDuringARunStopsItAndThenCloses)
{
    Open(SimPort());
    op.Then("the window", [&] { return Shown(); }, [&] { ClickItem(Main(), IDC_MAIN_START); })
        .Then("the transfer", [&] { return Transferring(); },
              [&] { PostMessageW(Main(), WM_CLOSE, 0, 0); });
    EXPECT_EQ(Run(), IDOK);

    EXPECT_TRUE(host.boxes.empty());
    // The update was cut off in the loader, so the scanner is still there.
    EXPECT_NE(SimState().find("mode loader"), std::string::npos);
}

TEST_F(MainWindow, EscapeAndEnterNeverCloseTheWindow)
{
    Open(SimPort());
    DWORD pressed = 0;
    auto after = [&](DWORD ms) { return [&pressed, ms] { return GetTickCount() - pressed >= ms; }; };
    std::string stoppedByEnter, stoppedByEscape;
    bool idleAfterEscape = false;
    op.Then("the window", [&] { return Shown(); },
            [&] {
                PressKey(Main(), VK_ESCAPE);
                pressed = GetTickCount();
            })
        .Then("a moment after Escape", after(500),
              [&] {
                  idleAfterEscape = Shown() && !Running();
                  // Idle, Enter presses the default button: Start.
                  PressKey(Main(), VK_RETURN);
              })
        .Then("the run started by Enter", [&] { return Running(); },
              [&] { PressKey(Main(), VK_RETURN); })  // running, the default is Stop
        .Then("the run stopped by Enter", [&] { return !Running(); },
              [&] {
                  stoppedByEnter = Status(0);
                  ClickItem(Main(), IDC_MAIN_START);
              })
        .Then("the second run's first row", [&] { return Running() && !Status(0).empty(); },
              [&] { PressKey(Main(), VK_ESCAPE); })
        .Then("the run stopped by Escape", [&] { return !Running(); },
              [&] {
                  stoppedByEscape = Status(0);
                  ClickItem(Main(), IDC_MAIN_EXIT);
              });
    EXPECT_EQ(Run(), IDOK);

    EXPECT_TRUE(idleAfterEscape);
    EXPECT_THAT(stoppedByEnter, testing::StartsWith("Прервано"));
    EXPECT_THAT(stoppedByEscape, testing::StartsWith("Прервано"));
    EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
