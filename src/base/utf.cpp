#include "base/utf.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

// Decodes one code point starting at text[i] and advances i past it. Overlong forms,
// surrogates, values above U+10FFFF and truncated sequences give U+FFFD and consume
// only the bytes that belonged to the broken sequence.
char32_t DecodeUtf8(const std::string& text, size_t& i)
{
    const unsigned char lead = static_cast<unsigned char>(text[i++]);
    if (lead < 0x80)
        return lead;
    unsigned extra;
    char32_t c;
    char32_t minimum;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        c = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        c = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        c = lead & 0x07;
        minimum = 0x10000;
    } else {
        return kReplacement;
    }
    for (unsigned k = 0; k < extra; ++k) {
        if (i >= text.size())
            return kReplacement;
        const unsigned char next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80)
            return kReplacement;
        c = (c << 6) | (next & 0x3F);
        ++i;
    }
    if (c < minimum || c > 0x10FFFF || IsSurrogate(c))
        return kReplacement;
    return c;
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendWide(std::wstring& out, char32_t c)
{
    if (kWideIsUtf16 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    } else {
        out += static_cast<wchar_t>(c);
    }
}

// Decodes one code point from a wide string; an unpaired surrogate gives U+FFFD.
char32_t DecodeWide(const std::wstring& text, size_t& i)
{
    char32_t c = static_cast<char32_t>(text[i++]);
    if (kWideIsUtf16) {
        c &= 0xFFFF;
        if (c >= 0xD800 && c <= 0xDBFF && i < text.size()) {
            const char32_t low = static_cast<char32_t>(text[i]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                ++i;
                return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            }
        }
    }
    if (IsSurrogate(c) || c > 0x10FFFF)
        return kReplacement;
    return c;
}

}  // namespace

std::wstring Widen(const std::string& utf8)
{
    std::wstring out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size())
        AppendWide(out, DecodeUtf8(utf8, i));
    return out;
}

std::string Narrow(const std::wstring& wide)
{
    std::string out;
    out.reserve(wide.size());
    size_t i = 0;
    while (i < wide.size())
        AppendUtf8(out, DecodeWide(wide, i));
    return out;
}

bool WidenStrict(const std::string& utf8, std::wstring& wide)
{
    // Valid UTF-8 survives the round trip byte for byte; a malformed sequence comes back
    // as U+FFFD and so differs.
    wide = Widen(utf8);
    if (Narrow(wide) == utf8)
        return true;
    wide.clear();
    return false;
}

size_t ValidUtf8SequenceLength(const std::string& text, size_t pos)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80)
        return 1;
    size_t length;
    uint32_t code;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(pos + i) & 0x3F);
    }
    const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool IsValidUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const size_t length = ValidUtf8SequenceLength(text, i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}
