// Opening files by UTF-8 path on every platform. The program keeps paths in UTF-8; the
// Windows C library would read a narrow path in the ANSI code page, so there the path
// goes through the wide API and any Unicode file name opens.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// fopen with a UTF-8 path. On failure returns null with errno set (ENOENT when the file
// or a folder of its path does not exist). Opening a directory fails with EISDIR or
// EACCES, never yields a stream.
std::FILE* OpenFileUtf8(const std::string& path, const char* mode);

// Why a file the program reads could not be opened.
enum class FileOpenError {
    None,
    NotFound,     // neither the file nor the folder holding it exists
    NotRegular,   // a directory, a FIFO, a device...: nothing the program reads
    Other,        // no rights, sharing, an invalid name
};

// Opens a regular file for binary reading without ever blocking in the open (a FIFO or
// a device in the file's place is refused, not waited on). On failure returns null,
// with the reason in error when it is given and errno set (ENOENT when not found).
std::FILE* OpenRegularFileUtf8(const std::string& path, FileOpenError* error = nullptr);

// Replaces the file's whole content in one step: the bytes go to a temporary file in
// the same folder, which is flushed to the disk and then renamed over the file, keeping
// the file's permissions, owner and group. A file the user may not write (one without
// any write permission, even for root) is refused, although the folder would allow the
// replacement. On any failure the file is as it was and false is returned, with the
// reason in error (the system's code: errno on POSIX, GetLastError on Windows).
bool ReplaceFileUtf8(const std::string& path, const std::string& bytes, unsigned long& error);

// What tells whether a file changed: its size and modification time.
struct FileStamp {
    bool known = false;   // false: the file does not exist or cannot be looked at
    int64_t size = 0;
    int64_t modifiedNs = 0;
    bool operator==(const FileStamp& o) const
    {
        return known == o.known && size == o.size && modifiedNs == o.modifiedNs;
    }
    bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
FileStamp FileStampUtf8(const std::string& path);

// Size in bytes of the open file, or -1 when the system cannot tell.
int64_t OpenFileSize(std::FILE* file);
