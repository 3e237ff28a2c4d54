// Keeping a list of ports in step with the ports the system has now.
#pragma once

#include <string>
#include <vector>

// Items whose port has gone are removed, except the one at keepIndex (-1: none), which
// stays even while its port is away; ports not yet listed are returned for adding.
// Removed indexes come from the last to the first, so they can be deleted one by one.
struct CPortListUpdate {
    std::vector<int> removeIndexes;
    std::vector<std::string> add;
};
CPortListUpdate RefreshPortItems(const std::vector<std::string>& items, int keepIndex,
                                 const std::vector<std::string>& enumerated);

// Whether the stored port name needs an item of its own for the page to show it: it is
// not empty and its port is absent now (a USB scanner not plugged in). Shown and selected
// anyway, so that OK pressed for another setting does not replace it.
bool StoredPortNeedsItem(const std::vector<std::string>& items, const std::string& portName);

// The item to select for a stored port name: the exact match, else the last item, else -1.
int PortItemToSelect(const std::vector<std::string>& items, const std::string& portName);
