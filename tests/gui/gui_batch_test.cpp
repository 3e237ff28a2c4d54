// The batch window, opened from the main window's system menu, against the simulated
// scanners: the search over every port at once, the update of three scanners at once,
// a failure that stays on its row, Stop, closing during a run, and the result log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "app/main_dialog_win32.h"
#include "base/utf.h"
#include "base/version.h"
#include "gui/gui_support.h"
#include "resources/resource_batch.h"
#include "resources/resource_main.h"
#include "settings/profile.h"
#include "transport/port_system.h"

namespace {

const char kBatchTitle[] = "Пакетное обновление";
enum Column { kPort, kSpeed, kScanner, kState };

class BatchWindow : public testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveDisplay() || SecondSimPort().empty())
            GTEST_SKIP() << "needs a display and the simulators (tests/e2e/gui_windows.sh)";
        // Every scanner in its working program at its own speed, whatever ran before.
        for (const std::string& port : {SimPort(), SecondSimPort(), FailingPort(), MuteWritesPort()})
            ResetScanner(host, port);
        ResetScanner(host, SearchPort(), kSearchPortSpeedCode);
        OpenMain(3000);
    }

    void OpenMain(unsigned timeout)
    {
        main.reset();
        logFile = WorkPath("batch-results.jsonl");
        WriteTextFile(logFile, "");
        const std::string ini = WorkPath("batch.ini");
        WriteTextFile(ini, "[Connect]\r\nPortName=" + SimPort() + "\r\nBaudRate=2\r\nTimeout=" +
                           std::to_string(timeout) + "\r\n"
                           "[Firmware]\r\nFileName=" + DemoFirmware() + "\r\n"
                           "[Log]\r\nFileName=" + logFile + "\r\n");
        profile = OpenNativeProfile(ini);
        main = std::make_unique<CTrelvoDlg>(host, NativePortSystem(), *profile, GetVersionText());
    }

    void TearDown() override
    {
        // A run cut short leaves scanners in their loader; the next test starts afresh.
        if (main)
            for (const std::string& port : {SimPort(), SecondSimPort(), FailingPort(), MuteWritesPort()})
                ResetScanner(host, port);
        if (main)
            ResetScanner(host, SearchPort(), kSearchPortSpeedCode);
    }

    HWND Batch() const { return FindDialog(kBatchTitle); }
    HWND List() const { return GetDlgItem(batch, IDC_BATCH_PORTS); }
    int RowOf(const std::string& port) const
    {
        for (int row = 0; row < ListCount(List()); ++row)
            if (ListText(List(), row, kPort) == port)
                return row;
        return -1;
    }
    std::string Cell(const std::string& port, int column) const
    {
        const int row = RowOf(port);
        return row < 0 ? "<no row>" : ListText(List(), row, column);
    }
    bool Ticked(const std::string& port) const
    {
        const int row = RowOf(port);
        return row >= 0 && ListView_GetCheckState(List(), row);
    }
    void Tick(const std::string& port, bool ticked) const
    {
        ListView_SetCheckState(List(), RowOf(port), ticked ? TRUE : FALSE);
    }
    bool Idle() const { return IsEnabled(GetDlgItem(batch, IDC_BATCH_START)); }
    bool AllSay(const std::vector<std::string>& ports, const std::string& prefix) const
    {
        for (const std::string& port : ports)
            if (Cell(port, kState).rfind(prefix, 0) != 0)
                return false;
        return true;
    }

    // Opens the batch window from the main window's system menu, ticks exactly the given
    // ports, starts and hands over to the test's steps.
    COperator& OpenAndStart(const std::vector<std::string>& ports)
    {
        op.Then("the main window", [&] { return main->Handle() != nullptr && IsWindowVisible(main->Handle()); },
                [&] { PostMessageW(main->Handle(), WM_SYSCOMMAND, IDM_BATCH_UPDATE, 0); })
            .Then("the batch window", [&] { return (batch = Batch()) != nullptr && RowOf(SimPort()) >= 0; },
                  [this, ports] {
                      for (const std::string& port : ports)
                          Tick(port, true);
                      ClickItem(batch, IDC_BATCH_START);
                  });
        return op;
    }

    void CloseBatchThenMain()
    {
        op.Then("the batch window idle", [&] { return Idle(); }, [&] { ClickItem(batch, IDCANCEL); })
            .Then("the batch window closed", [&] { return !IsWindow(batch); },
                  [&] { ClickItem(main->Handle(), IDC_MAIN_EXIT); });
    }

    void Run()
    {
        op.Start();
        main->DoModal();
        EXPECT_EQ(op.Failure(), "");
        EXPECT_TRUE(op.Done());
    }

    // One line per record; the port of each.
    std::map<std::string, std::string> LogRecords() const
    {
        std::map<std::string, std::string> records;
        std::istringstream lines(ReadTextFile(logFile));
        for (std::string line; std::getline(lines, line);) {
            const size_t at = line.find("\"port\":\"");
            if (at == std::string::npos || line.front() != '{' || line.back() != '}')
                records["<bad>"] = line;
            else
                records[line.substr(at + 8, line.find('"', at + 8) - at - 8)] = line;
        }
        return records;
    }

    static constexpr int kSearchPortSpeedCode = 5;
    CTestHost host;
    COperator op;
    std::unique_ptr<CProfile> profile;
    std::unique_ptr<CTrelvoDlg> main;
    HWND batch = nullptr;
    std::string logFile;
};

// The operator's way: the menu (which does nothing during the main window's run), the
// search, and Start with the ports the search ticked: four scanners at once, one of which
// refuses every flash write.
TEST_F(BatchWindow, SearchTicksTheScannersAndStartUpdatesThemAllAtOnce)
{
    const std::vector<std::string> good = {SimPort(), SearchPort(), SecondSimPort()};
    std::string menuText, title;
    UINT separator = 0;
    DWORD mainStopped = 0;
    bool untickedAtOpening = true, batchDuringMainRun = false, overlapped = false;
    std::map<std::string, std::vector<std::string>> found;
    std::map<std::string, std::string> states;
    op.Then("the main window", [&] { return main->Handle() != nullptr && IsWindowVisible(main->Handle()); },
            [&] {
                HMENU menu = GetSystemMenu(main->Handle(), FALSE);
                wchar_t text[64] = {};
                GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
                menuText = Narrow(text);
                separator = GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR;
                ClickItem(main->Handle(), IDC_MAIN_START);
            })
        .Then("the main window's run", [&] { return main->IsRunning(); },
              [&] { PostMessageW(main->Handle(), WM_SYSCOMMAND, IDM_BATCH_UPDATE, 0); })
        .Then("a moment of the run", [&] { return true; },
              [&] {
                  batchDuringMainRun = Batch() != nullptr;
                  ClickItem(main->Handle(), IDC_MAIN_STOP);
                  mainStopped = GetTickCount();
              })
        // A scanner cut off in a mode change is silent while it restarts.
        .Then("the main window idle", [&] { return !main->IsRunning() && GetTickCount() - mainStopped > 1000; },
              [&] {
                  // The stopped run may have left the scanner in its loader.
                  ResetScanner(host, SimPort());
                  PostMessageW(main->Handle(), WM_SYSCOMMAND, IDM_BATCH_UPDATE, 0);
              })
        .Then("the batch window", [&] { return (batch = Batch()) != nullptr && RowOf(SilentPort()) >= 0; },
              [&] {
                  for (int row = 0; row < ListCount(List()); ++row)
                      untickedAtOpening &= !ListView_GetCheckState(List(), row);
                  ClickItem(batch, IDC_BATCH_SEARCH);
              })
        .Then("the search under way", [&] { return !Idle(); })
        .Then("the search's end", [&] { return Idle(); },
              [&] {
                  for (const std::string& port :
                       {SimPort(), SearchPort(), SecondSimPort(), FailingPort(), SilentPort()})
                      found[port] = {Ticked(port) ? "ticked" : "unticked", Cell(port, kSpeed),
                                     Cell(port, kScanner), Cell(port, kState)};
                  SaveScreenshot(batch, "batch-search");
                  // The scanner that falls silent in its transfer is another test's.
                  Tick(MuteWritesPort(), false);
                  ClickItem(batch, IDC_BATCH_START);
              },
              60000)
        .Then("the three transferring at once", [&] { return AllSay(good, "Выполнено:"); },
              [&] {
                  overlapped = true;
                  SaveScreenshot(batch, "batch-transfer");
              },
              60000)
        .Then("every port's end", [&] { return Idle(); },
              [&] {
                  for (const std::string& port : {SimPort(), SearchPort(), SecondSimPort(), FailingPort()})
                      states[port] = Cell(port, kState);
                  title = WindowTextOf(batch);
                  SaveScreenshot(batch, "batch-done");
              },
              90000);
    CloseBatchThenMain();
    Run();

    EXPECT_EQ(menuText, "Пакетное обновление...");
    EXPECT_NE(separator, 0u);
    EXPECT_FALSE(batchDuringMainRun);
    EXPECT_TRUE(untickedAtOpening);
    EXPECT_EQ(found[SimPort()][1], "9600");
    EXPECT_EQ(found[SearchPort()][1], "57600");
    EXPECT_EQ(found[SecondSimPort()][1], "9600");
    for (const std::string& port : {SimPort(), SearchPort(), SecondSimPort(), FailingPort()}) {
        EXPECT_EQ(found[port][0], "ticked") << port;
        EXPECT_NE(found[port][2].find(" (з/н: 1234567)"), std::string::npos) << port << ": " << found[port][2];
    }
    EXPECT_EQ(found[SilentPort()], (std::vector<std::string>{"unticked", "", "", "Не обнаружено"}));

    EXPECT_TRUE(overlapped);
    for (const std::string& port : good)
        EXPECT_EQ(states[port], "OK") << port;
    EXPECT_EQ(states[FailingPort()].rfind("(147) ", 0), 0u) << states[FailingPort()];
    EXPECT_EQ(title, "Готово: 3 из 4");
    EXPECT_TRUE(host.boxes.empty());
    for (const char* state : {"TRELVO_GUI_SIM_STATE", "TRELVO_GUI_SEARCH_STATE", "TRELVO_GUI_SECOND_STATE"}) {
        const std::string text = ReadTextFile(EnvText(state));
        EXPECT_NE(text.find("image match"), std::string::npos) << state << ": " << text;
        EXPECT_NE(text.find("mode application"), std::string::npos) << state << ": " << text;
    }
    const std::map<std::string, std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 4u);
    for (const std::string& port : good) {
        ASSERT_EQ(records.count(port), 1u) << port;
        EXPECT_NE(records.at(port).find("\"ok\":true"), std::string::npos) << records.at(port);
        EXPECT_NE(records.at(port).find("\"serial\":1234567"), std::string::npos) << records.at(port);
    }
    EXPECT_NE(records.at(FailingPort()).find("\"ok\":false"), std::string::npos);
}

// Three scanners transferring and a fourth silent in its transfer, at a 30000 ms reply
// time-out: Stop ends every port at once as "Прервано", the silent one too, and its
// record says it was stopped. Closing the window during the next run stops it, then
// closes.
TEST_F(BatchWindow, StopEndsEveryPortAtOnceAndClosingStopsThenCloses)
{
    OpenMain(30000);
    const std::vector<std::string> working = {SimPort(), SearchPort(), SecondSimPort()};
    std::vector<std::string> ports = working;
    ports.push_back(MuteWritesPort());
    DWORD stoppedAt = 0, endedAfter = 0;
    std::vector<std::string> states;
    std::string title;
    OpenAndStart(ports)
        .Then("three transferring, one silent in its transfer",
              [&] {
                  return AllSay(working, "Выполнено:") &&
                         MuteWritesState().find("speed 6\n") != std::string::npos;
              },
              [&] {
                  stoppedAt = GetTickCount();
                  ClickItem(batch, IDC_BATCH_STOP);
              },
              60000)
        .Then("every port stopped", [&] { return Idle(); },
              [&] {
                  endedAfter = GetTickCount() - stoppedAt;
                  for (const std::string& port : ports)
                      states.push_back(Cell(port, kState));
                  title = WindowTextOf(batch);
                  ClickItem(batch, IDC_BATCH_START);
              })
        .Then("the second run transferring", [&] { return AllSay(working, "Выполнено:"); },
              [&] { PostMessageW(batch, WM_CLOSE, 0, 0); },
              60000)
        .Then("the batch window closed after its ports", [&] { return !IsWindow(batch); },
              [&] { ClickItem(main->Handle(), IDC_MAIN_EXIT); });
    Run();

    for (const std::string& state : states)
        EXPECT_THAT(state, testing::StartsWith("Прервано. Сканер остался в режиме загрузчика"));
    EXPECT_EQ(title, "Готово: 0 из 4");
    // Every port puts its scanner back at the speed it was found at after the stop; the
    // stop itself is taken at the next pump.
    EXPECT_LT(endedAfter, 1000u);
    EXPECT_TRUE(host.boxes.empty());
    // Both runs ended in every scanner's loader, and each port left a record per run.
    EXPECT_NE(ReadTextFile(EnvText("TRELVO_GUI_SIM_STATE")).find("mode loader"), std::string::npos);
    const std::string log = ReadTextFile(logFile);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8);
    const std::string muteRecord = LogRecords()[MuteWritesPort()];
    // Stopped, not failed: the record says so, and says only how the scanner was left.
    EXPECT_NE(muteRecord.find("\"stopped\":true,\"failure\":\"Сканер остался в режиме загрузчика"),
              std::string::npos) << muteRecord;
}

// The scanner on a port is unplugged or plugged in: its port leaves the system's list or
// comes back to it under its own value name.
class CPortListing {
public:
    explicit CPortListing(std::string port) : port(std::move(port)) {}
    ~CPortListing() { Plug(); }

    void Unplug()
    {
        HKEY key = Key();
        wchar_t name[256];
        wchar_t data[64];
        for (DWORD index = 0;; ++index) {
            DWORD nameSize = 256, dataSize = sizeof data;
            if (RegEnumValueW(key, index, name, &nameSize, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(data), &dataSize) != ERROR_SUCCESS)
                break;
            if (Narrow(data) == port) {
                valueName = name;
                RegDeleteValueW(key, name);
                break;
            }
        }
        RegCloseKey(key);
    }
    void Plug()
    {
        if (valueName.empty())
            return;
        HKEY key = Key();
        const std::wstring data = Widen(port);
        RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       DWORD((data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        valueName.clear();
    }

private:
    static HKEY Key()
    {
        HKEY key = nullptr;
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
        return key;
    }

    std::string port;
    std::wstring valueName;
};

// "Автоматически": the first scanner is updated while the second port waits with no
// scanner; the second, plugged in once the first is done, is taken as it arrives. The
// first, left connected, is not taken again; the title counts both; Stop ends it.
TEST_F(BatchWindow, AutomaticTakesEachScannerAsItArrives)
{
    CPortListing second(SecondSimPort());
    std::vector<std::string> whileWaiting, afterBoth;
    std::string titleAfterFirst, titleAfterBoth;
    op.Then("the main window", [&] { return main->Handle() != nullptr && IsWindowVisible(main->Handle()); },
            [&] { PostMessageW(main->Handle(), WM_SYSCOMMAND, IDM_BATCH_UPDATE, 0); })
        .Then("the batch window", [&] { return (batch = Batch()) != nullptr && RowOf(SecondSimPort()) >= 0; },
              [&] {
                  Tick(SimPort(), true);
                  Tick(SecondSimPort(), true);
                  ClickItem(batch, IDC_BATCH_AUTOMATIC);
                  // Within one step: the window's list of rows does not follow it meanwhile.
                  second.Unplug();
                  ClickItem(batch, IDC_BATCH_START);
              })
        .Then("the first scanner done, the second port waiting",
              [&] { return Cell(SimPort(), kState) == "OK" && Cell(SecondSimPort(), kState) == "Ожидание"; },
              [&] {
                  whileWaiting = {Cell(SimPort(), kScanner), Cell(SecondSimPort(), kScanner)};
                  titleAfterFirst = WindowTextOf(batch);
                  SaveScreenshot(batch, "batch-automatic-waiting");
                  second.Plug();
              },
              60000)
        .Then("the second scanner done", [&] { return Cell(SecondSimPort(), kState) == "OK"; },
              [&] {
                  afterBoth = {Cell(SimPort(), kState), Cell(SecondSimPort(), kScanner)};
                  titleAfterBoth = WindowTextOf(batch);
                  SaveScreenshot(batch, "batch-automatic");
                  ClickItem(batch, IDC_BATCH_STOP);
              },
              60000);
    CloseBatchThenMain();
    Run();

    EXPECT_THAT(whileWaiting[0], testing::HasSubstr("(з/н: 1234567)"));
    EXPECT_EQ(whileWaiting[1], "");
    EXPECT_EQ(titleAfterFirst, "Готово: 1, ошибок: 0");
    EXPECT_EQ(afterBoth[0], "OK");
    EXPECT_THAT(afterBoth[1], testing::HasSubstr("(з/н: 1234567)"));
    EXPECT_EQ(titleAfterBoth, "Готово: 2, ошибок: 0");
    EXPECT_TRUE(host.boxes.empty());
    const std::string log = ReadTextFile(logFile);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2) << log;
    const std::map<std::string, std::string> records = LogRecords();
    for (const std::string& port : {SimPort(), SecondSimPort()}) {
        ASSERT_EQ(records.count(port), 1u) << port;
        EXPECT_NE(records.at(port).find("\"ok\":true"), std::string::npos) << records.at(port);
    }
    for (const char* state : {"TRELVO_GUI_SIM_STATE", "TRELVO_GUI_SECOND_STATE"})
        EXPECT_NE(ReadTextFile(EnvText(state)).find("image match"), std::string::npos) << state;
}

}  // namespace
