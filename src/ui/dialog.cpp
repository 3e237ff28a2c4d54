#include "ui/dialog.h"

#include <vector>

#include "base/host.h"
#include "base/strings.h"
#include "base/utf.h"

namespace {


std::string WindowText(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    if (length <= 0)
        return std::string();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextW(window, buffer.data(), length + 1);
    return Narrow(std::wstring(buffer.data(), static_cast<size_t>(copied > 0 ? copied : 0)));
}

}  // namespace

HINSTANCE ResourceModule()
{
    return GetModuleHandleW(nullptr);
}

std::string CDialogBase::ItemText(int id) const
{
    return WindowText(Item(id));
}

void CDialogBase::SetItemText(int id, const std::string& text)
{
    SetDlgItemTextW(window, id, Widen(text).c_str());
}

void CDialogBase::SetTitle(const std::string& text)
{
    SetWindowTextW(window, Widen(text).c_str());
}

void CDialogBase::EnableItem(int id, bool enable)
{
    EnableWindow(Item(id), enable ? TRUE : FALSE);
}

void CDialogBase::StartTimer(UINT_PTR id, UINT periodMs)
{
    SetTimer(window, id, periodMs, nullptr);
}

void CDialogBase::StopTimer(UINT_PTR id)
{
    KillTimer(window, id);
}

CDialogBase* CDialogBase::Attach(HWND window, CDialogBase* self)
{
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr)
        self->window = window;
    return self;
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG)
        Attach(window, reinterpret_cast<CDialogBase*>(lParam));
    return Forward(window, message, wParam, lParam);
}

INT_PTR CDialogBase::Forward(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    INT_PTR answer = FALSE;
    try {
        answer = self->Dispatch(message, wParam, lParam);
    } catch (...) {
        // A handler's failure is the operator's to see; it must never unwind through the
        // system's dialog manager.
        ReportException(self->host, 0, self->OwnerWindow());
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, DWLP_USER, 0);
        self->window = nullptr;
    }
    return answer;
}

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInit() ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE
                                                                                       : FALSE;
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!OnNotify(reinterpret_cast<NMHDR*>(lParam), result))
            return FALSE;
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_DESTROY:
        OnDestroy();
        return FALSE;
    default: {
        LRESULT result = 0;
        if (!OnMessage(message, wParam, lParam, result))
            return FALSE;
        SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
    }
}

INT_PTR CDialog::DoModal()
{
    return DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(templateId), parent, DialogProc,
                           reinterpret_cast<LPARAM>(static_cast<CDialogBase*>(this)));
}

void CDialog::EndDialog(INT_PTR result)
{
    ::EndDialog(window, result);
}

bool CDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message != WM_CLOSE)
        return false;
    OnClose();
    return true;
}

bool CDialog::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDOK:
        OnOK();
        return true;
    case IDCANCEL:
        OnCancel();
        return true;
    default:
        return false;
    }
}

bool ParseUnsignedInRange(const std::string& text, unsigned low, unsigned high, unsigned& value)
{
    size_t at = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t");
    if (at == std::string::npos)
        return false;
    unsigned long long number = 0;
    for (; at <= end; ++at) {
        const char c = text[at];
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<unsigned>(c - '0');
        if (number > high)
            return false;
    }
    if (number < low)
        return false;
    value = static_cast<unsigned>(number);
    return true;
}

std::string RangeMessage(unsigned low, unsigned high)
{
    return StringPrintf(LoadText(IDS_RANGE_MESSAGE), low, high);
}

bool CDialogBase::ExchangeUnsigned(int id, unsigned& value, unsigned low, unsigned high, bool save)
{
    if (!save) {
        SetItemText(id, StringPrintf("%u", value));
        return true;
    }
    unsigned parsed = 0;
    if (ParseUnsignedInRange(ItemText(id), low, high, parsed)) {
        value = parsed;
        return true;
    }
    host.ShowMessageBox(RangeMessage(low, high), LoadText(IDS_PROGRAM_NAME), MessageBoxKind::Error,
                        OwnerWindow());
    HWND edit = Item(id);
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    return false;
}

void CDialogBase::ExchangeText(int id, std::string& value, bool save)
{
    if (save)
        value = ItemText(id);
    else
        SetItemText(id, value);
}
