#include "settings/profile.h"

namespace {

// A line break (or a NUL, which ends the text for the system's calls) would be written
// raw and turn into lines of its own, or cut the text, on the next read.
bool HasLineBreak(const std::string& text)
{
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Names are trimmed when read, and a line whose first character is '[' or ';' reads as
// a section or a comment: such a name would not read back as written.
bool ReadsBackAsName(const std::string& name)
{
    return !name.empty() && !IsBlank(name.front()) && !IsBlank(name.back()) &&
           !HasLineBreak(name);
}

}  // namespace

bool CProfile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value)
{
    writeError = 0;
    if (!ReadsBackAsName(section) || !ReadsBackAsName(key) || HasLineBreak(value) ||
        section.find(']') != std::string::npos || key.find('=') != std::string::npos ||
        key.front() == '[' || key.front() == ';')
        return false;
    return WriteChecked(section, key, value);
}

bool CProfile::WriteInt(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}
