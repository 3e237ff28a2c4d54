#include "base/file_open.h"

#include <sys/stat.h>

#include <cerrno>

std::FILE* OpenFileUtf8(const std::string& path, const char* mode)
{
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (!file)
        return nullptr;
    // fopen succeeds on a directory here; reading it would only fail later with EISDIR.
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

int64_t OpenFileSize(std::FILE* file)
{
    struct stat info;
    if (fstat(fileno(file), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}
