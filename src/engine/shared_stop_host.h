// The host of one thread among several that work side by side: the clock and pump of its
// own thread, and a stop shared by all of them. It shows nothing, as such a thread has no
// window to own a box; a question is answered No.
#pragma once

#include <atomic>

#include "base/host.h"

class CSharedStopHost : public CRunHost {
public:
    CSharedStopHost(CRunHost& thread, std::atomic<bool>& stopAll) : stopAll(stopAll), thread(thread) {}

    uint32_t TickCount() override { return thread.TickCount(); }
    void Sleep(uint32_t ms) override { thread.Sleep(ms); }

    void PumpMessages() override
    {
        DispatchEventSources();
        try {
            thread.PumpMessages();
        } catch (const stop_exception&) {
            // An interrupt reaches whichever thread pumps first; it stops them all.
            stopAll = true;
            throw;
        }
        TakePendingStop();
    }

    // The shared stop stays set once given: after it, only an interrupt that reaches this
    // thread or this thread's own request is a new stop.
    void PumpMessagesAfterStop() override
    {
        DispatchEventSources();
        thread.PumpMessages();
        if (ownStop) {
            ownStop = false;
            throw stop_exception(0);
        }
    }

    // A stop asked for by this thread's own work ends only this thread.
    void RequestStop(int) override { ownStop = true; }

    bool ShowMessageBox(const std::string&, const std::string&, MessageBoxKind kind,
                        BoxOwner) override
    {
        if (kind == MessageBoxKind::Question)
            TakePendingStop();
        return false;
    }

protected:
    void TakePendingStop()
    {
        if (stopAll || ownStop) {
            ownStop = false;
            throw stop_exception(0);
        }
    }

    std::atomic<bool>& stopAll;

private:
    CRunHost& thread;
    bool ownStop = false;
};
