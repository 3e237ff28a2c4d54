#include "cli/settings.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "base/app_paths.h"
#include "base/strings.h"
#include "base/system_error.h"
#include "engine/result_log.h"
#include "settings/profile.h"
#include "settings/profile_ini.h"
#include "settings/settings.h"
#include "transport/port_system.h"

namespace {

const char kSettingsFileName[] = "trelvo.ini";
const char kConnect[] = "Connect";
const char kBaudRate[] = "BaudRate";
const char kTimeout[] = "Timeout";
const char kFirmware[] = "Firmware";
const char kTransferSpeed[] = "TransferSpeed";

// The Windows profile calls look for a relative file name in the Windows folder, not in
// the working folder the user means.
std::string AbsolutePath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute =
        std::filesystem::absolute(std::filesystem::u8path(path), error);
    return error ? path : absolute.u8string();
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::u8path(path), error);
}

// A folder, FIFO or device in the settings file's place (opening a FIFO would wait for
// a writer for ever, and "not found" would be untrue), or a file too large to be one,
// which the settings layer would quietly not read.
void RefuseIfNotUsable(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(std::filesystem::u8path(path), error);
    if (error || !std::filesystem::exists(status))
        return;
    if (!std::filesystem::is_regular_file(status))
        throw CUsageError(StringPrintf(LoadText(IDS_SETTINGS_NOT_REGULAR), path.c_str()));
    const uintmax_t size = std::filesystem::file_size(std::filesystem::u8path(path), error);
    if (!error && size > kMaxSettingsFileSize)
        throw CUsageError(StringPrintf(LoadText(IDS_SETTINGS_TOO_LARGE), path.c_str(),
                                       static_cast<unsigned long long>(size),
                                       static_cast<unsigned long long>(kMaxSettingsFileSize)));
}

// The settings layer reads a number from its leading digits and replaces an out-of-range
// one by the default; a command line tool says so instead of guessing.
std::string KeyName(const std::string& path, const char* section, const char* key)
{
    return path + ": [" + section + "] " + key;
}

// The key's value checked as check checks it (naming the file and key); loaded when the
// key is missing or empty.
template <class T>
T StoredValue(const CProfile& profile, const std::string& path, const char* section,
              const char* key, T loaded, T (*check)(long long, const std::string&))
{
    const std::string raw = profile.GetString(section, key, "");
    if (raw.empty())
        return loaded;
    const std::string where = KeyName(path, section, key);
    return check(ParseCliNumber(raw, where), where);
}

}  // namespace

std::string CliSettingsPathBeside(const std::string& executablePath)
{
    const size_t separator = executablePath.find_last_of("/\\");
    const std::string folder =
        separator == std::string::npos ? std::string() : executablePath.substr(0, separator + 1);
    return folder + kSettingsFileName;
}

std::string DefaultCliSettingsPath()
{
    const std::optional<std::string> executable = ExecutablePath();
    return executable ? CliSettingsPathBeside(*executable) : std::string();
}

CCliSettings ResolveCliSettings(const CCliOptions& options, const std::string& defaultPath)
{
    CCliSettings result;
    CSettings stored;
    std::unique_ptr<CProfile> profile;
    if (options.settingsFile) {
        result.path = AbsolutePath(*options.settingsFile);
        RefuseIfNotUsable(result.path);
        if (!Exists(result.path))
            throw CUsageError(StringPrintf(LoadText(IDS_CLI_SETTINGS_NOT_FOUND), result.path.c_str()));
    } else if (!defaultPath.empty()) {
        result.path = AbsolutePath(defaultPath);
        RefuseIfNotUsable(result.path);
    }
    if (!result.path.empty()) {
        profile = OpenNativeProfile(result.path);
        // Defaults in place of a file that is there but cannot be read would be a guess.
        switch (profile->State()) {
        case CProfile::FileState::NotText:
            throw CUsageError(StringPrintf(LoadText(IDS_SETTINGS_NOT_TEXT), result.path.c_str()));
        case CProfile::FileState::Unreadable:
            throw CUsageError(StringPrintf(LoadText(IDS_SETTINGS_UNREADABLE), result.path.c_str()));
        case CProfile::FileState::Missing:
        case CProfile::FileState::Text:
            break;
        }
        ExchangeSettings(*profile, stored, false);
    }

    if (options.port) {
        result.connect.portName = *options.port;
    } else if (options.allPorts) {
        // The ports are searched for; the file's port is only one of them if listed.
    } else {
        result.connect.portName = stored.portName;
        if (result.connect.portName.empty())
            throw CUsageError(StringPrintf(LoadText(IDS_CLI_NO_PORT), result.path.c_str()));
    }
    result.portFromFile =
        !stored.portName.empty() && SamePortName(result.connect.portName, stored.portName);

    result.fileSpeedCode = stored.baudCode;
    if (options.speedCode)
        result.connect.speedCode = *options.speedCode;
    else
        result.connect.speedCode = result.fileSpeedCode =
            profile ? StoredValue(*profile, result.path, kConnect, kBaudRate, stored.baudCode,
                                  CheckedSpeedCode)
                    : stored.baudCode;
    if (options.timeout)
        result.connect.timeout = *options.timeout;
    else
        result.connect.timeout =
            profile ? StoredValue(*profile, result.path, kConnect, kTimeout, stored.timeout,
                                  CheckedTimeout)
                    : stored.timeout;

    result.skipCurrent = options.skipCurrent || stored.skipCurrent;
    result.logStation = stored.logStation;
    result.logTags = stored.logTags;
    for (const auto& tag : options.tags)
        SetRecordTag(result.logTags, tag.first, tag.second);

    if (options.command == CliCommand::Update || options.command == CliCommand::Station) {
        result.firmwareFile = options.firmwareFile ? *options.firmwareFile : stored.firmwareFile;
        if (result.firmwareFile.empty())
            throw CUsageError(StringPrintf(LoadText(IDS_CLI_NO_FIRMWARE_FILE), result.path.c_str()));
        if (options.transferSpeedCode)
            result.transferSpeedCode = *options.transferSpeedCode;
        else if (profile)
            result.transferSpeedCode =
                StoredValue(*profile, result.path, kFirmware, kTransferSpeed,
                            stored.transferSpeedCode, CheckedTransferSpeedCode);
    }
    return result;
}

bool StoreCliSpeedCode(const std::string& path, int code, std::string& error)
{
    const std::unique_ptr<CProfile> profile = OpenNativeProfile(path);
    if (profile->WriteInt(kConnect, kBaudRate, code))
        return true;
    error = profile->WriteError() != 0 ? SystemErrorText(profile->WriteError())
                                       : std::string(LoadText(IDS_SYSERR_INVALID));
    return false;
}
