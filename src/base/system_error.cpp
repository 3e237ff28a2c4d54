#include "base/system_error.h"

#include <cerrno>

#include "base/strings.h"

namespace {

struct ErrnoEntry {
    int error;
    unsigned textId;
};

// The errors a file the program reads or writes, or a port it opens, can give.
const ErrnoEntry kErrnoTexts[] = {
    {ENOENT, IDS_SYSERR_NOT_FOUND},     {EACCES, IDS_SYSERR_ACCESS_DENIED},
    {EPERM, IDS_SYSERR_NOT_PERMITTED},  {EROFS, IDS_SYSERR_READ_ONLY},
    {ENOSPC, IDS_SYSERR_NO_SPACE},      {EISDIR, IDS_SYSERR_IS_FOLDER},
    {ENOTDIR, IDS_SYSERR_NOT_FOLDER},   {EBUSY, IDS_SYSERR_BUSY},
    {EIO, IDS_SYSERR_IO},               {ENAMETOOLONG, IDS_SYSERR_NAME_TOO_LONG},
    {EMFILE, IDS_SYSERR_TOO_MANY_FILES}, {ENFILE, IDS_SYSERR_TOO_MANY_FILES},
    {EFBIG, IDS_SYSERR_TOO_LARGE},      {ENXIO, IDS_SYSERR_NO_DEVICE},
    {ENODEV, IDS_SYSERR_NO_DEVICE},     {EINVAL, IDS_SYSERR_INVALID},
    {EEXIST, IDS_SYSERR_EXISTS},
};

}  // namespace

std::string ErrnoText(int error)
{
    for (const ErrnoEntry& entry : kErrnoTexts) {
        if (entry.error == error)
            return StringPrintf("%s (%d)", LoadText(entry.textId), error);
    }
    return StringPrintf(LoadText(IDS_SYSERR_OTHER), static_cast<unsigned long>(error));
}
