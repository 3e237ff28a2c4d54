#include "base/record_file.h"

#include <windows.h>

#include <cstdio>

#include "base/strings.h"
#include "base/system_error.h"
#include "base/utf.h"

namespace {

// The file opened for appending, or INVALID_HANDLE_VALUE with the reason.
// FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end of the file as
// one unit, whoever else appends.
HANDLE OpenRecordFile(const std::string& path, std::string& error)
{
    const std::wstring wide = Widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = LoadText(IDS_SYSERR_IS_FOLDER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemErrorText(GetLastError());
        return INVALID_HANDLE_VALUE;
    }
    // A device name (NUL, CON, a COM port) or a pipe opens too; records need a file.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        error = LoadText(IDS_SYSERR_NOT_REGULAR);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

}  // namespace

std::string HostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        return {};
    return Narrow(std::wstring(name, size));
}

std::string UtcTimeText()
{
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth,
                  utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}

bool AppendRecord(const std::string& path, const std::string& text, std::string& error)
{
    HANDLE file = OpenRecordFile(path, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    const DWORD code = GetLastError();
    CloseHandle(file);
    if (!ok || written != text.size()) {
        error = ok ? std::string(LoadText(IDS_SYSERR_SHORT_WRITE)) : SystemErrorText(code);
        return false;
    }
    return true;
}

bool CanAppendRecords(const std::string& path, std::string& error)
{
    HANDLE file = OpenRecordFile(path, error);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}
