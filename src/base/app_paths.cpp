#include "base/app_paths.h"

std::optional<std::string> SettingsPathFor(const std::string& executablePath)
{
    const size_t separator = executablePath.find_last_of("/\\");
    const size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    if (nameStart >= executablePath.size())
        return std::nullopt;
    const size_t dot = executablePath.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    return executablePath.substr(0, hasExtension ? dot : executablePath.size()) + ".ini";
}
