// The operator's settings kept in the settings file beside the executable, read once
// when the main window opens and written back when the settings sheet is confirmed.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "settings/profile.h"

constexpr int kDefaultBaudCode = 2;  // 9600 baud
constexpr unsigned kDefaultTimeoutMs = 3000;
// A reply time-out outside these bounds is not taken from the file: zero would make
// every read wait for ever, and the upper bound is five minutes.
constexpr unsigned kMinTimeoutMs = 100;
constexpr unsigned kMaxTimeoutMs = 300000;
constexpr int kMaxBaudCode = 9;  // 921600 baud
// The module is written at 115200 (code 6) or, where the line carries it, faster.
constexpr int kDefaultTransferSpeedCode = 6;
constexpr int kMinTransferSpeedCode = 6;
constexpr int kMaxTransferSpeedCode = 9;

// In the order of the file: the values are read and written in this order.
struct CSettings {
    std::string portName;                   // Connect/PortName, e.g. COM3
    int baudCode = kDefaultBaudCode;        // Connect/BaudRate, speed code
    unsigned timeout = kDefaultTimeoutMs;   // Connect/Timeout, ms
    std::string firmwareFile;               // Firmware/FileName
    // A scanner already running the module's version is not updated.
    bool skipCurrent = false;               // Firmware/SkipCurrent (1 or 0)
    int transferSpeedCode = kDefaultTransferSpeedCode;   // Firmware/TransferSpeed
    // Carried unchanged: read, kept and written back so hand-made values survive.
    int testingMode = 1;                    // Tests/TestingMode
    std::string bootloaderFile;             // Bootloader/FileName
    std::string bootloaderPort;             // Bootloader/PortName
    int bootloaderBaudCode = kDefaultBaudCode;  // Bootloader/BaudRate
    // Optional and set by hand: the result log of the batch window (JSON Lines); empty
    // means no log. Read only: no page edits it, and a save leaves its line as it is.
    // Its environment variables are expanded (%COMPUTERNAME%; on Linux also $NAME, ${NAME}).
    std::string logFile;                    // Log/FileName
    // Set by hand for line operators: the settings sheet opens read-only. Read only.
    bool stationLocked = false;             // Station/Locked (1 or 0)
    // The records' station (empty: the host's name) and tags, Log/Tag.NAME=VALUE in file
    // order; read only as well.
    std::string logStation;                 // Log/Station
    std::vector<std::pair<std::string, std::string>> logTags;

    bool operator==(const CSettings& other) const;
    bool operator!=(const CSettings& other) const { return !(*this == other); }
};

// save = false: reads every key, each with the current value as its default (a missing
// file or key keeps the value; a speed code or time-out out of range gives the default).
// save = true: writes the keys of the sheet and the carried values. False when a write failed; nothing is thrown and
// the values in memory stay as they are.
bool ExchangeSettings(CProfile& profile, CSettings& settings, bool save);

// The speed code to keep after the settings sheet's OK: the page's choice, or, when its
// list shows none (a stored code of 7..9 has no item there), the stored code, so that
// confirming the sheet does not lose it.
int SpeedCodeFromSheet(int stored, int selected);
