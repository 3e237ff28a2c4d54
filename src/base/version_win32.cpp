#include "base/version.h"

#include <windows.h>

#include <new>
#include <vector>

#include "base/app_paths.h"
#include "base/utf.h"

std::string GetVersionText()
{
    const std::optional<std::string> executable = ExecutablePath();
    std::wstring path;
    if (!executable || !WidenStrict(*executable, path))
        return std::string();

    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return std::string();
    std::vector<unsigned char> info;
    try {
        info.resize(size);
    } catch (const std::bad_alloc&) {
        return std::string();
    }
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()))
        return std::string();

    void* root = nullptr;
    UINT rootLength = 0;
    // A root block of another size is not a fixed file-information record.
    if (!VerQueryValueW(info.data(), L"\\", &root, &rootLength) || !root ||
        rootLength != sizeof(VS_FIXEDFILEINFO))
        return std::string();
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(root);
    return FormatVersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
}
