#include "settings/profile_ini.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/file_open.h"
#include "base/utf.h"

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";
const char kDefaultNewline[] = "\r\n";  // the Windows file format, for new files

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& text, size_t from = 0, size_t to = std::string::npos)
{
    if (to > text.size())
        to = text.size();
    while (from < to && IsBlank(text[from]))
        ++from;
    while (to > from && IsBlank(text[to - 1]))
        --to;
    return text.substr(from, to - from);
}

std::string Unquote(const std::string& value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

// Control characters a text file holds; any other is a sign of binary content.
bool IsTextCharacter(uint32_t c)
{
    return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void AppendUtf8(std::string& out, uint32_t c)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// UTF-16 from start to the end, in the byte order given, strictly: every surrogate
// paired, no control character a text does not hold.
bool DecodeUtf16(const std::string& bytes, size_t start, bool bigEndian, std::string& text)
{
    if ((bytes.size() - start) % 2 != 0)
        return false;
    auto unit = [&](size_t at) {
        const auto hi = static_cast<uint8_t>(bytes[at + (bigEndian ? 0 : 1)]);
        const auto lo = static_cast<uint8_t>(bytes[at + (bigEndian ? 1 : 0)]);
        return uint32_t(hi) << 8 | lo;
    };
    text.clear();
    for (size_t i = start; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xDC00 && c <= 0xDFFF)
            return false;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 2 >= bytes.size())
                return false;
            const uint32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (!IsTextCharacter(c))
            return false;
        AppendUtf8(text, c);
    }
    return true;
}

void AppendUtf16(std::string& out, uint32_t unit, bool bigEndian)
{
    const char hi = char(unit >> 8), lo = char(unit & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
}

bool EncodeUtf16(const std::string& text, bool bigEndian, std::string& bytes)
{
    const std::wstring wide = Widen(text);
    for (size_t i = 0; i < wide.size(); ++i) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        // Where wchar_t holds UTF-16 units already, a pair passes unit by unit.
        if (c >= 0x10000) {
            c -= 0x10000;
            AppendUtf16(bytes, 0xD800 + (c >> 10), bigEndian);
            AppendUtf16(bytes, 0xDC00 + (c & 0x3FF), bigEndian);
        } else {
            AppendUtf16(bytes, c, bigEndian);
        }
    }
    return true;
}

bool IsUtf8Text(const std::string& bytes)
{
    if (!IsValidUtf8(bytes))
        return false;
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return IsTextCharacter(static_cast<uint8_t>(c)); });
}

// Which byte order a text without a byte-order mark has, from where its NUL bytes
// stand: an INI file is mostly ASCII, whose characters have a zero high byte. Nine in
// ten of them on one side say UTF-16; scattered ones say binary.
enum class NulSide { None, Odd, Even, Scattered };
NulSide WhereNulsStand(const std::string& bytes)
{
    size_t odd = 0, even = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0')
            ++(i % 2 ? odd : even);
    }
    if (odd + even == 0)
        return NulSide::None;
    if (odd >= 9 * (odd + even) / 10 && odd > even)
        return NulSide::Odd;
    if (even >= 9 * (odd + even) / 10 && even > odd)
        return NulSide::Even;
    return NulSide::Scattered;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

CIniDocument::CIniDocument(const std::string& text)
{
    size_t start = 0;
    while (start < text.size()) {
        Line line;
        const size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string::npos) {
            line.text = text.substr(start);
            start = text.size();
        } else {
            line.text = text.substr(start, stop - start);
            const size_t endLength = (text[stop] == '\r' && stop + 1 < text.size() && text[stop + 1] == '\n') ? 2 : 1;
            line.end = text.substr(stop, endLength);
            start = stop + endLength;
            if (newline.empty())
                newline = line.end;
        }
        Classify(line, lines.empty());
        lines.push_back(std::move(line));
    }
    if (newline.empty())
        newline = kDefaultNewline;
}

void CIniDocument::Classify(Line& line, bool first)
{
    const std::string& text = line.text;
    size_t start = (first && text.compare(0, 3, kUtf8Bom) == 0) ? 3 : 0;
    while (start < text.size() && IsBlank(text[start]))
        ++start;
    if (start == text.size() || text[start] == ';')
        return;
    if (text[start] == '[') {
        line.isSection = true;
        line.name = Trim(text, start + 1, text.find(']', start));
        return;
    }
    const size_t equals = text.find('=', start);
    if (equals == std::string::npos)
        return;
    line.name = Trim(text, start, equals);
    if (line.name.empty())
        return;
    line.isKey = true;
    line.nameStart = start;
    line.value = Unquote(Trim(text, equals + 1));
}

const std::string* CIniDocument::Find(const std::string& section, const std::string& key) const
{
    bool inSection = false;
    for (const Line& line : lines) {
        if (line.isSection)
            inSection = SameName(line.name, section);
        else if (inSection && line.isKey && SameName(line.name, key))
            return &line.value;
    }
    return nullptr;
}

std::vector<std::string> CIniDocument::Keys(const std::string& section) const
{
    std::vector<std::string> keys;
    bool inSection = false;
    for (const Line& line : lines) {
        if (line.isSection) {
            inSection = SameName(line.name, section);
        } else if (inSection && line.isKey &&
                   std::none_of(keys.begin(), keys.end(),
                                [&line](const std::string& key) { return SameName(key, line.name); })) {
            keys.push_back(line.name);
        }
    }
    return keys;
}

int CIniDocument::FindSection(const std::string& section) const
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].isSection && SameName(lines[i].name, section))
            return static_cast<int>(i);
    return -1;
}

void CIniDocument::Set(const std::string& section, const std::string& key, const std::string& value)
{
    bool inSection = false;
    for (Line& line : lines) {
        if (line.isSection) {
            inSection = SameName(line.name, section);
        } else if (inSection && line.isKey && SameName(line.name, key)) {
            line.text = line.text.substr(0, line.nameStart) + line.name + "=" + value;
            line.value = value;
            return;
        }
    }

    const std::string keyLine = key + "=" + value;
    const int sectionIndex = FindSection(section);
    if (sectionIndex >= 0) {
        // After the section's last non-blank line, so the blank lines that part it from
        // the next section stay where they are.
        size_t last = size_t(sectionIndex);
        for (size_t i = last + 1; i < lines.size() && !lines[i].isSection; ++i)
            if (!Trim(lines[i].text).empty())
                last = i;
        InsertLine(last + 1, keyLine);
        return;
    }

    if (!lines.empty() && !Trim(lines.back().text).empty())
        InsertLine(lines.size(), "");
    InsertLine(lines.size(), "[" + section + "]");
    InsertLine(lines.size(), keyLine);
}

void CIniDocument::InsertLine(size_t index, const std::string& text)
{
    if (index == lines.size())
        EndLastLine();
    Line line;
    line.text = text;
    line.end = newline;
    Classify(line, index == 0);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(index), std::move(line));
    if (index > 0)
        KeepLineEndApart(index - 1);
    KeepLineEndApart(index);
}

void CIniDocument::KeepLineEndApart(size_t index)
{
    if (index + 1 >= lines.size() || lines[index].end != "\r")
        return;
    const Line& next = lines[index + 1];
    const std::string& following = next.text.empty() ? next.end : next.text;
    if (!following.empty() && following.front() == '\n')
        lines[index].end = "\r\n";
}

void CIniDocument::EndLastLine()
{
    if (!lines.empty() && lines.back().end.empty())
        lines.back().end = newline;
}

std::string CIniDocument::Text() const
{
    std::string text;
    for (const Line& line : lines)
        text += line.text + line.end;
    return text;
}

bool DecodeSettingsText(const std::string& bytes, bool ansi, std::string& text,
                        SettingsEncoding& encoding)
{
    const auto starts = [&](const char* mark) { return bytes.compare(0, 2, mark, 2) == 0; };
    if (bytes.size() >= 2 && starts("\xFF\xFE")) {
        encoding = SettingsEncoding::Utf16LeBom;
        return DecodeUtf16(bytes, 2, false, text);
    }
    if (bytes.size() >= 2 && starts("\xFE\xFF")) {
        encoding = SettingsEncoding::Utf16BeBom;
        return DecodeUtf16(bytes, 2, true, text);
    }
    switch (WhereNulsStand(bytes)) {
    case NulSide::Odd:
        encoding = SettingsEncoding::Utf16Le;
        return DecodeUtf16(bytes, 0, false, text);
    case NulSide::Even:
        encoding = SettingsEncoding::Utf16Be;
        return DecodeUtf16(bytes, 0, true, text);
    case NulSide::Scattered:
        return false;
    case NulSide::None:
        break;
    }
    encoding = SettingsEncoding::Utf8;
    text = bytes;
    return IsUtf8Text(bytes) || (ansi && std::all_of(bytes.begin(), bytes.end(), [](char c) {
                                     return IsTextCharacter(static_cast<uint8_t>(c));
                                 }));
}

bool EncodeSettingsText(const std::string& text, SettingsEncoding encoding, std::string& bytes)
{
    bytes.clear();
    switch (encoding) {
    case SettingsEncoding::Utf8:
        bytes = text;
        return true;
    case SettingsEncoding::Utf16LeBom:
        bytes = "\xFF\xFE";
        break;
    case SettingsEncoding::Utf16BeBom:
        bytes = "\xFE\xFF";
        break;
    case SettingsEncoding::Utf16Le:
    case SettingsEncoding::Utf16Be:
        break;
    }
    if (!IsValidUtf8(text))
        return false;
    const bool bigEndian =
        encoding == SettingsEncoding::Utf16BeBom || encoding == SettingsEncoding::Utf16Be;
    return EncodeUtf16(text, bigEndian, bytes);
}

int ProfileIntFromText(const std::string& text, int defaultValue)
{
    if (text.empty())
        return defaultValue;
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + uint32_t(text[i] - '0');
    return static_cast<int>(negative ? 0u - value : value);
}

const CIniDocument* CIniProfile::Document() const
{
    const FileStamp stamp = FileStampUtf8(path);
    if (!stamp.known || stamp != documentStamp) {
        document.reset();
        std::string text;
        SettingsEncoding encoding;
        documentState = ReadFile(text, encoding);
        if (documentState == FileState::Text)
            document = std::make_unique<CIniDocument>(text);
        documentStamp = stamp;
    }
    return document.get();
}

CProfile::FileState CIniProfile::State() const
{
    Document();
    return documentState;
}

std::string CIniProfile::GetString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) const
{
    const CIniDocument* parsed = Document();
    const std::string* value = parsed ? parsed->Find(section, key) : nullptr;
    return value ? *value : defaultValue;
}

int CIniProfile::GetInt(const std::string& section, const std::string& key, int defaultValue) const
{
    const CIniDocument* parsed = Document();
    const std::string* value = parsed ? parsed->Find(section, key) : nullptr;
    return value ? ProfileIntFromText(*value, defaultValue) : defaultValue;
}

std::vector<std::string> CIniProfile::Keys(const std::string& section) const
{
    const CIniDocument* parsed = Document();
    return parsed ? parsed->Keys(section) : std::vector<std::string>();
}

bool CIniProfile::WriteChecked(const std::string& section, const std::string& key,
                               const std::string& value)
{
    std::string text;
    SettingsEncoding encoding = SettingsEncoding::Utf8;
    // A file that exists but cannot be read (or is no text) must not be replaced by one
    // holding only this key.
    const FileState state = ReadFile(text, encoding);
    if (state == FileState::Unreadable || state == FileState::NotText)
        return false;
    auto updated = std::make_unique<CIniDocument>(text);
    updated->Set(section, key, value);
    std::string bytes;
    if (!EncodeSettingsText(updated->Text(), encoding, bytes))
        return false;
    // The whole new text replaces the file in one step, so a failed write leaves the
    // old file as it was instead of an empty or cut one.
    if (!ReplaceFileUtf8(path, bytes, writeError))
        return false;
    document = std::move(updated);
    documentState = FileState::Text;
    documentStamp = FileStampUtf8(path);
    return true;
}

CProfile::FileState CIniProfile::ReadFile(std::string& text, SettingsEncoding& encoding) const
{
    text.clear();
    errno = 0;
    FilePtr file(OpenRegularFileUtf8(path));
    if (!file)
        return errno == ENOENT ? FileState::Missing : FileState::Unreadable;
    if (OpenFileSize(file.get()) > int64_t(kMaxSettingsFileSize))
        return FileState::Unreadable;
    std::string bytes;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.append(buffer, got);
    if (std::ferror(file.get()))
        return FileState::Unreadable;
    if (!DecodeSettingsText(bytes, false, text, encoding)) {
        text.clear();
        return FileState::NotText;
    }
    return FileState::Text;
}
