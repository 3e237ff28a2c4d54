#include <algorithm>

#include "engine/run_services.h"

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
