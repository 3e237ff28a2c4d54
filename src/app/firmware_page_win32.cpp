#include "app/firmware_page_win32.h"

#include "base/host.h"
#include "base/strings.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "resources/resource_firmware.h"
#include "settings/settings.h"
#include "ui/shell.h"

namespace {

// The version and size columns each take this share of the list's width.
constexpr int kNumberColumnPercent = 20;

}  // namespace

CFirmwarePage::CFirmwarePage(CRunHost& host) : CPropertyPage(host, IDD_FIRMWARE_PAGE) {}

void CFirmwarePage::AttachControls()
{
    modules.Attach(Item(IDC_FIRMWARE_MODULES));
    SetItemText(IDC_FIRMWARE_SKIP_CURRENT, LoadText(IDS_FIRMWARE_SKIP_CURRENT));
    transferSpeed.Attach(Item(IDC_FIRMWARE_TRANSFER_SPEED));
    for (int code = kMinTransferSpeedCode; code <= kMaxTransferSpeedCode; ++code)
        transferSpeed.Add(StringPrintf("%u", BaudFromCode(code)));
}

bool CFirmwarePage::Exchange(bool save)
{
    ExchangeText(IDC_FIRMWARE_FILE, fileName, save);
    if (save)
        skipCurrent = IsDlgButtonChecked(window, IDC_FIRMWARE_SKIP_CURRENT) == BST_CHECKED;
    else
        CheckDlgButton(window, IDC_FIRMWARE_SKIP_CURRENT, skipCurrent ? BST_CHECKED : BST_UNCHECKED);
    if (!save) {
        const bool known = transferSpeedCode >= kMinTransferSpeedCode &&
                           transferSpeedCode <= kMaxTransferSpeedCode;
        transferSpeed.Select(known ? transferSpeedCode - kMinTransferSpeedCode : 0);
    } else if (transferSpeed.Selected() >= 0) {
        transferSpeedCode = kMinTransferSpeedCode + transferSpeed.Selected();
    }
    return true;
}

bool CFirmwarePage::OnInitPage()
{
    modules.AddExtendedStyle(LVS_EX_FULLROWSELECT);
    const int width = modules.ClientWidth();
    const int numberWidth = width * kNumberColumnPercent / 100;
    modules.AddColumn(LoadText(IDS_COLUMN_MODULE), width - 2 * numberWidth, LVCFMT_LEFT);
    modules.AddColumn(LoadText(IDS_COLUMN_VERSION), numberWidth, LVCFMT_RIGHT);
    modules.AddColumn(LoadText(IDS_COLUMN_SIZE), numberWidth, LVCFMT_RIGHT);
    try {
        FillModuleList();
    } catch (...) {
        // The page opens quietly on a file that does not load (the first opening has no
        // file at all); the operator sees the reason when choosing a file.
    }
    return true;
}

bool CFirmwarePage::OnCommand(int id, int code, HWND control)
{
    if (id != IDC_FIRMWARE_BROWSE || code != BN_CLICKED)
        return false;
    OnBrowse();
    return true;
}

void CFirmwarePage::OnBrowse()
{
    std::string path;
    if (!ChooseFileToOpen(window, LoadText(IDS_LDR_FILTER), path))
        return;
    SetItemText(IDC_FIRMWARE_FILE, path);
    try {
        FillModuleList();
    } catch (...) {
        ReportException(host, 0, OwnerWindow());
    }
}

void CFirmwarePage::FillModuleList()
{
    ldr::file file;
    try {
        ldr::load_headers(ItemText(IDC_FIRMWARE_FILE), file);
    } catch (...) {
        modules.DeleteAll();
        EnableWindow(modules.Handle(), FALSE);
        throw;
    }
    modules.DeleteAll();
    for (const ldr::module& module : file.modules) {
        const int row = modules.InsertItem(modules.Count(), LoadText(ModuleKindTextId(module.kind)));
        modules.SetText(row, 1, ModuleVersionText(module.version));
        modules.SetText(row, 2, ModuleSizeText(module));
    }
    EnableWindow(modules.Handle(), TRUE);
}
