#include "base/app_paths.h"

#include <unistd.h>

#include <vector>

std::optional<std::string> ExecutablePath()
{
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || size_t(length) >= buffer.size())
        return std::nullopt;
    return std::string(buffer.data(), size_t(length));
}
