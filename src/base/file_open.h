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

// Size in bytes of the open file, or -1 when the system cannot tell.
int64_t OpenFileSize(std::FILE* file);
