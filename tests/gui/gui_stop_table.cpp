// The Stop table under Wine, run by hand: every phase of the windows' work stopped N times
// at points spread over the phase, in real time, at a 30000 ms reply time-out where the
// time-out matters. Skipped unless TRELVO_GUI_STOP_TABLE gives N:
//
//   TRELVO_GUI_STOP_TABLE=20 GUI_TEST_FILTER='StopTable.*' GUI_TEST_TIMEOUT=3000 \
//       tests/e2e/gui_windows.sh build/windows build/native win32
//
// Prints one line per phase, tab-separated: phase, stops, then in ms from the Stop (a
// click or key posted to the window from another thread, at a moment of its own) as the
// operator's 10 ms ticks see it: the longest until the row says "Прервано", the longest
// and the median until the work has ended (a run puts the scanner back first), and the
// longest from the stop request to the pump that took it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog_win32.h"
#include "base/version.h"
#include "gui/gui_support.h"
#include "resources/resource_batch.h"
#include "resources/resource_connect.h"
#include "resources/resource_main.h"
#include "resources/resource_search.h"
#include "settings/profile.h"
#include "transport/port_system.h"

namespace {

constexpr UINT kFineTickMs = 10;
constexpr DWORD kSettleMs = 1500;

unsigned Stops()
{
    return static_cast<unsigned>(std::strtoul(EnvText("TRELVO_GUI_STOP_TABLE").c_str(), nullptr, 10));
}

// The operator's Stop: a click on a button, or Escape to a window.
struct StopInput {
    HWND target;
    bool escape;
};

// One phase: how to bring the work into it, how to stop it, and how its end shows.
struct Phase {
    std::string name;
    DWORD spanMs;                   // stops land within this time after the phase began
    std::function<void()> prepare;  // while idle, before each round
    std::function<void()> start;
    std::function<bool()> begun;
    std::function<StopInput()> stop;
    std::function<bool()> ended;
    // The stopped row says "Прервано" (a run then puts the scanner back before it ends);
    // empty: the same as ended.
    std::function<bool()> interrupted;
};

StopInput Click(HWND window, int id)
{
    return {GetDlgItem(window, id), false};
}

StopInput Escape(HWND dialog)
{
    return {KeyTarget(dialog), true};
}

// Either row of the main window's list says "Прервано".
bool Interrupted(const std::function<std::string(int)>& status)
{
    return status(0).rfind("Прервано", 0) == 0 || status(1).rfind("Прервано", 0) == 0;
}

struct Figures {
    std::vector<DWORD> ends;
    DWORD longestInterrupted = 0;
    DWORD longestTaken = 0;
};

// Adds the steps of every round of the phase to the operator.
void AddRounds(COperator& op, CTestHost& host, const Phase& phase, unsigned stops, Figures& figures)
{
    auto begunAt = std::make_shared<DWORD>(0);
    auto stoppedAt = std::make_shared<DWORD>(0);
    auto operatorThread = std::shared_ptr<std::thread>(new std::thread, [](std::thread* thread) {
        if (thread->joinable())
            thread->join();
        delete thread;
    });
    for (unsigned k = 0; k < stops; ++k) {
        const DWORD delay = phase.spanMs * k / stops;
        // The steps run inside the window's own pumps, where a posted Stop would be taken
        // at once: the Stop comes from another thread, at its own moment.
        const DWORD offset = k * 7 % 50;
        op.Do(phase.name + ": prepare", [&phase] {
              if (phase.prepare)
                  phase.prepare();
          })
            .Do(phase.name + ": start", phase.start)
            .Then(phase.name + ": the phase", phase.begun, [begunAt] { *begunAt = GetTickCount(); }, 60000)
            .Then(phase.name + ": the moment", [begunAt, delay] { return GetTickCount() - *begunAt >= delay; },
                  [stoppedAt, operatorThread, offset, &phase] {
                      const StopInput input = phase.stop();
                      *operatorThread = std::thread([stoppedAt, offset, input] {
                          Sleep(offset);
                          *stoppedAt = GetTickCount();
                          if (input.escape)
                              PostKey(input.target, VK_ESCAPE);
                          else
                              PostMessageW(input.target, BM_CLICK, 0, 0);
                      });
                  },
                  120000)
            .Then(phase.name + ": the row interrupted", phase.interrupted ? phase.interrupted : phase.ended,
                  [stoppedAt, operatorThread, &figures] {
                      operatorThread->join();
                      figures.longestInterrupted = std::max(figures.longestInterrupted, GetTickCount() - *stoppedAt);
                  })
            .Then(phase.name + ": the end", phase.ended, [stoppedAt, &figures, &host] {
                figures.ends.push_back(GetTickCount() - *stoppedAt);
                if (host.stopTakenAt >= host.stopRequestedAt && host.stopRequestedAt >= *stoppedAt)
                    figures.longestTaken = std::max(figures.longestTaken, host.stopTakenAt - host.stopRequestedAt);
            })
            // A scanner stopped in a restart is silent for a while: the next round's
            // preparation must find it.
            .Then(phase.name + ": settled", [stoppedAt] { return GetTickCount() - *stoppedAt >= kSettleMs; });
    }
}

void Print(const std::string& name, Figures figures)
{
    std::sort(figures.ends.begin(), figures.ends.end());
    const DWORD longest = figures.ends.empty() ? 0 : figures.ends.back();
    const DWORD median = figures.ends.empty() ? 0 : figures.ends[figures.ends.size() / 2];
    std::printf("STOP-TABLE\t%s\t%zu\t%lu\t%lu\t%lu\t%lu\n", name.c_str(), figures.ends.size(),
                static_cast<unsigned long>(figures.longestInterrupted), static_cast<unsigned long>(longest),
                static_cast<unsigned long>(median), static_cast<unsigned long>(figures.longestTaken));
    std::fflush(stdout);
}

class StopTable : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay() || MuteWritesPort().empty() || Stops() == 0)
            GTEST_SKIP() << "run by hand with TRELVO_GUI_STOP_TABLE=N (see the file's head)";
    }

    // The main window over a settings file of the phase's own.
    std::unique_ptr<CTrelvoDlg> MainWindow(const std::string& port, int baudCode, unsigned timeout)
    {
        const std::string ini = WorkPath("stop-table.ini");
        WriteTextFile(ini, "[Connect]\r\nPortName=" + port + "\r\nBaudRate=" + std::to_string(baudCode) +
                           "\r\nTimeout=" + std::to_string(timeout) + "\r\n[Firmware]\r\nFileName=" +
                           DemoFirmware() + "\r\n");
        profile = OpenNativeProfile(ini);
        return std::make_unique<CTrelvoDlg>(host, NativePortSystem(), *profile, GetVersionText());
    }

    // The rounds of a phase of the main window, from its showing to Exit.
    void RunMainWindowPhase(CTrelvoDlg& window, const Phase& phase)
    {
        CTrelvoDlg* main = &window;
        COperator op(kFineTickMs);
        Figures figures;
        op.Then("the window", [main] { return main->Handle() != nullptr && IsWindowVisible(main->Handle()); });
        AddRounds(op, host, phase, Stops(), figures);
        op.Do("exit", [main] { ClickItem(main->Handle(), IDC_MAIN_EXIT); });
        op.Start();
        window.DoModal();
        EXPECT_EQ(op.Failure(), "");
        Print(phase.name, figures);
    }

    CTestHost host;
    std::unique_ptr<CProfile> profile;
};

TEST_F(StopTable, MainWindow)
{
    struct Setting {
        const char* name;
        std::string port;
        int baudCode;
        unsigned timeout;
        DWORD spanMs;
        std::string stateEnv;   // the scanner's state file, for the phases that look at it
        std::function<bool(const std::string& state, const std::string& status0)> begun;
    };
    auto has = [](const std::string& text, const char* part) { return text.find(part) != std::string::npos; };
    const std::vector<Setting> settings = {
        {"main window: port wait", "COM59", 2, 30000, 2500, "",
         [](const std::string&, const std::string& s) { return !s.empty(); }},
        {"main window: speed search", SimPort(), 5, 30000, 1000, "",
         [](const std::string&, const std::string& s) { return !s.empty(); }},
        {"main window: mode switch, COM port", SimPort(), 2, 30000, 800, "TRELVO_GUI_SIM_STATE",
         [has](const std::string& state, const std::string&) { return has(state, "mode restarting"); }},
        {"main window: transfer, scanner silent (first 5 s)", MuteWritesPort(), 2, 30000, 5000,
         "TRELVO_GUI_MUTE_WRITES_STATE",
         [has](const std::string& state, const std::string&) {
             return has(state, "mode loader\n") && has(state, "speed 6\n");
         }},
    };
    for (const Setting& setting : settings) {
        std::unique_ptr<CTrelvoDlg> window = MainWindow(setting.port, setting.baudCode, setting.timeout);
        CTrelvoDlg* main = window.get();
        auto item = [main](int id) { return GetDlgItem(main->Handle(), id); };
        auto status = [item](int row) { return ListText(item(IDC_MAIN_OPERATIONS), row, 1); };
        const bool scanner = setting.port != "COM59";
        Phase phase{setting.name, setting.spanMs,
                    [&, scanner] {
                        if (scanner)
                            ResetScanner(host, setting.port);
                    },
                    [main] { ClickItem(main->Handle(), IDC_MAIN_START); },
                    [&setting, status, main] {
                        const std::string state =
                            setting.stateEnv.empty() ? std::string() : ReadTextFile(EnvText(setting.stateEnv.c_str()));
                        return main->IsRunning() && setting.begun(state, status(0));
                    },
                    [main] { return Click(main->Handle(), IDC_MAIN_STOP); },
                    [main] { return !main->IsRunning(); }, [status] { return Interrupted(status); }};
        RunMainWindowPhase(*window, phase);
        if (scanner)
            ResetScanner(host, setting.port);
    }

    // Switching back: the second row, once the first is "OK".
    std::unique_ptr<CTrelvoDlg> window = MainWindow(SimPort(), 2, 30000);
    CTrelvoDlg* main = window.get();
    auto status = [main](int row) { return ListText(GetDlgItem(main->Handle(), IDC_MAIN_OPERATIONS), row, 1); };
    Phase back{"main window: switch back", 800, [&] { ResetScanner(host, SimPort()); },
               [main] { ClickItem(main->Handle(), IDC_MAIN_START); },
               [main, status] { return main->IsRunning() && status(0) == "OK"; },
               [main] { return Click(main->Handle(), IDC_MAIN_STOP); }, [main] { return !main->IsRunning(); },
               [status] { return Interrupted(status); }};
    RunMainWindowPhase(*window, back);
    ResetScanner(host, SimPort());
}

TEST_F(StopTable, SettingsSheetAndDeviceSearch)
{
    std::unique_ptr<CTrelvoDlg> window = MainWindow(SilentPort(), 2, 30000);
    CTrelvoDlg* main = window.get();
    auto sheet = [] { return FindDialog("Настройки..."); };
    auto page = [sheet] { return PropSheet_GetCurrentPageHwnd(sheet()); };
    auto pageItem = [page](int id) { return GetDlgItem(page(), id); };
    auto busy = [pageItem] { return !IsEnabled(pageItem(IDC_CONNECT_SEARCH)); };
    auto action = [&](const char* name, int button) {
        return Phase{name, 5000, {}, [page, button] { ClickItem(page(), button); }, busy,
                     [page, button] { return Click(page(), button); }, [busy] { return !busy(); }};
    };
    const Phase check = action("settings: link check (first 5 s)", IDC_CONNECT_CHECK);
    const Phase speed = action("settings: speed change (first 5 s)", IDC_CONNECT_SET_SPEED);
    const Phase details{"settings: device information (first 5 s)", 5000, {},
                        [page] { ClickItem(page(), IDC_CONNECT_DETAILS); },
                        [] { return FindCaptionlessDialog() != nullptr; },
                        [] { return Escape(FindCaptionlessDialog()); },
                        [] { return FindCaptionlessDialog() == nullptr; }};
    auto search = [] { return FindDialog("Поиск оборудования..."); };
    const Phase searching{"device search", 1500, {}, [search] { ClickItem(search(), IDC_SEARCH_START); },
                          [search] { return !IsEnabled(GetDlgItem(search(), IDC_SEARCH_START)); },
                          [search] { return Click(search(), IDC_SEARCH_STOP); },
                          [search] { return IsEnabled(GetDlgItem(search(), IDC_SEARCH_START)); }};

    COperator op(kFineTickMs);
    Figures checkFigures, speedFigures, detailsFigures, searchFigures;
    op.Then("the window", [main] { return main->Handle() != nullptr && IsWindowVisible(main->Handle()); },
            [main] { ClickItem(main->Handle(), IDC_MAIN_SETTINGS); })
        .Then("the sheet", [sheet, page] { return sheet() != nullptr && page() != nullptr; },
              [pageItem] { SendMessageW(pageItem(IDC_CONNECT_SPEED), CB_SETCURSEL, 5, 0); });
    AddRounds(op, host, check, Stops(), checkFigures);
    AddRounds(op, host, speed, Stops(), speedFigures);
    AddRounds(op, host, details, Stops(), detailsFigures);
    op.Do("the search window", [page] { ClickItem(page(), IDC_CONNECT_SEARCH); })
        .Then("the search window open", [search] { return search() != nullptr; });
    AddRounds(op, host, searching, Stops(), searchFigures);
    op.Do("closing the search", [search] { PressKey(search(), VK_ESCAPE); })
        .Then("the search closed", [search, busy] { return search() == nullptr && !busy(); },
              [sheet] { PropSheet_PressButton(sheet(), PSBTN_CANCEL); })
        .Then("the sheet closed", [sheet] { return sheet() == nullptr; },
              [main] { ClickItem(main->Handle(), IDC_MAIN_EXIT); });
    op.Start();
    window->DoModal();
    EXPECT_EQ(op.Failure(), "");
    Print(check.name, checkFigures);
    Print(speed.name, speedFigures);
    Print(details.name, detailsFigures);
    Print(searching.name, searchFigures);
}

TEST_F(StopTable, BatchWindow)
{
    std::unique_ptr<CTrelvoDlg> window = MainWindow(SimPort(), 2, 30000);
    CTrelvoDlg* main = window.get();
    HWND batch = nullptr;
    auto list = [&batch] { return GetDlgItem(batch, IDC_BATCH_PORTS); };
    auto idle = [&batch] { return IsEnabled(GetDlgItem(batch, IDC_BATCH_START)); };
    auto rowOf = [&](const std::string& port) {
        for (int row = 0; row < ListCount(list()); ++row)
            if (ListText(list(), row, 0) == port)
                return row;
        return -1;
    };
    auto tickOnly = [&](const std::string& port) {
        for (int row = 0; row < ListCount(list()); ++row)
            ListView_SetCheckState(list(), row, ListText(list(), row, 0) == port ? TRUE : FALSE);
    };
    const Phase search{"batch window: search", 1500, {}, [&batch] { ClickItem(batch, IDC_BATCH_SEARCH); },
                       [idle] { return !idle(); }, [&batch] { return Click(batch, IDC_BATCH_STOP); }, idle, {}};
    const Phase run{"batch window: run, scanner silent (first 5 s)", 5000,
                    [&] {
                        ResetScanner(host, MuteWritesPort());
                        tickOnly(MuteWritesPort());
                    },
                    [&batch] { ClickItem(batch, IDC_BATCH_START); },
                    [idle] {
                        const std::string state = MuteWritesState();
                        return !idle() && state.find("mode loader\n") != std::string::npos &&
                               state.find("speed 6\n") != std::string::npos;
                    },
                    [&batch] { return Click(batch, IDC_BATCH_STOP); }, idle,
                    [&] { return ListText(list(), rowOf(MuteWritesPort()), 3).rfind("Прервано", 0) == 0; }};

    COperator op(kFineTickMs);
    Figures searchFigures, runFigures;
    op.Then("the window", [main] { return main->Handle() != nullptr && IsWindowVisible(main->Handle()); },
            [main] { PostMessageW(main->Handle(), WM_SYSCOMMAND, IDM_BATCH_UPDATE, 0); })
        .Then("the batch window", [&] { return (batch = FindDialog("Пакетное обновление")) != nullptr; });
    AddRounds(op, host, search, Stops(), searchFigures);
    AddRounds(op, host, run, Stops(), runFigures);
    op.Then("the batch idle", idle, [&batch] { ClickItem(batch, IDCANCEL); })
        .Then("the batch closed", [&batch] { return !IsWindow(batch); },
              [main] { ClickItem(main->Handle(), IDC_MAIN_EXIT); });
    op.Start();
    window->DoModal();
    EXPECT_EQ(op.Failure(), "");
    Print(search.name, searchFigures);
    Print(run.name, runFigures);
    ResetScanner(host, MuteWritesPort());
}

}  // namespace
