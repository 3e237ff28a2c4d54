#include <cerrno>

#include "base/strings.h"
#include "base/system_error.h"

std::string SystemErrorText(unsigned long code)
{
    // The errors only POSIX systems give; the C library's common ones are ErrnoText's.
    const int error = static_cast<int>(code);
    if (error == ELOOP)
        return StringPrintf("%s (%d)", LoadText(IDS_SYSERR_TOO_MANY_LINKS), error);
    if (error == EDQUOT)
        return StringPrintf("%s (%d)", LoadText(IDS_SYSERR_QUOTA), error);
    if (error == ETXTBSY)
        return StringPrintf("%s (%d)", LoadText(IDS_SYSERR_BUSY), error);
    return ErrnoText(error);
}
