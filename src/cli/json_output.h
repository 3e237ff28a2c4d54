// trelvo-cli --json: each command's output as one JSON document on one line, for
// scripts. Field names are stable; numbers are numbers (the serial number too); texts
// are the ones the plain output shows; what was not read is null.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/views.h"
#include "firmware/ldr.h"
#include "protocol/device_info.h"

class CPortSystem;

// {"ports":[{"name","usb":{"vendor_id","product_id","serial","location"} or null}]}
std::string PortsJson(CPortSystem& ports);
// {"ports":[{"port","baud" (null: nothing answered),"state"}]}
std::string SearchJson(const std::vector<CCliSearchView::Row>& rows);
// {"port","found","model","model_code","text"}
std::string CheckJson(const std::string& port, std::optional<unsigned char> model);
// {"port","model","model_code","serial","production_date","hardware_version":{"atmega",
// "blackfin"},"loader_version":{...},"program_version":{"atmega","blackfin","blackfin_ext"}}
std::string InfoJson(const std::string& port, const CDeviceInfo& info);
// {"file","modules":[{"kind","kind_code","version","size"}]}
std::string ModulesJson(const std::string& path, const ldr::file& file);
