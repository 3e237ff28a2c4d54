// Small services of the system shell the windows use: the file-open dialog, the wait
// cursor, flashing an inactive window, and icons from the program's resources.
#pragma once

#include <windows.h>

#include <string>

// A filter written as the string table keeps it ("Name|*.ext|Name|*.*||") in the form the
// file-open dialog reads: the same parts separated and ended by NUL characters.
std::wstring OpenFilterFromText(const std::string& text);

// The file-open dialog: the file and its folder must exist, no read-only box. Returns
// false when cancelled; path receives the chosen full path (UTF-8).
bool ChooseFileToOpen(HWND owner, const std::string& filterText, std::string& path);

// Shows the hourglass while it lives.
class CWaitCursor {
public:
    CWaitCursor() : previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~CWaitCursor() { SetCursor(previous); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR previous;
};

// Flashes the window's top-level window once when it is not the one the operator is
// working in (the foreground window is not its last active pop-up).
void FlashIfInactive(HWND window);

// An icon of the program's resources at the given size (0 = the system's default size).
HICON LoadIconResource(int id, int size);
