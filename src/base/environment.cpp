#include "base/environment.h"

#include <cctype>

namespace {

bool NameChar(char c, bool first)
{
    const auto byte = static_cast<unsigned char>(c);
    return c == '_' || std::isalpha(byte) || (!first && std::isdigit(byte));
}

}  // namespace

std::string ExpandVariables(const std::string& text, const CVariableLookup& lookup,
                            bool dollarForms)
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '%') {
            const size_t end = text.find('%', i + 1);
            if (end != std::string::npos && end > i + 1) {
                const std::optional<std::string> value = lookup(text.substr(i + 1, end - i - 1));
                if (value) {
                    out += *value;
                    i = end + 1;
                    continue;
                }
                // Not set: the text stays, and the closing '%' may open the next name.
                out.append(text, i, end - i);
                i = end;
                continue;
            }
        } else if (c == '$' && dollarForms) {
            const bool braced = i + 1 < text.size() && text[i + 1] == '{';
            const size_t start = i + (braced ? 2 : 1);
            size_t end = start;
            while (end < text.size() && NameChar(text[end], end == start))
                ++end;
            const bool closed = !braced || (end < text.size() && text[end] == '}');
            if (end > start && closed) {
                const size_t after = end + (braced ? 1 : 0);
                const std::optional<std::string> value = lookup(text.substr(start, end - start));
                out += value ? *value : text.substr(i, after - i);
                i = after;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}
