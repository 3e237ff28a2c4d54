#include "base/environment.h"

#include <cstdlib>

#include "base/record_file.h"

std::string ExpandEnvironmentVariables(const std::string& text)
{
    return ExpandVariables(
        text,
        [](const std::string& name) -> std::optional<std::string> {
            if (const char* value = std::getenv(name.c_str()))
                return std::string(value);
            if (name == "COMPUTERNAME") {
                const std::string host = HostName();
                if (!host.empty())
                    return host;
            }
            return std::nullopt;
        },
        true);
}
