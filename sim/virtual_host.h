// A CRunHost on a virtual clock, for tests and the in-process simulator: Sleep advances
// time instantly, messages and stop requests are queued and delivered by PumpMessages,
// and message boxes are answered from a script.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/host.h"

class CVirtualHost : public CRunHost {
public:
    struct ShownBox {
        std::string text;
        std::string caption;
        MessageBoxKind kind;
        BoxOwner owner;
    };

    uint32_t TickCount() override { return static_cast<uint32_t>(nowUs / 1000); }
    void Sleep(uint32_t ms) override { AdvanceUs(uint64_t(ms) * 1000); }
    void PumpMessages() override;
    void RequestStop(int code) override;
    bool ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxKind kind, BoxOwner owner) override;

    uint64_t NowUs() const { return nowUs; }
    uint64_t NowMs() const { return nowUs / 1000; }
    // Moves time forward, running every timer that falls due on the way.
    void AdvanceUs(uint64_t us);

    // A window message: runs at the next pump, in posting order with stop requests.
    void PostMessage(std::function<void()> message);
    // Runs at the given virtual time (ms since the start) while time advances.
    void At(uint64_t ms, std::function<void()> action);
    // Posts a stop request when the pump count reaches n (counting from 1).
    void StopAtPump(unsigned n) { stopAtPump = n; }

    // Answers for Question boxes, in order; when they run out the answer is No.
    void QueueAnswers(std::initializer_list<bool> answers);

    unsigned PumpCount() const { return pumps; }
    const std::vector<ShownBox>& Boxes() const { return boxes; }

private:
    struct Message {
        bool stop;
        int code;
        std::function<void()> action;
    };
    uint64_t nowUs = 0;
    unsigned pumps = 0;
    unsigned stopAtPump = 0;
    std::deque<Message> queue;
    std::multimap<uint64_t, std::function<void()>> timers;
    std::deque<bool> answers;
    std::vector<ShownBox> boxes;
};
