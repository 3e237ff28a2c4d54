#include "settings/profile.h"

namespace {

bool HasLineBreak(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

bool CProfile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value)
{
    // Such text would be written raw and turn into lines of its own on the next read.
    if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
        HasLineBreak(value) || section.find(']') != std::string::npos ||
        key.find('=') != std::string::npos)
        return false;
    return WriteChecked(section, key, value);
}

bool CProfile::WriteInt(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}
