#include <windows.h>

#include "base/strings.h"
#include "base/system_error.h"

namespace {

struct WindowsErrorEntry {
    DWORD code;
    unsigned textId;
};

// The errors a file the program reads or writes can give on Windows. The system's own
// message would come in the language of the installed Windows.
const WindowsErrorEntry kWindowsTexts[] = {
    {ERROR_FILE_NOT_FOUND, IDS_SYSERR_NOT_FOUND},
    {ERROR_PATH_NOT_FOUND, IDS_SYSERR_NOT_FOUND},
    {ERROR_ACCESS_DENIED, IDS_SYSERR_ACCESS_DENIED},
    {ERROR_WRITE_PROTECT, IDS_SYSERR_READ_ONLY},
    {ERROR_DISK_FULL, IDS_SYSERR_NO_SPACE},
    {ERROR_HANDLE_DISK_FULL, IDS_SYSERR_NO_SPACE},
    {ERROR_SHARING_VIOLATION, IDS_SYSERR_BUSY},
    {ERROR_LOCK_VIOLATION, IDS_SYSERR_BUSY},
    {ERROR_TOO_MANY_OPEN_FILES, IDS_SYSERR_TOO_MANY_FILES},
    {ERROR_INVALID_NAME, IDS_SYSERR_INVALID},
    {ERROR_BAD_PATHNAME, IDS_SYSERR_INVALID},
    {ERROR_FILENAME_EXCED_RANGE, IDS_SYSERR_NAME_TOO_LONG},
    {ERROR_DIRECTORY, IDS_SYSERR_NOT_FOLDER},
    {ERROR_FILE_EXISTS, IDS_SYSERR_EXISTS},
    {ERROR_ALREADY_EXISTS, IDS_SYSERR_EXISTS},
    {ERROR_NOT_READY, IDS_SYSERR_NO_DEVICE},
    {ERROR_CRC, IDS_SYSERR_IO},
    {ERROR_READ_FAULT, IDS_SYSERR_IO},
    {ERROR_WRITE_FAULT, IDS_SYSERR_IO},
};

}  // namespace

std::string SystemErrorText(unsigned long code)
{
    for (const WindowsErrorEntry& entry : kWindowsTexts) {
        if (entry.code == code)
            return StringPrintf("%s (%lu)", LoadText(entry.textId), code);
    }
    return StringPrintf(LoadText(IDS_SYSERR_OTHER), code);
}
