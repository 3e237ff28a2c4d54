// The settings file seen as an INI profile: named sections of key=value lines. Section
// and key names match without regard to case; the first value of a key wins; integers
// are decimal text. A failed write is reported by the result, never thrown.
#pragma once

#include <memory>
#include <string>
#include <vector>

class CProfile {
public:
    virtual ~CProfile() = default;

    // What the file holds for this profile. Missing: the defaults apply. NotText: bytes
    // that are no text the profile can read (a binary file in the settings file's
    // place), which are neither read nor replaced. Unreadable: no rights, an I/O error,
    // a file too large to be settings.
    enum class FileState { Missing, Text, NotText, Unreadable };
    virtual FileState State() const = 0;

    virtual std::string GetString(const std::string& section, const std::string& key,
                                  const std::string& defaultValue) const = 0;
    // The leading decimal digits of the value, with an optional sign; the default when
    // the key is missing or its value empty.
    virtual int GetInt(const std::string& section, const std::string& key,
                       int defaultValue) const = 0;
    // The key names of the section in file order, each once (the first spelling of a
    // name met in several cases); empty when it has none.
    virtual std::vector<std::string> Keys(const std::string& section) const = 0;

    // Sets the value, creating the file, the section or the key as needed and leaving
    // every other line of the file as it was. False when the file cannot be written,
    // or when a name or the value would not read back as written (a line break or NUL,
    // a key holding '=' or starting with '[' or ';', a section holding ']', a name
    // starting or ending with a blank).
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInt(const std::string& section, const std::string& key, int value);
    // Why the last write failed: the system's error code (errno on POSIX, GetLastError
    // on Windows; EACCES and ERROR_ACCESS_DENIED for a file the user may not write);
    // 0 for a write refused for its names or value, or for the file's content.
    unsigned long WriteError() const { return writeError; }

protected:
    virtual bool WriteChecked(const std::string& section, const std::string& key,
                              const std::string& value) = 0;

    unsigned long writeError = 0;
};

// The platform's own profile of the file at an absolute UTF-8 path: the system's
// private-profile calls on Windows, CIniProfile elsewhere.
std::unique_ptr<CProfile> OpenNativeProfile(const std::string& path);
