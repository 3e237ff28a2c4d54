// The settings document: read an arbitrary file, write one key through the profile's
// rules, read it back; a file taken as text in any of its encodings encodes back to the
// same bytes. A write that is taken must read back as written and leave every
// other line as it read before; a refused one changes nothing.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "settings/profile_ini.h"

namespace {

// A profile over a document in memory: the same refusals as the file's profile.
class MemoryProfile : public CProfile {
public:
    explicit MemoryProfile(const std::string& text) : document(text) {}
    FileState State() const override { return FileState::Text; }
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const override
    {
        const std::string* value = document.Find(section, key);
        return value ? *value : defaultValue;
    }
    int GetInt(const std::string&, const std::string&, int defaultValue) const override
    {
        return defaultValue;
    }
    std::vector<std::string> Keys(const std::string& section) const override
    {
        return document.Keys(section);
    }
    CIniDocument document;

protected:
    bool WriteChecked(const std::string& section, const std::string& key,
                      const std::string& value) override
    {
        document.Set(section, key, value);
        return true;
    }
};

// Lines as a reader sees them: split at CRLF, CR or LF (independent of the document).
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += text[i];
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

// The old lines must all be there, in order, with at most one of them changed (the key's
// line) or at most three added (a blank, a section, the key).
bool OnlyTheKeysLineChanged(const std::vector<std::string>& before,
                            const std::vector<std::string>& after)
{
    if (after.size() == before.size()) {
        size_t changed = 0;
        for (size_t i = 0; i < before.size(); ++i)
            changed += before[i] != after[i];
        return changed <= 1;
    }
    if (after.size() < before.size() || after.size() > before.size() + 3)
        return false;
    size_t j = 0;
    for (const std::string& line : after)
        if (j < before.size() && line == before[j])
            ++j;
    return j == before.size();
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Values the reader changes by design: trimmed, and one pair of quotes removed.
bool ReadsBackUnchanged(const std::string& value)
{
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back())))
        return false;
    return !(value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
             value.back() == value.front());
}

// The names and the value come first, each ended by a 0x01 byte; the rest is the file.
std::string Field(const uint8_t*& data, const uint8_t* end)
{
    std::string field;
    while (data < end && *data != 0x01)
        field += static_cast<char>(*data++);
    if (data < end)
        ++data;
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t* end = data + size;
    const std::string section = Field(data, end);
    const std::string key = Field(data, end);
    const std::string value = Field(data, end);
    const std::string text(reinterpret_cast<const char*>(data), end - data);

    // The file's bytes, taken as text, come back in their own encoding byte for byte.
    std::string decoded, encoded;
    SettingsEncoding encoding;
    if (DecodeSettingsText(text, false, decoded, encoding) &&
        (!EncodeSettingsText(decoded, encoding, encoded) || encoded != text))
        std::abort();

    MemoryProfile profile(text);
    const std::string before = profile.document.Text();
    if (before != text)
        std::abort();   // an untouched document gives back its bytes
    const bool written = profile.WriteString(section, key, value);
    const std::string after = profile.document.Text();
    if (!written) {
        if (after != text)
            std::abort();
        return 0;
    }
    const CIniDocument reread(after);
    const std::string* back = reread.Find(section, key);
    if (back == nullptr || (ReadsBackUnchanged(value) && *back != value))
        std::abort();
    if (!OnlyTheKeysLineChanged(Lines(text), Lines(after)))
        std::abort();
    return 0;
}
