// The base of the program's dialogs and property pages. One dialog procedure finds the
// object behind a window and forwards to its virtual handlers; no exception crosses back
// into the system: whatever a handler throws is shown through the run host's error report.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "base/host.h"

class CDialogBase {
public:
    explicit CDialogBase(CRunHost& host) : host(host) {}
    virtual ~CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    HWND Handle() const { return window; }
    // The top-level window this one belongs to (a page's sheet, or the dialog itself):
    // the owner of the boxes its handlers show.
    BoxOwner OwnerWindow() const { return window ? GetAncestor(window, GA_ROOT) : nullptr; }
    HWND Item(int id) const { return GetDlgItem(window, id); }

    // Texts of controls and of the window itself, in UTF-8.
    std::string ItemText(int id) const;
    void SetItemText(int id, const std::string& text);
    void SetTitle(const std::string& text);
    void EnableItem(int id, bool enable);

    void StartTimer(UINT_PTR id, UINT periodMs);
    void StopTimer(UINT_PTR id);

protected:
    // WM_INITDIALOG; false when the handler has placed the focus itself.
    virtual bool OnInit() { return true; }
    // WM_COMMAND; true when handled.
    virtual bool OnCommand(int id, int code, HWND control) { return false; }
    // WM_NOTIFY; true when handled, with the notification's answer in result.
    virtual bool OnNotify(NMHDR* header, LRESULT& result) { return false; }
    virtual void OnTimer(UINT_PTR id) {}
    virtual void OnDestroy() {}
    // Any other message; true when handled, with the answer in result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
    {
        return false;
    }

    // Data exchange between a value and an edit control. A number outside [low, high]
    // (or no number at all) is refused with a message, and the control gets the focus.
    bool ExchangeUnsigned(int id, unsigned& value, unsigned low, unsigned high, bool save);
    void ExchangeText(int id, std::string& value, bool save);

    // For dialogs created with the object as the creation parameter.
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Ties a window to its object; called from WM_INITDIALOG.
    static CDialogBase* Attach(HWND window, CDialogBase* self);
    static INT_PTR Forward(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    CRunHost& host;
    HWND window = nullptr;

private:
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
};

// A modal dialog from a dialog template. OK and Cancel commands go to OnOK and OnCancel,
// the close request (title-bar close, Alt+F4) to OnClose.
class CDialog : public CDialogBase {
public:
    CDialog(CRunHost& host, int templateId, HWND parent)
        : CDialogBase(host), templateId(templateId), parent(parent)
    {
    }

    // Runs the dialog; returns the result given to EndDialog, or -1 when the dialog
    // could not be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR result);

protected:
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnClose() { OnCancel(); }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    // Routes IDOK and IDCANCEL; derived classes call it for commands they do not handle.
    bool OnCommand(int id, int code, HWND control) override;

private:
    int templateId;
    HWND parent;
};

// A whole decimal number (surrounding blanks allowed) within [low, high].
bool ParseUnsignedInRange(const std::string& text, unsigned low, unsigned high, unsigned& value);
// "Введите целое число от 100 до 300000."
std::string RangeMessage(unsigned low, unsigned high);

// The module whose resources hold the dialog templates, icons and version.
HINSTANCE ResourceModule();
