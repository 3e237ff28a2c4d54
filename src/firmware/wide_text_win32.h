// UTF-8 <-> UTF-16 for the wide Windows API.
#pragma once

#include <string>

// False (and an empty result) when the text is not valid UTF-8.
bool WideFromUtf8(const std::string& text, std::wstring& wide);
std::string Utf8FromWide(const std::wstring& wide);
