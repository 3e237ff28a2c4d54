#include "settings/profile.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "base/file_open.h"
#include "base/utf.h"
#include "settings/profile_ini.h"

namespace {

// Longest value read back; a longer one is cut here rather than growing without end.
constexpr size_t kMaxValueChars = 65536;

// Through the system's private-profile calls, so the file behaves exactly as every
// other Windows program expects.
class CPrivateProfile : public CProfile {
public:
    explicit CPrivateProfile(const std::string& utf8Path)
        : utf8Path(utf8Path), valid(WidenStrict(utf8Path, path))
    {
    }

    // The system's calls read any bytes as text; a file that is none (a binary file in
    // its place) is told apart here, with the rules of the portable reader, the ANSI
    // code page allowed.
    FileState State() const override
    {
        errno = 0;
        std::FILE* file = OpenRegularFileUtf8(utf8Path);
        if (file == nullptr)
            return errno == ENOENT ? FileState::Missing : FileState::Unreadable;
        std::string bytes;
        char buffer[4096];
        size_t got;
        while (bytes.size() <= kMaxSettingsFileSize &&
               (got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            bytes.append(buffer, got);
        const bool failed = std::ferror(file) != 0;
        std::fclose(file);
        if (failed || bytes.size() > kMaxSettingsFileSize)
            return FileState::Unreadable;
        std::string text;
        SettingsEncoding encoding;
        return DecodeSettingsText(bytes, true, text, encoding) ? FileState::Text : FileState::NotText;
    }

    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const override
    {
        std::wstring wideSection, wideKey, wideDefault;
        if (!valid || !WidenStrict(section, wideSection) || !WidenStrict(key, wideKey) ||
            !WidenStrict(defaultValue, wideDefault))
            return defaultValue;
        // The call reports a value that did not fit by filling all but the last place.
        std::vector<wchar_t> buffer(256);
        for (;;) {
            const DWORD length = GetPrivateProfileStringW(
                wideSection.c_str(), wideKey.c_str(), wideDefault.c_str(), buffer.data(),
                static_cast<DWORD>(buffer.size()), path.c_str());
            if (length + 1 < buffer.size() || buffer.size() >= kMaxValueChars)
                return Narrow(std::wstring(buffer.data(), length));
            buffer.resize(buffer.size() * 2);
        }
    }

    int GetInt(const std::string& section, const std::string& key, int defaultValue) const override
    {
        std::wstring wideSection, wideKey;
        if (!valid || !WidenStrict(section, wideSection) || !WidenStrict(key, wideKey))
            return defaultValue;
        return static_cast<int>(
            GetPrivateProfileIntW(wideSection.c_str(), wideKey.c_str(), defaultValue, path.c_str()));
    }

    // The call lists the section's key names, each ended by a NUL, when no key is named.
    std::vector<std::string> Keys(const std::string& section) const override
    {
        std::wstring wideSection;
        std::vector<std::string> keys;
        if (!valid || !WidenStrict(section, wideSection))
            return keys;
        std::vector<wchar_t> buffer(1024);
        DWORD length = 0;
        for (;;) {
            length = GetPrivateProfileStringW(wideSection.c_str(), nullptr, L"", buffer.data(),
                                              static_cast<DWORD>(buffer.size()), path.c_str());
            if (length + 2 < buffer.size() || buffer.size() >= kMaxValueChars)
                break;
            buffer.resize(buffer.size() * 2);
        }
        for (size_t start = 0; start < length;) {
            const std::wstring name(buffer.data() + start);
            if (name.empty())
                break;
            keys.push_back(Narrow(name));
            start += name.size() + 1;
        }
        return keys;
    }

protected:
    bool WriteChecked(const std::string& section, const std::string& key,
                      const std::string& value) override
    {
        std::wstring wideSection, wideKey, wideValue;
        if (!valid || !WidenStrict(section, wideSection) || !WidenStrict(key, wideKey) ||
            !WidenStrict(value, wideValue))
            return false;
        // Windows refuses to write a read-only file; a root user under Wine would not be
        // refused, and the file would change all the same.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            writeError = ERROR_ACCESS_DENIED;
            return false;
        }
        CreateUnicodeFileIfMissing();
        if (WritePrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideValue.c_str(),
                                       path.c_str()) != FALSE)
            return true;
        writeError = GetLastError();
        return false;
    }

private:
    // The profile calls write a file in the ANSI code page unless it starts as UTF-16,
    // and a firmware path outside that code page would come back as question marks.
    // A new file therefore starts with the UTF-16 byte-order mark; an existing file
    // keeps its encoding.
    void CreateUnicodeFileIfMissing() const
    {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return;  // it exists, or cannot be made: the write itself tells
        const unsigned char bom[] = {0xFF, 0xFE};
        DWORD written = 0;
        WriteFile(file, bom, sizeof bom, &written, nullptr);
        CloseHandle(file);
    }

    std::string utf8Path;
    std::wstring path;
    bool valid;
};

}  // namespace

std::unique_ptr<CProfile> OpenNativeProfile(const std::string& path)
{
    return std::make_unique<CPrivateProfile>(path);
}
