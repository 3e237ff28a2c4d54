// The settings file seen as an INI profile: named sections of key=value lines. Section
// and key names match without regard to case; the first value of a key wins; integers
// are decimal text. A failed write is reported by the result, never thrown.
#pragma once

#include <memory>
#include <string>

class CProfile {
public:
    virtual ~CProfile() = default;

    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) const = 0;
    // The leading decimal digits of the value, with an optional sign; the default when
    // the key is missing or its value empty.
    virtual int GetInt(const std::string& section, const std::string& key,
                       int defaultValue) const = 0;

    // Sets the value, creating the file, the section or the key as needed and leaving
    // every other line of the file as it was. False when the file cannot be written,
    // or when a name or the value would not read back as written (a line break or NUL,
    // a key holding '=' or starting with '[' or ';', a section holding ']', a name
    // starting or ending with a blank).
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInt(const std::string& section, const std::string& key, int value);

protected:
    virtual bool WriteChecked(const std::string& section, const std::string& key,
                              const std::string& value) = 0;
};

// The platform's own profile of the file at an absolute UTF-8 path: the system's
// private-profile calls on Windows, CIniProfile elsewhere.
std::unique_ptr<CProfile> OpenNativeProfile(const std::string& path);
