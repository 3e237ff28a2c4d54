// The platform host without a window system: a stop request is a flag that the next pump
// turns into stop_exception, set by RequestStop or by an interrupt from the terminal.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "base/host.h"

namespace {

// The one piece of process-wide state: a signal handler has no other way to reach the
// working thread. The last signal that stopped the program gives its exit code.
std::atomic<bool> interruptPending{false};
std::atomic<int> interruptSignal{0};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free number");

// What stops a command-line run: Ctrl+C, and what supervisors, time-outs and a closed
// terminal send.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalExitBase = 128;

extern "C" void OnInterrupt(int signal)
{
    interruptSignal = signal;
    if (interruptPending.exchange(true)) {
        // The working thread has not pumped since the last interrupt (it may be stuck):
        // let this one end the process as it would without a handler.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

// Texts are written for a Windows message box; a terminal wants plain line feeds.
std::string TerminalText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r')
            out += c;
    }
    return out;
}

bool AskOnTerminal(const std::string& text, const std::string& caption)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), TerminalText(text).c_str());
    if (!isatty(STDIN_FILENO))
        return false;
    for (;;) {
        std::fputs("[y/n] ", stderr);
        std::fflush(stderr);
        char line[64];
        if (std::fgets(line, sizeof line, stdin) == nullptr)
            return false;
        if (line[0] == 'y' || line[0] == 'Y')
            return true;
        if (line[0] == 'n' || line[0] == 'N')
            return false;
    }
}

class CPosixHost : public CRunHost {
public:
    uint32_t TickCount() override
    {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                     static_cast<uint64_t>(now.tv_nsec) / 1000000u);
    }

    void Sleep(uint32_t ms) override
    {
        // Slept in slices, and cut short by Ctrl+C: the stop it carries is taken at the
        // next pump, which a long sleep would put off.
        while (ms > 0 && !interruptPending.load()) {
            const uint32_t slice = std::min(ms, kInterruptCheckMs);
            timespec rest{0, static_cast<long>(slice) * 1000000L};
            while (nanosleep(&rest, &rest) != 0 && errno == EINTR && !interruptPending.load()) {
            }
            ms -= slice;
        }
    }

    void PumpMessages() override
    {
        DispatchEventSources();
        TakePendingStop();
    }

    void RequestStop(int code) override
    {
        stopPending = true;
        stopCode = code;
    }

    bool ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxKind kind, BoxOwner) override
    {
        if (kind == MessageBoxKind::Question) {
            TakePendingStop();
            const bool answer = questionPolicy ? questionPolicy(text, caption)
                                               : AskOnTerminal(text, caption);
            // A Ctrl+C while the question was up outweighs its answer.
            TakePendingStop();
            return answer;
        }
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), TerminalText(text).c_str());
        return true;
    }

    QuestionPolicy questionPolicy;

private:
    void TakePendingStop()
    {
        if (interruptPending.exchange(false))
            throw stop_exception(0);
        if (stopPending) {
            stopPending = false;
            throw stop_exception(stopCode);
        }
    }

    bool stopPending = false;
    int stopCode = 0;
};

CPosixHost& ThreadHost()
{
    thread_local CPosixHost host;
    return host;
}

}  // namespace

CRunHost& PlatformHost()
{
    return ThreadHost();
}

bool InterruptPending()
{
    return interruptPending.load();
}

void InstallInterruptStop()
{
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Reads restart: the port's own time-outs bound them, and the stop is taken at the
    // next pump.
    action.sa_flags = SA_RESTART;
    for (int signal : kStopSignals)
        sigaction(signal, &action, nullptr);
}

int InterruptExitCode()
{
    const int signal = interruptSignal.load();
    return signal != 0 ? kSignalExitBase + signal : 0;
}

void SetQuestionPolicy(QuestionPolicy policy)
{
    ThreadHost().questionPolicy = std::move(policy);
}
