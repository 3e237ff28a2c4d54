// What a command of trelvo-cli works with: the settings file's values with the command
// line's options laid over them, checked before any port is opened.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "connection/connection_actions.h"

// The Windows program's settings file, trelvo.ini beside the executable; empty when the
// executable's folder is unknown.
std::string DefaultCliSettingsPath();
// trelvo.ini in the folder of the given executable path.
std::string CliSettingsPathBeside(const std::string& executablePath);

struct CCliSettings {
    std::string path;              // absolute path of the settings file read
    CConnectSettings connect;
    std::string firmwareFile;      // update and station only
    bool skipCurrent = false;      // --skip-current, or Firmware/SkipCurrent
    int transferSpeedCode = kDefaultTransferSpeedCode;   // update and station only
    // The speed code the file holds (its default when it holds none), whatever --speed says.
    int fileSpeedCode = 2;
    // The port is the settings file's own (no --port naming another one): a speed change
    // may then be written back to the file.
    bool portFromFile = false;
    // update: the records' station ([Log] Station; empty: the host's name) and tags, the
    // file's [Log] Tag.NAME keys with each --tag laid over them.
    std::string logStation;
    std::vector<std::pair<std::string, std::string>> logTags;
};

// Reads the settings for a command that talks to a scanner. An explicitly named file
// must exist; the default one may be missing (defaults). A file that is no text or
// cannot be read, a value the command uses that is malformed or out of range, a missing
// port, or (update) a missing firmware file name throws CUsageError naming the file (and
// the key).
CCliSettings ResolveCliSettings(const CCliOptions& options, const std::string& defaultPath);

// Records the scanner's new speed code as Connect/BaudRate; false, with the reason in
// error, when the file cannot be written.
bool StoreCliSpeedCode(const std::string& path, int code, std::string& error);
