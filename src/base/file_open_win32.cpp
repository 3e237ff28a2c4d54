#include "base/file_open.h"

#include <windows.h>

#include <io.h>
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

std::FILE* OpenRegularFileUtf8(const std::string& path, FileOpenError* error)
{
    FileOpenError reason = FileOpenError::Other;
    std::FILE* file = nullptr;
    std::wstring widePath;
    if (!WidenStrict(path, widePath)) {
        errno = EINVAL;
    } else {
        // A directory, a pipe or a device is refused before any read could wait on it.
        const DWORD attributes = GetFileAttributesW(widePath.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD code = GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
                reason = FileOpenError::NotFound;
                errno = ENOENT;
            } else {
                errno = EACCES;
            }
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            reason = FileOpenError::NotRegular;
            errno = EISDIR;
        } else if ((file = _wfopen(widePath.c_str(), L"rb")) != nullptr &&
                   GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) !=
                       FILE_TYPE_DISK) {
            std::fclose(file);
            file = nullptr;
            reason = FileOpenError::NotRegular;
            errno = EINVAL;
        }
    }
    if (error)
        *error = file ? FileOpenError::None : reason;
    return file;
}

bool ReplaceFileUtf8(const std::string& path, const std::string& bytes, unsigned long& error)
{
    std::wstring widePath;
    if (!WidenStrict(path, widePath)) {
        error = ERROR_INVALID_NAME;
        return false;
    }
    const DWORD attributes = GetFileAttributesW(widePath.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    const std::wstring temporary = widePath + L".tmp~";
    std::FILE* file = _wfopen(temporary.c_str(), L"wb");
    if (!file) {
        error = GetLastError();
        return false;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = ok && std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
    ok = std::fclose(file) == 0 && ok;
    DWORD failure = ok ? 0 : ERROR_WRITE_FAULT;
    // ReplaceFile keeps the old file's attributes and security (owner included) on the
    // new one.
    if (ok) {
        if (exists)
            ok = ReplaceFileW(widePath.c_str(), temporary.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
        else
            ok = MoveFileExW(temporary.c_str(), widePath.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        if (!ok)
            failure = GetLastError();
    }
    if (!ok) {
        DeleteFileW(temporary.c_str());
        error = failure;
    }
    return ok;
}

FileStamp FileStampUtf8(const std::string& path)
{
    FileStamp stamp;
    std::wstring widePath;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (WidenStrict(path, widePath) &&
        GetFileAttributesExW(widePath.c_str(), GetFileExInfoStandard, &data)) {
        stamp.known = true;
        stamp.size = (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        // 100 ns units.
        stamp.modifiedNs = ((int64_t(data.ftLastWriteTime.dwHighDateTime) << 32) |
                            data.ftLastWriteTime.dwLowDateTime) * 100;
    }
    return stamp;
}

int64_t OpenFileSize(std::FILE* file)
{
    struct _stat64 info;
    if (_fstat64(_fileno(file), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}
