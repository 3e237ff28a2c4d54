// The operator's words for a failure the system reports by number: the program's own
// Russian text for each error a file or a port can meet, with the number in brackets
// ("доступ запрещён (13)"), and "системная ошибка (N)" for any other. A library's or the
// system's own text would come in the language of the build, not the operator's.
#pragma once

#include <string>

// An error of the C library (errno), the same numbers on every platform.
std::string ErrnoText(int error);

// An error code of the platform's own calls: errno on POSIX, GetLastError on Windows.
std::string SystemErrorText(unsigned long code);
