// The result log: one JSON object per scanner and run, one line each (JSON Lines, UTF-8),
// so a service centre can tell which serial number got which firmware, and when.
#pragma once

#include <cstdint>
#include <string>

struct CPortRunResult;

// The firmware file as the log names it.
struct CFirmwareIdentity {
    std::string name;     // the file's name without its folder
    uint64_t size = 0;
    std::string sha256;   // lower-case hex
};

// Reads the file (UTF-8 path) to name and hash it; false when it cannot be read.
bool IdentifyFirmwareFile(const std::string& path, CFirmwareIdentity& identity);

// Where and when the record was made, and by which version of the tool.
struct CLogStamp {
    std::string utcTime;
    std::string hostName;
    std::string version;
};

// One record, ending in a line feed: time, host, port, serial (null when unknown),
// model, the firmware file, each row's name and status, whether every row ended "OK",
// whether a stop ended the port (its failure then says only how the scanner was left),
// the failure's message, duration and rate, the tool's version.
std::string ResultLogLine(const CPortRunResult& result, const CFirmwareIdentity& firmware,
                          const CLogStamp& stamp);

// Text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);
