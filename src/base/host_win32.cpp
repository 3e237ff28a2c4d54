// The platform host on Windows: the thread's message queue carries both the window
// messages that keep the interface alive and the stop request (STOP_MESSAGE).
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <new>

#include "base/host.h"
#include "base/utf.h"

namespace {

// A console control handler runs on a thread of its own and has no context to carry:
// it needs to know which thread to stop, whether a stop from it is still waiting, and
// which event stopped the program last (for its exit code).
std::atomic<DWORD> interruptThread{0};
std::atomic<bool> interruptPending{false};
std::atomic<int> interruptExitCode{0};

// The exit codes of a POSIX shell for the nearest signal: the console closing is a
// hang-up (SIGHUP), Ctrl+Break the C library's SIGBREAK (21).
constexpr int kExitConsoleClosed = 129;
constexpr int kExitCtrlC = 130;
constexpr int kExitCtrlBreak = 149;
// Windows ends the process about five seconds after the close event reached the
// handler, returned or not; the handler holds on for most of them, so the run can stop,
// put the scanner back and write its record meanwhile, and the process then ends with
// the run's own exit code.
constexpr DWORD kConsoleCloseGraceMs = 4500;

int ExitCodeOf(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT: return kExitCtrlC;
    case CTRL_BREAK_EVENT: return kExitCtrlBreak;
    case CTRL_CLOSE_EVENT: return kExitConsoleClosed;
    default: return 0;
    }
}

BOOL WINAPI OnConsoleControl(DWORD type)
{
    const int exitCode = ExitCodeOf(type);
    if (exitCode == 0)
        return FALSE;
    interruptExitCode = exitCode;
    // A second interrupt while the first is still waiting goes to the default handler,
    // which ends the process.
    if (interruptPending.exchange(true))
        return FALSE;
    if (!PostThreadMessageW(interruptThread.load(), STOP_MESSAGE, 0, 0)) {
        interruptPending = false;
        return FALSE;
    }
    if (type == CTRL_CLOSE_EVENT)
        ::Sleep(kConsoleCloseGraceMs);
    return TRUE;
}

// Dialogs (and property sheets) need IsDialogMessage for keyboard navigation and for
// Escape and Enter, which a long action pumping messages must not lose.
bool IsDialogWindow(HWND window)
{
    wchar_t className[8];
    return GetClassNameW(window, className, 8) == 6 && std::wcscmp(className, L"#32770") == 0;
}

UINT BoxStyle(MessageBoxKind kind)
{
    switch (kind) {
    case MessageBoxKind::Error:
        return MB_OK | MB_ICONERROR;
    case MessageBoxKind::Information:
        return MB_OK | MB_ICONINFORMATION;
    case MessageBoxKind::Question:
        return MB_YESNO | MB_ICONQUESTION;
    }
    return MB_OK;
}

class CWin32Host : public CRunHost {
public:
    CWin32Host()
    {
        // A thread gets its message queue at its first window call; a stop request posted
        // before that would be lost.
        MSG msg;
        PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    }

    // To the millisecond: GetTickCount moves in steps of 15.6 ms, more than the margins
    // the byte device gives a reply's rest and a drain's quiet line.
    uint32_t TickCount() override
    {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        const int64_t seconds = now.QuadPart / frequency.QuadPart;
        const int64_t rest = now.QuadPart % frequency.QuadPart;
        return static_cast<uint32_t>(seconds * 1000 + rest * 1000 / frequency.QuadPart);
    }
    void Sleep(uint32_t ms) override { ::Sleep(ms); }

    void PumpMessages() override
    {
        DispatchEventSources();
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.hwnd == nullptr && msg.message == STOP_MESSAGE) {
                // A second request before the first was taken is the same stop; its
                // message, met after the stop was taken, is dropped.
                if (!stopPending && !interruptPending)
                    continue;
                stopPending = false;
                interruptPending = false;
                throw stop_exception(static_cast<int>(msg.lParam));
            }
            if (msg.message == WM_QUIT) {
                // The quit belongs to the message loop that runs the window; put it back
                // for that loop and leave it to end the program.
                PostQuitMessage(static_cast<int>(msg.wParam));
                break;
            }
            const HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
            if (root != nullptr && IsDialogWindow(root) && IsDialogMessageW(root, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        // The message is gone but the request is not: a modal loop (a message box, a
        // dialog) threw it away, as thread messages are lost in such loops, or a full
        // queue refused it.
        TakePendingStop();
    }

    void RequestStop(int code) override
    {
        stopPending = true;
        stopCode = code;
        // The message keeps the stop in order behind what was queued before it.
        PostThreadMessageW(GetCurrentThreadId(), STOP_MESSAGE, 0, static_cast<LPARAM>(code));
    }

    bool ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxKind kind, BoxOwner owner) override
    {
        const bool question = kind == MessageBoxKind::Question;
        if (question)
            TakePendingStop();
        bool answer = true;
        if (question && questionPolicy) {
            answer = questionPolicy(text, caption);
        } else {
            // Never the active window: while the program is not in front there is none,
            // and an unowned box could hide behind other windows with the program still
            // enabled.
            const int pressed = MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(),
                                            Widen(caption).c_str(), BoxStyle(kind));
            answer = !question || pressed == IDYES;
        }
        // A Stop asked for while the question was up outweighs its answer.
        if (question)
            TakePendingStop();
        return answer;
    }

    QuestionPolicy questionPolicy;

private:
    void TakePendingStop()
    {
        if (!stopPending)
            return;
        stopPending = false;
        throw stop_exception(stopCode);
    }

    // The stop request itself, beside its message, which a modal loop may drop.
    bool stopPending = false;
    int stopCode = 0;
};

// With MinGW's threads, the thread-local storage of a thread that ends is released
// before the destructors of its thread_local objects run, so a destructor would write
// into freed memory (and the heap would later fail on it). The host is therefore built
// in place in the thread's storage and never destroyed: on the threads that do work for
// a run it owns no memory of its own (no event source or question policy is ever set
// there).
CWin32Host& ThreadHost()
{
    alignas(CWin32Host) thread_local unsigned char storage[sizeof(CWin32Host)];
    thread_local CWin32Host* host = nullptr;
    if (host == nullptr)
        host = new (storage) CWin32Host;
    return *host;
}

}  // namespace

CRunHost& PlatformHost()
{
    return ThreadHost();
}

bool InterruptPending()
{
    return false;
}

void InstallInterruptStop()
{
    ThreadHost();   // the queue must exist before the first interrupt is posted to it
    interruptThread = GetCurrentThreadId();
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

int InterruptExitCode()
{
    return interruptExitCode.load();
}

void SetQuestionPolicy(QuestionPolicy policy)
{
    ThreadHost().questionPolicy = std::move(policy);
}
