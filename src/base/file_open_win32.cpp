#include "base/file_open.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>

#include "base/utf.h"

std::FILE* OpenFileUtf8(const std::string& path, const char* mode)
{
    std::wstring widePath;
    std::wstring wideMode;
    if (!WidenStrict(path, widePath) || !WidenStrict(mode, wideMode)) {
        errno = EINVAL;
        return nullptr;
    }
    return _wfopen(widePath.c_str(), wideMode.c_str());
}

int64_t OpenFileSize(std::FILE* file)
{
    struct _stat64 info;
    if (_fstat64(_fileno(file), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}
