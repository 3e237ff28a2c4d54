// The result log: one JSON object per scanner and run, one line each (JSON Lines, UTF-8),
// so a service centre can tell which serial number got which firmware, and when.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct CPortRunResult;

// The firmware file as the log names it.
struct CFirmwareIdentity {
    std::string name;     // the file's name without its folder
    uint64_t size = 0;
    std::string sha256;   // lower-case hex
};

// Reads the file (UTF-8 path) to name and hash it; false when it cannot be read.
bool IdentifyFirmwareFile(const std::string& path, CFirmwareIdentity& identity);

// An operator's or a work order's names for the records: NAME=VALUE pairs in order.
using CRecordTags = std::vector<std::pair<std::string, std::string>>;
// Sets the tag, replacing one of the same name in any (ASCII) case, as the settings
// file's names match.
void SetRecordTag(CRecordTags& tags, const std::string& name, const std::string& value);

// Where and when the record was made, and by which version of the tool.
struct CLogStamp {
    std::string utcTime;
    std::string hostName;
    std::string version;
    std::string station;   // empty: the host name
    CRecordTags tags;
};

// One record, ending in a line feed: time, host, port, serial (null when unknown),
// model, the firmware file, each row's name and status, whether every row ended "OK",
// whether a stop ended the port (its failure then says only how the scanner was left),
// the failure's message, duration and rate, the tool's version; then when the port's
// run began and ended, each row's attempts, the scanner's unique id, versions and USB
// device, the station and its tags, the speed the scanner was left at, whether it was
// skipped, and the speed the module went out at. Every field is there in every record,
// null where nothing was learnt.
// Texts that are no UTF-8 (a port name from a Linux command line) keep their valid
// characters, the others replaced, so the record is always written.
std::string ResultLogLine(const CPortRunResult& result, const CFirmwareIdentity& firmware,
                          const CLogStamp& stamp);

// Text as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);
