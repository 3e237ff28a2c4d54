#include "settings/profile_ini.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "base/file_open.h"

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
        if (ReadFile(text) == FileState::Read)
            document = std::make_unique<CIniDocument>(text);
        documentStamp = stamp;
    }
    return document.get();
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

bool CIniProfile::WriteChecked(const std::string& section, const std::string& key,
                               const std::string& value)
{
    std::string text;
    // A file that exists but cannot be read must not be replaced by one holding only
    // this key.
    if (ReadFile(text) == FileState::Unreadable)
        return false;
    auto updated = std::make_unique<CIniDocument>(text);
    updated->Set(section, key, value);
    // The whole new text replaces the file in one step, so a failed write leaves the
    // old file as it was instead of an empty or cut one.
    if (!ReplaceFileUtf8(path, updated->Text()))
        return false;
    document = std::move(updated);
    documentStamp = FileStampUtf8(path);
    return true;
}

CIniProfile::FileState CIniProfile::ReadFile(std::string& text) const
{
    text.clear();
    errno = 0;
    FilePtr file(OpenRegularFileUtf8(path));
    if (!file)
        return errno == ENOENT ? FileState::Missing : FileState::Unreadable;
    if (OpenFileSize(file.get()) > int64_t(kMaxSettingsFileSize))
        return FileState::Unreadable;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, got);
    if (std::ferror(file.get())) {
        text.clear();
        return FileState::Unreadable;
    }
    return FileState::Read;
}
