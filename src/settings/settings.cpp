#include "settings/settings.h"

#include <algorithm>
#include <cctype>

#include "base/environment.h"

namespace {

const char kConnect[] = "Connect";
const char kFirmware[] = "Firmware";
const char kTests[] = "Tests";
const char kBootloader[] = "Bootloader";
const char kLog[] = "Log";
const char kStation[] = "Station";

const char kPortName[] = "PortName";
const char kBaudRate[] = "BaudRate";
const char kTimeout[] = "Timeout";
const char kFileName[] = "FileName";
const char kTestingMode[] = "TestingMode";
const char kTransferSpeed[] = "TransferSpeed";
const char kSkipCurrent[] = "SkipCurrent";
const char kLocked[] = "Locked";
const char kStationKey[] = "Station";
const char kTagPrefix[] = "Tag.";

bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < b.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Names match as the file's keys do: a key met again in another case (the system's
// profile calls list it twice) is the first one.
void LoadTags(const CProfile& profile, CSettings& s)
{
    const std::string prefix = kTagPrefix;
    s.logTags.clear();
    for (const std::string& key : profile.Keys(kLog)) {
        if (key.size() <= prefix.size() || !SameText(key.substr(0, prefix.size()), prefix))
            continue;
        const std::string name = key.substr(prefix.size());
        if (std::none_of(s.logTags.begin(), s.logTags.end(),
                         [&name](const auto& tag) { return SameText(tag.first, name); }))
            s.logTags.emplace_back(name, profile.GetString(kLog, key, ""));
    }
}

void LoadSettings(const CProfile& profile, CSettings& s)
{
    s.portName = profile.GetString(kConnect, kPortName, s.portName);
    const int baudCode = profile.GetInt(kConnect, kBaudRate, s.baudCode);
    s.baudCode = (baudCode >= 0 && baudCode <= kMaxBaudCode) ? baudCode : kDefaultBaudCode;
    const int timeout = profile.GetInt(kConnect, kTimeout, static_cast<int>(s.timeout));
    s.timeout = (timeout >= int(kMinTimeoutMs) && timeout <= int(kMaxTimeoutMs))
                    ? static_cast<unsigned>(timeout)
                    : kDefaultTimeoutMs;
    s.firmwareFile = profile.GetString(kFirmware, kFileName, s.firmwareFile);
    s.skipCurrent = profile.GetInt(kFirmware, kSkipCurrent, s.skipCurrent ? 1 : 0) != 0;
    const int transfer = profile.GetInt(kFirmware, kTransferSpeed, s.transferSpeedCode);
    s.transferSpeedCode = (transfer >= kMinTransferSpeedCode && transfer <= kMaxTransferSpeedCode)
                              ? transfer
                              : kDefaultTransferSpeedCode;
    s.testingMode = profile.GetInt(kTests, kTestingMode, s.testingMode);
    s.bootloaderFile = profile.GetString(kBootloader, kFileName, s.bootloaderFile);
    s.bootloaderPort = profile.GetString(kBootloader, kPortName, s.bootloaderPort);
    s.bootloaderBaudCode = profile.GetInt(kBootloader, kBaudRate, s.bootloaderBaudCode);
    // Expanded once, as read: a value kept from before is expanded already.
    const std::string logFile = profile.GetString(kLog, kFileName, "");
    if (!logFile.empty())
        s.logFile = ExpandEnvironmentVariables(logFile);
    s.logStation = profile.GetString(kLog, kStationKey, s.logStation);
    LoadTags(profile, s);
    s.stationLocked = profile.GetInt(kStation, kLocked, s.stationLocked ? 1 : 0) != 0;
}

bool SaveSettings(CProfile& profile, const CSettings& s)
{
    // Every key is attempted even after a failure, as each lands on its own line.
    bool ok = profile.WriteString(kConnect, kPortName, s.portName);
    ok &= profile.WriteInt(kConnect, kBaudRate, s.baudCode);
    ok &= profile.WriteInt(kConnect, kTimeout, static_cast<int>(s.timeout));
    ok &= profile.WriteString(kFirmware, kFileName, s.firmwareFile);
    ok &= profile.WriteInt(kFirmware, kSkipCurrent, s.skipCurrent ? 1 : 0);
    ok &= profile.WriteInt(kFirmware, kTransferSpeed, s.transferSpeedCode);
    ok &= profile.WriteInt(kTests, kTestingMode, s.testingMode);
    ok &= profile.WriteString(kBootloader, kFileName, s.bootloaderFile);
    ok &= profile.WriteString(kBootloader, kPortName, s.bootloaderPort);
    ok &= profile.WriteInt(kBootloader, kBaudRate, s.bootloaderBaudCode);
    return ok;
}

}  // namespace

bool CSettings::operator==(const CSettings& o) const
{
    return portName == o.portName && baudCode == o.baudCode && timeout == o.timeout &&
           firmwareFile == o.firmwareFile && transferSpeedCode == o.transferSpeedCode &&
           testingMode == o.testingMode &&
           bootloaderFile == o.bootloaderFile && bootloaderPort == o.bootloaderPort &&
           bootloaderBaudCode == o.bootloaderBaudCode && logFile == o.logFile &&
           skipCurrent == o.skipCurrent && stationLocked == o.stationLocked &&
           logStation == o.logStation && logTags == o.logTags;
}

bool ExchangeSettings(CProfile& profile, CSettings& settings, bool save)
{
    if (save)
        return SaveSettings(profile, settings);
    LoadSettings(profile, settings);
    return true;
}

int SpeedCodeFromSheet(int stored, int selected)
{
    return selected < 0 ? stored : selected;
}
