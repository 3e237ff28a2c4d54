#include "settings/settings.h"

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
const char kSkipCurrent[] = "SkipCurrent";
const char kLocked[] = "Locked";

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
    s.testingMode = profile.GetInt(kTests, kTestingMode, s.testingMode);
    s.bootloaderFile = profile.GetString(kBootloader, kFileName, s.bootloaderFile);
    s.bootloaderPort = profile.GetString(kBootloader, kPortName, s.bootloaderPort);
    s.bootloaderBaudCode = profile.GetInt(kBootloader, kBaudRate, s.bootloaderBaudCode);
    s.logFile = profile.GetString(kLog, kFileName, s.logFile);
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
           firmwareFile == o.firmwareFile && testingMode == o.testingMode &&
           bootloaderFile == o.bootloaderFile && bootloaderPort == o.bootloaderPort &&
           bootloaderBaudCode == o.bootloaderBaudCode && logFile == o.logFile &&
           skipCurrent == o.skipCurrent && stationLocked == o.stationLocked;
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
