// A portable INI profile that reads and writes like the Windows private-profile calls:
// names match without regard to (ASCII) case, values are trimmed and lose one pair of
// enclosing quotes, and a write touches only the line of its key. Every other byte of
// the file stays as it was: comments, blank lines, foreign sections, line ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/file_open.h"
#include "settings/profile.h"

// The text of an INI file as lines, edited in place.
class CIniDocument {
public:
    explicit CIniDocument(const std::string& text);

    // The first value of the key, searching the sections in file order; null if none.
    const std::string* Find(const std::string& section, const std::string& key) const;
    // The key names of every section of that name, in file order, each once.
    std::vector<std::string> Keys(const std::string& section) const;

    // Updates the first value of the key in place, or appends the key at the end of
    // the first section of that name, or appends the section at the end.
    void Set(const std::string& section, const std::string& key, const std::string& value);

    std::string Text() const;

private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n", "\r" or empty on the last line
        // Filled by Classify:
        bool isSection = false;
        bool isKey = false;
        std::string name;    // section or key name, trimmed
        std::string value;   // key value, trimmed and unquoted
        size_t nameStart = 0;  // where a key's name starts in text
    };

    static void Classify(Line& line, bool first);
    // A bare CR end followed by a line that starts with LF would read back as one CRLF
    // end, and the empty line after it would vanish: such an end becomes CRLF.
    void KeepLineEndApart(size_t index);
    int FindSection(const std::string& section) const;
    void InsertLine(size_t index, const std::string& text);
    void EndLastLine();

    std::vector<Line> lines;
    std::string newline;  // the file's own line end, for the lines it gains
};

// A settings file holds eight keys and a few foreign lines: anything beyond this is not
// a settings file, and is neither read (its lines would cost far more memory than its
// bytes) nor replaced.
constexpr uint64_t kMaxSettingsFileSize = 1024 * 1024;

// The encodings a settings file is met in: what the Windows program writes (UTF-16 LE
// with its byte-order mark), UTF-16 without one, and UTF-8 with or without one (a UTF-8
// mark stays in the text, where the first line's reading skips it).
enum class SettingsEncoding { Utf8, Utf16LeBom, Utf16BeBom, Utf16Le, Utf16Be };

// The bytes of a settings file as UTF-8 text, with the encoding to write it back in.
// False when they are no text: NUL bytes where UTF-16 is impossible, malformed UTF-16 or
// UTF-8, or control characters that no text file holds. With ansi, bytes without a NUL
// that are not UTF-8 pass as text in the ANSI code page (the Windows profile calls read
// them so), unchanged.
bool DecodeSettingsText(const std::string& bytes, bool ansi, std::string& text,
                        SettingsEncoding& encoding);
// The text in the encoding; false when it is not UTF-8 and the encoding is UTF-16.
bool EncodeSettingsText(const std::string& text, SettingsEncoding encoding, std::string& bytes);

// Decimal value of a profile text as the Windows profile calls read it: leading blanks,
// an optional sign, the leading digits (wrapping at 32 bits); the default for an empty text.
int ProfileIntFromText(const std::string& text, int defaultValue);

// The file is read and parsed once and kept while its size and modification time stay
// the same, so loading the settings reads it once however many keys there are; a write
// reads it afresh (another program may have changed it).
class CIniProfile : public CProfile {
public:
    explicit CIniProfile(std::string utf8Path) : path(std::move(utf8Path)) {}

    FileState State() const override;
    std::string GetString(const std::string& section, const std::string& key,
                          const std::string& defaultValue) const override;
    int GetInt(const std::string& section, const std::string& key, int defaultValue) const override;
    std::vector<std::string> Keys(const std::string& section) const override;

protected:
    // The file keeps its encoding.
    bool WriteChecked(const std::string& section, const std::string& key,
                      const std::string& value) override;

private:
    // The file's text in UTF-8 and its encoding; empty unless Text (Unreadable: not a
    // regular file, no rights, an I/O error, too large).
    FileState ReadFile(std::string& text, SettingsEncoding& encoding) const;
    // The parsed file, read again only when it changed; null when it cannot be read.
    const CIniDocument* Document() const;

    std::string path;
    mutable std::unique_ptr<CIniDocument> document;
    mutable FileStamp documentStamp;
    mutable FileState documentState = FileState::Missing;
};
