// UTF-8 (the program's texts) to and from the wide strings of the Windows API. The
// conversion is portable: wchar_t holds UTF-16 units where it is 16 bits wide and code
// points where it is 32 bits wide. Malformed input becomes U+FFFD, never a failure.
#pragma once

#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// Widen for text that must arrive intact (paths, settings names): false, and an empty
// result, when the text is not valid UTF-8.
bool WidenStrict(const std::string& utf8, std::wstring& wide);

// The length of the well-formed UTF-8 sequence at pos (1-4), or 0 when the bytes there
// are not one (a stray continuation byte, an overlong form, a surrogate, a cut sequence).
size_t ValidUtf8SequenceLength(const std::string& text, size_t pos);
bool IsValidUtf8(const std::string& text);
