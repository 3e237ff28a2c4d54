#include "sim/virtual_host.h"

void CVirtualHost::PumpMessages()
{
    ++pumps;
    if (stopAtPump != 0 && pumps == stopAtPump)
        RequestStop(0);
    DispatchEventSources();
    while (!queue.empty()) {
        Message m = std::move(queue.front());
        queue.pop_front();
        if (m.stop)
            throw stop_exception(m.code);
        m.action();
    }
}

void CVirtualHost::RequestStop(int code)
{
    queue.push_back(Message{true, code, {}});
}

bool CVirtualHost::ShowMessageBox(const std::string& text, const std::string& caption,
                                  MessageBoxKind kind, BoxOwner owner)
{
    boxes.push_back(ShownBox{text, caption, kind, owner});
    if (kind != MessageBoxKind::Question)
        return true;
    if (answers.empty())
        return false;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
}

void CVirtualHost::AdvanceUs(uint64_t us)
{
    const uint64_t end = nowUs + us;
    while (!timers.empty() && timers.begin()->first <= end) {
        auto it = timers.begin();
        nowUs = std::max(nowUs, it->first);
        auto action = std::move(it->second);
        timers.erase(it);
        action();
    }
    nowUs = std::max(nowUs, end);
}

void CVirtualHost::PostMessage(std::function<void()> message)
{
    queue.push_back(Message{false, 0, std::move(message)});
}

void CVirtualHost::At(uint64_t ms, std::function<void()> action)
{
    timers.emplace(ms * 1000, std::move(action));
}

void CVirtualHost::QueueAnswers(std::initializer_list<bool> list)
{
    answers.insert(answers.end(), list.begin(), list.end());
}
