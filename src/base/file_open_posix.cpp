#include "base/file_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

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

std::FILE* OpenRegularFileUtf8(const std::string& path, FileOpenError* error)
{
    FileOpenError reason = FileOpenError::Other;
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for ever.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    std::FILE* file = nullptr;
    if (fd < 0) {
        reason = errno == ENOENT ? FileOpenError::NotFound : FileOpenError::Other;
    } else {
        struct stat info;
        if (fstat(fd, &info) != 0) {
            reason = FileOpenError::Other;
        } else if (!S_ISREG(info.st_mode)) {
            reason = FileOpenError::NotRegular;
        } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0) {
            file = fdopen(fd, "rb");
        }
        if (!file) {
            const int saved = errno;
            close(fd);
            errno = reason == FileOpenError::NotRegular ? EINVAL : saved;
        }
    }
    if (error)
        *error = file ? FileOpenError::None : reason;
    return file;
}

namespace {

// The file a path names, through a symbolic link: replacing the link itself would
// cut it off from its target.
std::string ResolvedPath(const std::string& path)
{
    char resolved[PATH_MAX];
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

bool WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

}  // namespace

bool ReplaceFileUtf8(const std::string& path, const std::string& bytes, unsigned long& error)
{
    const std::string target = ResolvedPath(path);
    // The folder's permission would let the file be replaced; the file's own is the
    // owner's word that it is not to change.
    struct stat info;
    const bool exists = stat(target.c_str(), &info) == 0;
    if (exists && ((info.st_mode & 0222) == 0 || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) {
        error = EACCES;
        return false;
    }
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + name + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        error = static_cast<unsigned long>(errno);
        return false;
    }

    // A new file gets the mode the system gives new files; an existing one keeps its own,
    // and its owner and group (the temporary file is the writer's).
    mode_t mode;
    if (exists) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const bool owned = !exists || ((info.st_uid == geteuid() && info.st_gid == getegid()) ||
                                   fchown(fd, info.st_uid, info.st_gid) == 0);
    bool ok = owned && fchmod(fd, mode) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) == 0)
        return true;
    error = static_cast<unsigned long>(ok ? errno : failure);
    unlink(temporary.c_str());
    return false;
}

FileStamp FileStampUtf8(const std::string& path)
{
    FileStamp stamp;
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        stamp.known = true;
        stamp.size = info.st_size;
        stamp.modifiedNs = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    }
    return stamp;
}

int64_t OpenFileSize(std::FILE* file)
{
    struct stat info;
    if (fstat(fileno(file), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.st_size);
}
