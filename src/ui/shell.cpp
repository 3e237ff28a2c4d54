#include "ui/shell.h"

#include <commdlg.h>

#include <vector>

#include "base/utf.h"
#include "ui/dialog.h"

namespace {

// Room for a long path; the dialog reports a name that does not fit as an error.
constexpr DWORD kPathBufferChars = 32768;

}  // namespace

std::wstring OpenFilterFromText(const std::string& text)
{
    std::wstring filter = Widen(text);
    for (wchar_t& c : filter)
        if (c == L'|')
            c = L'\0';
    // The list ends with an empty entry; a text without its closing bars still ends right.
    while (filter.size() < 2 || filter[filter.size() - 1] != L'\0' ||
           filter[filter.size() - 2] != L'\0')
        filter.push_back(L'\0');
    return filter;
}

bool ChooseFileToOpen(HWND owner, const std::string& filterText, std::string& path)
{
    const std::wstring filter = OpenFilterFromText(filterText);
    std::vector<wchar_t> name(kPathBufferChars, L'\0');
    OPENFILENAMEW request{};
    request.lStructSize = sizeof(request);
    request.hwndOwner = owner;
    request.lpstrFilter = filter.c_str();
    request.nFilterIndex = 1;
    request.lpstrFile = name.data();
    request.nMaxFile = kPathBufferChars;
    request.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST |
                    OFN_HIDEREADONLY;
    if (!GetOpenFileNameW(&request))
        return false;
    path = Narrow(name.data());
    return true;
}

void FlashIfInactive(HWND window)
{
    HWND top = GetAncestor(window, GA_ROOTOWNER);
    if (top == nullptr)
        return;
    if (GetForegroundWindow() != GetLastActivePopup(top))
        FlashWindow(top, TRUE);
}

HICON LoadIconResource(int id, int size)
{
    return static_cast<HICON>(LoadImageW(ResourceModule(), MAKEINTRESOURCEW(id), IMAGE_ICON, size,
                                         size, size == 0 ? LR_DEFAULTSIZE : 0));
}
