#include "ui/property_sheet.h"

#include "base/utf.h"

INT_PTR CALLBACK CPropertyPage::PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(lParam);
        Attach(window, reinterpret_cast<CDialogBase*>(sheetPage->lParam));
    }
    return Forward(window, message, wParam, lParam);
}

bool CPropertyPage::OnInit()
{
    AttachControls();
    Exchange(false);
    const bool result = OnInitPage();
    if (readOnly) {
        // Lists stay enabled so that what they hold can still be scrolled through.
        EnumChildWindows(
            window,
            [](HWND child, LPARAM) -> BOOL {
                wchar_t kind[32] = L"";
                GetClassNameW(child, kind, 32);
                if (lstrcmpiW(kind, WC_LISTVIEWW) != 0 && lstrcmpiW(kind, L"Static") != 0)
                    EnableWindow(child, FALSE);
                return TRUE;
            },
            0);
    }
    return result;
}

bool CPropertyPage::OnNotify(NMHDR* header, LRESULT& result)
{
    if (header->hwndFrom != Sheet())
        return false;
    switch (header->code) {
    case PSN_KILLACTIVE:
        // TRUE keeps the page (and the sheet) open: a value was refused.
        result = CanLeave() && Exchange(true) ? FALSE : TRUE;
        return true;
    case PSN_QUERYCANCEL:
        result = QueryCancel() ? FALSE : TRUE;
        return true;
    case PSN_APPLY:
        applied = true;
        result = PSNRET_NOERROR;
        return true;
    default:
        return false;
    }
}

bool RunPropertySheet(HWND parent, const std::string& caption,
                      const std::vector<CPropertyPage*>& pages)
{
    std::vector<HPROPSHEETPAGE> handles;
    for (CPropertyPage* page : pages) {
        PROPSHEETPAGEW description{};
        description.dwSize = sizeof(description);
        description.dwFlags = PSP_DEFAULT;
        description.hInstance = ResourceModule();
        description.pszTemplate = MAKEINTRESOURCEW(page->TemplateId());
        description.pfnDlgProc = CPropertyPage::PageProc;
        description.lParam = reinterpret_cast<LPARAM>(static_cast<CDialogBase*>(page));
        HPROPSHEETPAGE handle = CreatePropertySheetPageW(&description);
        if (handle == nullptr) {
            for (HPROPSHEETPAGE made : handles)
                DestroyPropertySheetPage(made);
            return false;
        }
        handles.push_back(handle);
    }

    const std::wstring title = Widen(caption);
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof(header);
    header.dwFlags = PSH_NOAPPLYNOW | PSH_NOCONTEXTHELP;
    header.hwndParent = parent;
    header.hInstance = ResourceModule();
    header.pszCaption = title.c_str();
    header.nPages = static_cast<UINT>(handles.size());
    header.nStartPage = 0;
    header.phpage = handles.data();
    PropertySheetW(&header);

    // The sheet's own return value says whether something was "changed"; what counts here
    // is whether OK was pressed, which every page that existed was told.
    for (CPropertyPage* page : pages)
        if (page->Applied())
            return true;
    return false;
}
