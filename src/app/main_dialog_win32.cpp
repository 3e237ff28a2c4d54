#include "app/main_dialog_win32.h"

#include "app/batch_dialog_win32.h"
#include "app/properties_win32.h"
#include "base/strings.h"
#include "base/utf.h"
#include "resources/resource.h"
#include "resources/resource_main.h"
#include "transport/device_notify.h"
#include "transport/port_system.h"
#include "ui/shell.h"

namespace {

// The status column takes this share of the list's width; the name column the rest.
constexpr int kStatusColumnPercent = 42;
// State image 3: the row runs and cannot be unticked.
constexpr int kLockedImage = 3;
constexpr UINT kStateImageBits = LVIS_STATEIMAGEMASK;

}  // namespace

CTrelvoDlg::CTrelvoDlg(CRunHost& host, CPortSystem& ports, CProfile& profile,
                       std::string versionText)
    : CDialog(host, IDD_TRELVO_DIALOG, nullptr),
      ports(ports),
      profile(profile),
      versionText(versionText),
      engine(host, ports, *this, runSettings, std::move(versionText))
{
}

CTrelvoDlg::~CTrelvoDlg()
{
    if (bigIcon != nullptr)
        DestroyIcon(bigIcon);
    if (smallIcon != nullptr)
        DestroyIcon(smallIcon);
}

bool CTrelvoDlg::OnInit()
{
    bigIcon = LoadIconResource(IDI_TRELVO, GetSystemMetrics(SM_CXICON));
    smallIcon = LoadIconResource(IDI_TRELVO, GetSystemMetrics(SM_CXSMICON));
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

    AddBatchMenuItem();
    ArrangeControls();
    InitOperationList();
    ExchangeSettings(false);
    UpdateTitle(nullptr);
    FillOperationList();
    UpdateControls(false);
    ports.Notifier().ResetNotifications();
    return false;
}

// The list always works as a fixed set: the box stays ticked but hidden, and the list
// takes its place.
void CTrelvoDlg::ArrangeControls()
{
    HWND box = Item(IDC_MAIN_FIXED_SET);
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    ShowWindow(box, SW_HIDE);

    RECT boxRect{};
    RECT listRect{};
    GetWindowRect(box, &boxRect);
    GetWindowRect(Item(IDC_MAIN_OPERATIONS), &listRect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&boxRect), 2);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&listRect), 2);
    SetWindowPos(Item(IDC_MAIN_OPERATIONS), nullptr, listRect.left, boxRect.top,
                 listRect.right - listRect.left, listRect.bottom - boxRect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTrelvoDlg::InitOperationList()
{
    operations.Attach(Item(IDC_MAIN_OPERATIONS));
    operations.AddExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    HICON locked = LoadIconResource(IDI_LOCKED, operations.StateImageSize());
    operations.AppendStateImage(locked);
    if (locked != nullptr)
        DestroyIcon(locked);
    operations.AddColumn(LoadText(IDS_COLUMN_OPERATION), 0, LVCFMT_LEFT);
    operations.AddColumn(LoadText(IDS_COLUMN_STATUS), 0, LVCFMT_LEFT);
}

void CTrelvoDlg::FillOperationList()
{
    operations.DeleteAll();
    size_t count = 0;
    const OperationDescriptor* catalogue = OperationCatalogue(count);
    for (size_t i = 0; i < count; ++i) {
        const int row = operations.InsertItem(
            operations.Count(), LoadText(catalogue[i].nameId),
            reinterpret_cast<LPARAM>(catalogue[i].function));
        // The list gives a new row the unchecked image without telling its parent, so
        // the row is put through the same rule as a click.
        if (IsFixedSet())
            operations.SetStateImage(row, kLockedImage);
    }
    const int width = operations.ClientWidth();
    const int statusWidth = static_cast<short>(width * kStatusColumnPercent / 100);
    operations.SetColumnWidth(1, statusWidth);
    operations.SetColumnWidth(0, width - statusWidth);
}

bool CTrelvoDlg::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_MAIN_START:
        OnStart();
        return true;
    case IDC_MAIN_STOP:
        host.RequestStop(0);
        return true;
    case IDC_MAIN_EXIT:
        OnClose();
        return true;
    case IDC_MAIN_SETTINGS:
        OnSettings();
        return true;
    default:
        return CDialog::OnCommand(id, code, control);
    }
}

bool CTrelvoDlg::OnNotify(NMHDR* header, LRESULT& result)
{
    if (header->idFrom != IDC_MAIN_OPERATIONS)
        return false;
    const auto& change = *reinterpret_cast<const NMLISTVIEW*>(header);
    switch (header->code) {
    case LVN_ITEMCHANGING:
        result = OnListItemChanging(change) ? FALSE : TRUE;
        return true;
    case LVN_ITEMCHANGED:
        OnListItemChanged(change);
        result = 0;
        return true;
    default:
        return false;
    }
}

void CTrelvoDlg::OnListItemChanged(const NMLISTVIEW& change)
{
    if (!(change.uChanged & LVIF_STATE) || change.iItem < 0)
        return;
    if (((change.uOldState ^ change.uNewState) & kStateImageBits) == 0)
        return;
    const int image = static_cast<int>((change.uNewState & kStateImageBits) >> 12);
    if (IsFixedSet() && image != kLockedImage)
        operations.SetStateImage(change.iItem, kLockedImage);
}

// While a run goes on, the check marks stay as they are.
bool CTrelvoDlg::OnListItemChanging(const NMLISTVIEW& change) const
{
    if (!running || !(change.uChanged & LVIF_STATE))
        return true;
    return ((change.uOldState ^ change.uNewState) & kStateImageBits) == 0;
}

void CTrelvoDlg::OnCancel()
{
    if (running)
        host.RequestStop(0);
}

void CTrelvoDlg::OnClose()
{
    if (running) {
        // The run ends at its next pump; Start closes the window afterwards.
        closeRequested = true;
        host.RequestStop(0);
        return;
    }
    EndDialog(IDOK);
    ports.Notifier().ShutdownNotifications();
}

void CTrelvoDlg::OnStart()
{
    if (running)
        return;
    running = true;
    UpdateControls(true);
    runSettings = CRunSettings{settings.portName, settings.baudCode, settings.timeout,
                               settings.firmwareFile, settings.transferSpeedCode};
    engine.fixedSet = IsFixedSet();
    engine.Start();
    settings.baudCode = runSettings.baudCode;
    running = false;
    UpdateControls(true);
    if (closeRequested)
        OnClose();
}

// The batch window is reached from the window icon's menu, so the window itself (its
// template and controls) stays as the operators know it.
void CTrelvoDlg::AddBatchMenuItem()
{
    HMENU menu = GetSystemMenu(window, FALSE);
    if (menu == nullptr)
        return;
    InsertMenuW(menu, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    InsertMenuW(menu, 0, MF_BYPOSITION | MF_STRING, IDM_BATCH_UPDATE,
                Widen(LoadText(IDS_BATCH_MENU)).c_str());
}

bool CTrelvoDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == IDM_BATCH_UPDATE) {
        OnBatchUpdate();
        result = 0;
        return true;
    }
    return CDialog::OnMessage(message, wParam, lParam, result);
}

void CTrelvoDlg::OnBatchUpdate()
{
    if (running)
        return;
    // A trace the program was started with follows every port of the batch too.
    CPortEnvironmentFactory environments = NativePortEnvironment;
    if (CTraceSink* trace = ports.Trace())
        environments = TracedPortEnvironments(std::move(environments), *trace);
    CBatchDlg batch(host, ports, settings, versionText, window, std::move(environments));
    batch.DoModal();
}

void CTrelvoDlg::OnSettings()
{
    if (running)
        return;
    CProperties sheet(host, ports);
    sheet.locked = settings.stationLocked;
    sheet.connect.portName = settings.portName;
    sheet.connect.speedIndex = settings.baudCode;
    sheet.connect.timeout = settings.timeout;
    sheet.firmware.fileName = settings.firmwareFile;
    sheet.firmware.skipCurrent = settings.skipCurrent;
    sheet.firmware.transferSpeedCode = settings.transferSpeedCode;
    if (!sheet.DoModal(window))
        return;
    const bool portChanged = sheet.connect.portName != settings.portName;
    if (portChanged)
        settings.portName = sheet.connect.portName;
    settings.baudCode = SpeedCodeFromSheet(settings.baudCode, sheet.connect.speedIndex);
    settings.timeout = sheet.connect.timeout;
    settings.firmwareFile = sheet.firmware.fileName;
    settings.skipCurrent = sheet.firmware.skipCurrent;
    settings.transferSpeedCode = sheet.firmware.transferSpeedCode;
    ExchangeSettings(true);
    if (portChanged)
        UpdateTitle(nullptr);
}

void CTrelvoDlg::UpdateControls(bool keepFocus)
{
    EnableItem(IDC_MAIN_START, !running);
    EnableItem(IDC_MAIN_SETTINGS, !running);
    EnableItem(IDC_MAIN_FIXED_SET, !running);
    EnableItem(IDC_MAIN_STOP, running);
    const int defaultButton = running ? IDC_MAIN_STOP : IDC_MAIN_START;
    SendMessageW(window, DM_SETDEFID, defaultButton, 0);
    HWND focus = GetFocus();
    HWND target = (focus != nullptr && keepFocus) ? focus : Item(defaultButton);
    SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

void CTrelvoDlg::UpdateTitle(const char* serial)
{
    runSettings.portName = settings.portName;
    engine.UpdateTitle(serial);
}

void CTrelvoDlg::ExchangeSettings(bool save)
{
    // A settings file that cannot be written leaves the values in memory; the operator
    // is not told, as there is nothing to do about it here.
    ::ExchangeSettings(profile, settings, save);
}

bool CTrelvoDlg::IsFixedSet() const
{
    return SendMessageW(Item(IDC_MAIN_FIXED_SET), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

int CTrelvoDlg::RowCount()
{
    return operations.Count();
}

bool CTrelvoDlg::IsRowChecked(int row)
{
    return operations.StateImage(row) - 1 != 0;
}

OperationFunction CTrelvoDlg::RowOperation(int row)
{
    return reinterpret_cast<OperationFunction>(operations.Data(row));
}

void CTrelvoDlg::SetRowStatus(int row, const std::string& text)
{
    operations.SetText(row, 1, text);
}

void CTrelvoDlg::EnsureRowVisible(int row)
{
    operations.EnsureVisible(row);
}

void CTrelvoDlg::SetTitle(const std::string& title)
{
    CDialog::SetTitle(title);
}

void CTrelvoDlg::FlashIfInactive()
{
    ::FlashIfInactive(window);
}
