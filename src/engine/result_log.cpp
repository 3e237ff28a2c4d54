#include "engine/result_log.h"

#include <cstdio>

#include "base/file_open.h"
#include "base/sha256.h"
#include "base/strings.h"
#include "engine/multi_port.h"
#include "engine/operations.h"

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

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            out += StringPrintf("\\u%04x", byte);
        } else {
            out += c;   // UTF-8 passes through as it is
        }
    }
    return out + "\"";
}

std::string ResultLogLine(const CPortRunResult& result, const CFirmwareIdentity& firmware,
                          const CLogStamp& stamp)
{
    size_t rowCount = 0;
    const OperationDescriptor* rows = OperationCatalogue(rowCount);
    std::string rowList;
    for (size_t k = 0; k < result.rowStatus.size() && k < rowCount; ++k) {
        const unsigned status = result.rowStatus[k];
        rowList += (k ? "," : "") + std::string("{\"name\":") + JsonString(LoadText(rows[k].nameId)) +
                   ",\"status\":" + (status ? JsonString(LoadText(status)) : "null") + "}";
    }
    const std::string serial = result.serialNumber == 0xFFFFFFFFu
                                   ? "null"
                                   : std::to_string(result.serialNumber);
    return "{\"time\":" + JsonString(stamp.utcTime) + ",\"host\":" + JsonString(stamp.hostName) +
           ",\"port\":" + JsonString(result.port) + ",\"serial\":" + serial +
           ",\"model\":" + JsonString(result.model) +
           ",\"firmware\":{\"name\":" + JsonString(firmware.name) +
           ",\"size\":" + std::to_string(firmware.size) +
           ",\"sha256\":" + JsonString(firmware.sha256) + "},\"rows\":[" + rowList +
           "],\"ok\":" + (result.Succeeded() ? "true" : "false") +
           ",\"stopped\":" + (result.stopped ? "true" : "false") +
           ",\"failure\":" + JsonString(AppendSentence(result.failure, result.note)) +
           ",\"duration_ms\":" + std::to_string(result.durationMs) +
           ",\"bytes_per_second\":" + std::to_string(result.bytesPerSecond) +
           ",\"version\":" + JsonString(stamp.version) + "}\n";
}
