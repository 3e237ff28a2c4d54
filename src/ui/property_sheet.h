// Property pages and the modal property sheet that shows them (no Apply, no Help).
#pragma once

#include <string>
#include <vector>

#include "ui/dialog.h"

// A page keeps its values in plain members: they fill the controls when the page is
// created and are read back from them whenever the page is left (another tab, or OK).
// A page that was never shown keeps its values as given.
class CPropertyPage : public CDialogBase {
public:
    CPropertyPage(CRunHost& host, int templateId) : CDialogBase(host), templateId(templateId) {}

    int TemplateId() const { return templateId; }
    // Whether the sheet ended with OK while this page existed.
    bool Applied() const { return applied; }
    // Shown only: every control that edits or acts is disabled when the page opens.
    void SetReadOnly(bool value) { readOnly = value; }

    static INT_PTR CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    // Moves the values into the controls (save false) or back (save true); false when a
    // value is refused, after telling the operator why.
    virtual bool Exchange(bool save) { return true; }

    // Ties the control wrappers to their windows and fills fixed item lists, before the
    // values go into the controls.
    virtual void AttachControls() {}
    // The page's own start-up after the values are in the controls.
    virtual bool OnInitPage() { return true; }
    // While a page's action runs, the sheet stays as it is: the page can neither be left
    // nor closed under it. False refuses; the page then finishes the request itself once
    // its action has ended (QueryCancel) or the operator does again (CanLeave).
    virtual bool CanLeave() { return true; }
    virtual bool QueryCancel() { return true; }

    // The sheet around the page.
    HWND Sheet() const { return GetParent(window); }

    bool OnInit() final;
    bool OnNotify(NMHDR* header, LRESULT& result) override;

private:
    int templateId;
    bool applied = false;
    bool readOnly = false;
};

// Runs the sheet modally over its pages, starting on the first; true when it ended with
// OK (the values of every page are then read back).
bool RunPropertySheet(HWND parent, const std::string& caption,
                      const std::vector<CPropertyPage*>& pages);
