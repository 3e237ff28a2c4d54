#include "cli/json_output.h"

#include <nlohmann/json.hpp>

#include "base/strings.h"
#include "connection/connection_actions.h"
#include "protocol/commands.h"
#include "transport/port_system.h"

namespace {

using Json = nlohmann::ordered_json;

// A name that is no UTF-8 (a Linux device path) keeps its valid characters.
std::string Document(const Json& json)
{
    return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

Json TextOrNull(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

}  // namespace

std::string PortsJson(CPortSystem& ports)
{
    Json list = Json::array();
    for (const std::string& port : ports.EnumerateSerialPorts()) {
        CUsbIdentity usb;
        Json identity = nullptr;
        if (ports.PortUsbIdentity(port, usb))
            identity = {{"vendor_id", usb.vendorId},
                        {"product_id", usb.productId},
                        {"serial", TextOrNull(usb.serial)},
                        {"location", TextOrNull(usb.location)}};
        list.push_back({{"name", port}, {"usb", identity}});
    }
    return Document({{"ports", list}});
}

std::string SearchJson(const std::vector<CCliSearchView::Row>& rows)
{
    Json list = Json::array();
    for (const CCliSearchView::Row& row : rows)
        list.push_back({{"port", row.port},
                        {"baud", row.code >= 0 ? Json(BaudFromCode(row.code)) : Json(nullptr)},
                        {"state", row.state}});
    return Document({{"ports", list}});
}

std::string CheckJson(const std::string& port, std::optional<unsigned char> model)
{
    return Document({{"port", port},
                     {"found", model.has_value()},
                     {"model", model ? Json(ModelText(*model)) : Json(nullptr)},
                     {"model_code", model ? Json(*model) : Json(nullptr)},
                     {"text", LinkText(model)}});
}

std::string InfoJson(const std::string& port, const CDeviceInfo& info)
{
    // The working program's half is unknown when the scanner could not be reached there.
    const bool app = info.applicationRead;
    const auto program = [app](uint16_t version) { return app ? Json(VersionText(version)) : Json(nullptr); };
    const std::string date = app ? DateText(info.productionDate) : "-";
    return Document(
        {{"port", port},
         {"model", ModelText(info.modelCode)},
         {"model_code", info.modelCode},
         {"serial", app && info.serialNumber != kSerialNotSet ? Json(info.serialNumber) : Json(nullptr)},
         {"production_date", date == "-" ? Json(nullptr) : Json(date)},
         {"hardware_version",
          {{"atmega", VersionText(info.hwVersionAtmega)}, {"blackfin", VersionText(info.hwVersionBlackfin)}}},
         {"loader_version",
          {{"atmega", VersionText(info.loaderVersionAtmega)},
           {"blackfin", VersionText(info.loaderVersionBlackfin)}}},
         {"program_version",
          {{"atmega", program(info.appVersionAtmega)},
           {"blackfin", program(info.appVersionBlackfin)},
           {"blackfin_ext", program(info.appVersionBlackfinExt)}}}});
}

std::string ModulesJson(const std::string& path, const ldr::file& file)
{
    Json list = Json::array();
    for (const ldr::module& m : file.modules)
        list.push_back({{"kind", LoadText(ModuleKindTextId(m.kind))},
                        {"kind_code", m.kind},
                        {"version", ModuleVersionText(m.version)},
                        {"size", ModuleImageSize(m)}});
    return Document({{"file", path}, {"modules", list}});
}
