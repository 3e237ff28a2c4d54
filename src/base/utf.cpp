#include "base/utf.h"

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
