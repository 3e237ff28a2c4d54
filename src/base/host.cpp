#include "base/host.h"

#include <algorithm>

#include "base/strings.h"

void CRunHost::AddEventSource(CEventSource* source)
{
    if (std::find(eventSources.begin(), eventSources.end(), source) == eventSources.end())
        eventSources.push_back(source);
}

void CRunHost::RemoveEventSource(CEventSource* source)
{
    eventSources.erase(std::remove(eventSources.begin(), eventSources.end(), source),
                       eventSources.end());
}

void CRunHost::DispatchEventSources()
{
    // A source may add or remove sources while it dispatches; walk a copy.
    const std::vector<CEventSource*> sources = eventSources;
    for (CEventSource* source : sources)
        source->Dispatch();
}

bool WaitPolling(CRunHost& host, bool (*poll)(void* user), void* user, uint32_t interval,
                 uint32_t timeout)
{
    // Unsigned differences keep the arithmetic right across a wrap of the tick count.
    const uint32_t start = host.TickCount();
    uint32_t last = start;
    while (timeout == kWaitForever || host.TickCount() - start < timeout) {
        host.PumpMessages();
        const uint32_t now = host.TickCount();
        if (now - last < interval) {
            host.Sleep(1);
            continue;
        }
        if (poll != nullptr && poll(user))
            return true;
        last = host.TickCount();
    }
    return false;
}

void SleepPumping(CRunHost& host, uint32_t ms)
{
    // Time is the host's clock, or what was slept when that is more: a host whose clock
    // stands still must not make this wait for ever.
    const uint32_t start = host.TickCount();
    uint32_t slept = 0;
    for (;;) {
        host.PumpMessages();
        const uint32_t elapsed = std::max(host.TickCount() - start, slept);
        if (elapsed >= ms)
            return;
        const uint32_t slice = std::min(ms - elapsed, kWaitSliceMs);
        host.Sleep(slice);
        slept = elapsed + slice;
    }
}

void ReportException(CRunHost& host, int quiet, BoxOwner owner)
{
    if (quiet == 1 || !std::current_exception())
        return;
    std::string message;
    try {
        throw;
    } catch (const stop_exception&) {
        return;
    } catch (...) {
        message = CurrentExceptionMessage();
    }
    try {
        host.ShowMessageBox(message, LoadText(IDS_PROGRAM_NAME), MessageBoxKind::Error, owner);
    } catch (...) {
        // Reporting is the last stop for a failure: nothing may escape from it, not even
        // a box that could not be shown.
    }
}
