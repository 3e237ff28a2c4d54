// Driving the program's real windows in-process, as an operator would: a host that
// answers message boxes, a scripted operator ticking on a thread timer while the windows'
// modal loops (and the runs' message pumps) dispatch messages, window lookup, clicks and
// keys, and screenshots. The simulator runs behind COM ports that the test script maps.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/host.h"

// Forwards to the platform host and records every message box; Question boxes are
// answered from a queue (No when it runs out). Information boxes are shown for real
// when showInformation is set, so the operator script can see and close them.
class CTestHost : public CRunHost {
public:
    struct Box {
        std::string text;
        std::string caption;
        MessageBoxKind kind;
        BoxOwner owner;
    };

    uint32_t TickCount() override { return PlatformHost().TickCount(); }
    void Sleep(uint32_t ms) override { PlatformHost().Sleep(ms); }
    void PumpMessages() override;
    void RequestStop(int code) override;
    bool ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxKind kind, BoxOwner owner) override;

    std::deque<bool> answers;
    std::vector<Box> boxes;
    bool showInformation = false;
    // Questions go to the program's own host: a real box, which the test answers.
    bool realQuestions = false;
    // When the last stop was asked for, and when a pump then took it (GetTickCount).
    DWORD stopRequestedAt = 0;
    DWORD stopTakenAt = 0;
};

// The steps of an operator: each waits until its condition holds (within the step's
// time limit), then acts. Actions post their input, so a long action (a run) goes on in
// the window's own handlers while the operator keeps ticking.
class COperator {
public:
    using Condition = std::function<bool()>;
    using Action = std::function<void()>;

    explicit COperator(UINT tickMs = 50);
    ~COperator();
    COperator(const COperator&) = delete;
    COperator& operator=(const COperator&) = delete;

    COperator& Then(const std::string& what, Condition ready, Action act = {},
                    DWORD limitMs = 30000);
    COperator& Do(const std::string& what, Action act) { return Then(what, [] { return true; }, act); }

    // Begins ticking; the steps run while the caller's modal window runs.
    void Start();
    bool Done() const { return next == steps.size(); }
    // Empty when every step ran; otherwise the step that timed out.
    const std::string& Failure() const { return failure; }

private:
    struct Step {
        std::string what;
        Condition ready;
        Action act;
        DWORD limitMs;
    };
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void OnTick();
    void Abandon();

    std::vector<Step> steps;
    size_t next = 0;
    DWORD stepStart = 0;
    UINT tickMs;
    UINT_PTR timer = 0;
    bool inTick = false;
    std::string failure;
};

// Environment set by the test script.
std::string EnvText(const char* name);
bool HaveDisplay();
// The simulated scanners' ports, the work folder (a Windows path) and the demo file.
std::string SimPort();        // the scanner at 9600, with the expected image
std::string SearchPort();     // the scanner at 57600
std::string FailingPort();    // the scanner whose flash writes fail
std::string SecondSimPort();  // another scanner at 9600, with the expected image
std::string SilentPort();     // a port where nothing answers
// A scanner at 9600 that never answers a memory write: an update falls silent in its
// transfer. Its state file, as the simulator writes it.
std::string MuteWritesPort();
std::string MuteWritesState();
std::string WorkPath(const std::string& name);
std::string DemoFirmware();
std::string ReadTextFile(const std::string& path);
void WriteTextFile(const std::string& path, const std::string& text);

// Puts a simulated scanner back into its working program at the speed code (9600 baud
// by default), whatever a test left it in.
void ResetScanner(CRunHost& host, const std::string& port, int speedCode = 2);

// The visible top-level dialog of this thread with this title (UTF-8), or null; with an
// empty title, the last active captionless dialog.
HWND FindDialog(const std::string& title);
HWND FindCaptionlessDialog();
std::string WindowTextOf(HWND window);
bool IsEnabled(HWND window);

void Click(HWND button);
void ClickItem(HWND dialog, int id);
// A key as the keyboard sends it, to the window with the focus (or the dialog).
void PressKey(HWND dialog, WPARAM key);
// The window of this thread a key for the dialog goes to; posting to it works from any
// thread.
HWND KeyTarget(HWND dialog);
void PostKey(HWND target, WPARAM key);
std::string ListText(HWND list, int item, int column);
int ListCount(HWND list);

// Writes the window's screen area as a BMP into the shots folder (the script makes PNGs
// of them), when the script set one.
void SaveScreenshot(HWND window, const std::string& name);
