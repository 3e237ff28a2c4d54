#include "settings/profile.h"
#include "settings/profile_ini.h"

std::unique_ptr<CProfile> OpenNativeProfile(const std::string& path)
{
    return std::make_unique<CIniProfile>(path);
}
