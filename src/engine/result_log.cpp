#include "engine/result_log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "base/file_open.h"
#include "base/sha256.h"
#include "base/strings.h"
#include "engine/multi_port.h"
#include "engine/operations.h"
#include "protocol/commands.h"
#include "protocol/device_info.h"

bool IdentifyFirmwareFile(const std::string& path, CFirmwareIdentity& identity)
{
    std::FILE* file = OpenRegularFileUtf8(path);
    if (file == nullptr)
        return false;
    uint64_t size = 0;
    std::string digest;
    bool failed = false;
    try {
        CSha256 hash;
        char buffer[65536];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            hash.Update(buffer, got);
            size += got;
        }
        failed = std::ferror(file) != 0;
        digest = HexDigest(hash.Finish());
    } catch (const CSha256::CError&) {
        failed = true;
    }
    std::fclose(file);
    if (failed)
        return false;
    const size_t slash = path.find_last_of("/\\");
    identity.name = slash == std::string::npos ? path : path.substr(slash + 1);
    identity.size = size;
    identity.sha256 = digest;
    return true;
}

void SetRecordTag(CRecordTags& tags, const std::string& name, const std::string& value)
{
    const auto sameName = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (auto& tag : tags) {
        if (sameName(tag.first, name)) {
            tag = {name, value};
            return;
        }
    }
    tags.emplace_back(name, value);
}

namespace {

using Json = nlohmann::ordered_json;

Json Text(const std::string& text)
{
    return text.empty() ? Json(nullptr) : Json(text);
}

Json Version(const std::optional<uint16_t>& version)
{
    return version ? Json(VersionText(*version)) : Json(nullptr);
}

// A version word; -1 where it was not read.
Json Version(int version)
{
    return version >= 0 ? Json(VersionText(static_cast<uint16_t>(version))) : Json(nullptr);
}

Json Usb(const std::optional<CUsbIdentity>& usb)
{
    if (!usb)
        return nullptr;
    return Json{{"vendor_id", usb->vendorId},
                {"product_id", usb->productId},
                {"serial", Text(usb->serial)},
                {"location", Text(usb->location)}};
}

}  // namespace

std::string JsonString(const std::string& text)
{
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string ResultLogLine(const CPortRunResult& result, const CFirmwareIdentity& firmware,
                          const CLogStamp& stamp)
{
    size_t rowCount = 0;
    const OperationDescriptor* catalogue = OperationCatalogue(rowCount);
    Json rows = Json::array();
    for (size_t k = 0; k < result.rowStatus.size() && k < rowCount; ++k) {
        const unsigned status = result.rowStatus[k];
        rows.push_back({{"name", LoadText(catalogue[k].nameId)},
                        {"status", status ? Json(LoadText(status)) : Json(nullptr)},
                        {"attempts", k < result.rowAttempts.size() ? result.rowAttempts[k] : 0u}});
    }
    Json tags = Json::object();
    for (const auto& tag : stamp.tags)
        tags[tag.first] = tag.second;

    // The fields of the first records come first, in their order and meaning.
    Json record;
    record["time"] = stamp.utcTime;
    record["host"] = stamp.hostName;
    record["port"] = result.port;
    record["serial"] = result.serialNumber == kSerialNotSet ? Json(nullptr) : Json(result.serialNumber);
    record["model"] = result.model;
    record["firmware"] = {{"name", firmware.name}, {"size", firmware.size}, {"sha256", firmware.sha256}};
    record["rows"] = std::move(rows);
    record["ok"] = result.Succeeded();
    record["stopped"] = result.stopped;
    record["failure"] = AppendSentence(result.failure, result.note);
    record["duration_ms"] = result.durationMs;
    record["bytes_per_second"] = result.bytesPerSecond;
    record["version"] = stamp.version;
    record["start_time"] = Text(result.startTime);
    record["end_time"] = Text(result.endTime);
    record["unique_id"] = Text(result.uniqueId);
    record["hardware_version"] = Version(result.hardwareVersion);
    record["loader_version"] = Version(result.loaderVersion);
    record["program_version_before"] = Version(result.versionBefore);
    record["program_version_after"] = Version(result.versionAfter);
    record["usb"] = Usb(result.usb);
    record["station"] = stamp.station.empty() ? stamp.hostName : stamp.station;
    record["tags"] = std::move(tags);
    record["left_baud"] = result.speedCode >= 0 ? Json(BaudFromCode(result.speedCode)) : Json(nullptr);
    record["skipped"] = result.skipped;
    record["transfer_baud"] = result.transferBaud ? Json(result.transferBaud) : Json(nullptr);
    return record.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
