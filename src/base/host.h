// The host seam: the progress sink, and the platform seen from long-running work (clock,
// sleep, message pump, stop request, message boxes).
//
// Everything that waits or pumps goes through a CRunHost, so a 20-second wait costs
// nothing in a test and a Stop request reaches the busy code at its next pump.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"

// Progress sink handed to every operation.
class CMessageInterface {
public:
    virtual ~CMessageInterface() = default;
    virtual void ShowMessage(const char* text) { (void)text; }
};

// Something that has events to deliver when the thread pumps (device-change watches
// on systems without a window message queue, the simulator's re-enumeration).
class CEventSource {
public:
    virtual ~CEventSource() = default;
    virtual void Dispatch() = 0;
};

enum class MessageBoxKind { Error, Information, Question };

// The window a message box belongs to (on Windows its HWND): the box is owned by it, so
// it stays in front of that window and disables it while it is up, whichever window is
// active. nullptr only where there is no window (start-up, the command-line tool).
using BoxOwner = void*;

// The platform seen from long-running work on one thread.
class CRunHost {
public:
    virtual ~CRunHost() = default;

    // Millisecond tick count; wraps like the system's.
    virtual uint32_t TickCount() = 0;
    virtual void Sleep(uint32_t ms) = 0;

    // Processes every waiting message in order; throws stop_exception when it meets a
    // stop request (messages queued ahead of it are handled first).
    virtual void PumpMessages() = 0;

    // Pumps as PumpMessages does, for work that must still reach the scanner after a
    // stop was taken (putting it back at the speed it was found at): only a new stop
    // request throws, never one that has already stopped the work (as a stop shared by
    // several threads stays set once given).
    virtual void PumpMessagesAfterStop() { PumpMessages(); }

    // Posts a stop request to this thread's queue.
    virtual void RequestStop(int code) = 0;

    // Shows a message box; for Question, returns true on Yes. Others return true. The
    // platform hosts end a question with stop_exception instead of an answer when a stop
    // was requested before or while it was up, so a box never swallows a Stop (callers
    // still pump before they ask, for the hosts that answer from elsewhere).
    virtual bool ShowMessageBox(const std::string& text, const std::string& caption,
                                MessageBoxKind kind, BoxOwner owner) = 0;

    void AddEventSource(CEventSource* source);
    void RemoveEventSource(CEventSource* source);

protected:
    // Every PumpMessages delivers the pending events of the registered sources first.
    void DispatchEventSources();

private:
    std::vector<CEventSource*> eventSources;
};

// The host of the running program on this platform (Win32 message queue, or a POSIX
// stop flag set by SIGINT). One per thread.
CRunHost& PlatformHost();

// The thread message that carries a stop request (wParam 0, lParam the stop code).
constexpr unsigned STOP_MESSAGE = 0x8000;

// Makes an interrupt a stop request for the program's working thread (the one that calls
// this), so a command-line run ends at its next pump as if Stop were pressed: on POSIX
// SIGINT (Ctrl+C), SIGTERM and SIGHUP; on Windows Ctrl+C, Ctrl+Break and the console
// window closing (the system ends the process a few seconds after that one; until then
// the run may end cleanly). A second interrupt before the first has been taken ends the
// process.
void InstallInterruptStop();

// The exit code of a program that an interrupt stopped, as shells give it: 128 + the
// last interrupt's signal (SIGHUP 129, SIGINT 130, SIGTERM 143; on Windows the console
// closing 129, Ctrl+C 130, Ctrl+Break 149, SIGBREAK being 21); 0 while none came.
int InterruptExitCode();

// How the calling thread's platform host answers Question boxes: given the text and
// the caption, returns true for Yes. An empty policy restores the default (POSIX: ask
// on the terminal, No when stdin is not a terminal; Win32: the system message box).
using QuestionPolicy = std::function<bool(const std::string& text, const std::string& caption)>;
void SetQuestionPolicy(QuestionPolicy policy);

// True while an interrupt from the terminal (Ctrl+C) waits for the working thread's next
// pump. Waits that block in the system (a port read, a sleep) look at it at least every
// kInterruptCheckMs and end early, so Ctrl+C ends any of them within that time and the
// next pump takes the stop. Windows delivers Ctrl+C as a stop message instead: false there.
bool InterruptPending();
constexpr uint32_t kInterruptCheckMs = 250;

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// The longest a wait of the program goes without pumping: a window stays responsive and
// a Stop is taken well within a quarter of a second, whatever the wait is for.
constexpr uint32_t kWaitSliceMs = 50;

// Waits ms on the host's clock, pumping at least every kWaitSliceMs; Stop leaves it with
// stop_exception.
void SleepPumping(CRunHost& host, uint32_t ms);

// Waits while pumping messages, calling poll every interval ms (the first call one
// interval after the start) until it returns true; false when the timeout has passed.
bool WaitPolling(CRunHost& host, bool (*poll)(void* user), void* user, uint32_t interval,
                 uint32_t timeout);

// Inside a catch-all: shows the exception in flight as an error box owned by owner
// (nothing for a stop; nothing at all when quiet is 1).
void ReportException(CRunHost& host, int quiet, BoxOwner owner);
