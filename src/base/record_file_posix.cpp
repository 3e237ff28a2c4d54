#include "base/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "base/strings.h"
#include "base/system_error.h"

namespace {

// The file opened for appending, or -1 with the reason. O_NONBLOCK: a FIFO in the file's
// place would otherwise wait for a reader for ever.
int OpenRecordFile(const std::string& path, std::string& error)
{
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = LoadText(S_ISDIR(info.st_mode) ? IDS_SYSERR_IS_FOLDER : IDS_SYSERR_NOT_REGULAR);
        return -1;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                        0644);
    if (fd < 0) {
        error = SystemErrorText(static_cast<unsigned long>(errno));
        return -1;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        error = LoadText(IDS_SYSERR_NOT_REGULAR);
        return -1;
    }
    return fd;
}

}  // namespace

std::string HostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

std::string UtcTimeText()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool AppendRecord(const std::string& path, const std::string& text, std::string& error)
{
    const int fd = OpenRecordFile(path, error);
    if (fd < 0)
        return false;
    ssize_t written;
    do {
        written = write(fd, text.data(), text.size());
    } while (written < 0 && errno == EINTR);
    const int writeErrno = errno;
    const bool closed = close(fd) == 0;
    if (written != static_cast<ssize_t>(text.size()) || !closed) {
        error = written < 0 ? SystemErrorText(static_cast<unsigned long>(writeErrno))
                            : std::string(LoadText(IDS_SYSERR_SHORT_WRITE));
        return false;
    }
    return true;
}

bool CanAppendRecords(const std::string& path, std::string& error)
{
    const int fd = OpenRecordFile(path, error);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}
