#include "base/environment.h"

#include <windows.h>

#include <vector>

#include "base/utf.h"

std::string ExpandEnvironmentVariables(const std::string& text)
{
    return ExpandVariables(
        text,
        [](const std::string& name) -> std::optional<std::string> {
            std::wstring wideName;
            if (!WidenStrict(name, wideName))
                return std::nullopt;
            std::vector<wchar_t> value(256);
            for (;;) {
                SetLastError(ERROR_SUCCESS);
                const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                             static_cast<DWORD>(value.size()));
                if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                    return std::nullopt;
                if (length < value.size())
                    return Narrow(std::wstring(value.data(), length));
                value.resize(length);   // the size it needs, its NUL included
            }
        },
        false);
}
