#include "connection/port_list.h"

#include <algorithm>

#include "transport/port_system.h"

CPortListUpdate RefreshPortItems(const std::vector<std::string>& items, int keepIndex,
                                 const std::vector<std::string>& enumerated)
{
    CPortListUpdate update;
    std::vector<std::string> fresh;
    for (const std::string& port : enumerated)
        if (std::find(fresh.begin(), fresh.end(), port) == fresh.end())
            fresh.push_back(port);
    for (int i = static_cast<int>(items.size()) - 1; i >= 0; --i) {
        auto listed = std::find(fresh.begin(), fresh.end(), items[i]);
        if (listed != fresh.end())
            fresh.erase(listed);
        else if (i != keepIndex)
            update.removeIndexes.push_back(i);
    }
    update.add = std::move(fresh);
    return update;
}

bool StoredPortNeedsItem(const std::vector<std::string>& items, const std::string& portName)
{
    // "com3" in the settings is the listed COM3 on Windows, not a port of its own.
    return !portName.empty() &&
           std::none_of(items.begin(), items.end(),
                        [&portName](const std::string& item) { return SamePortName(item, portName); });
}

int PortItemToSelect(const std::vector<std::string>& items, const std::string& portName)
{
    for (size_t i = 0; i < items.size(); ++i)
        if (SamePortName(items[i], portName))
            return static_cast<int>(i);
    return items.empty() ? -1 : static_cast<int>(items.size()) - 1;
}
