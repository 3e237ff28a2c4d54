#include "base/app_paths.h"

#include <windows.h>

#include "base/utf.h"

std::optional<std::string> ExecutablePath()
{
    // A path that fills the whole buffer may have been cut, so it counts as a failure.
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    return Narrow(std::wstring(buffer, length));
}
