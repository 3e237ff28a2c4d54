#include "connection/connect_page_win32.h"

#include "base/host.h"
#include "base/strings.h"
#include "connection/device_info_dlg_win32.h"
#include "connection/device_search_dlg_win32.h"
#include "connection/port_list.h"
#include "protocol/commands.h"
#include "resources/resource_connect.h"
#include "transport/port_system.h"
#include "ui/shell.h"

namespace {

constexpr UINT_PTR kPortTimer = 1;
constexpr UINT kPortRefreshMs = 1000;
constexpr unsigned kTimeoutLowMs = 100;
constexpr unsigned kTimeoutHighMs = 300000;
// The speeds the combo offers: every code, 2400 to 921600 baud, so that a scanner the
// device search found at a fast speed can be taken over.
constexpr int kSpeedItems = 10;

constexpr int kActionButtons[] = {IDC_CONNECT_CHECK, IDC_CONNECT_SEARCH, IDC_CONNECT_SET_SPEED,
                                  IDC_CONNECT_DETAILS};

}  // namespace

CConnectPage::CConnectPage(CRunHost& host, CPortSystem& ports)
    : CPropertyPage(host, IDD_CONNECT_PAGE), ports(ports)
{
}

void CConnectPage::AttachControls()
{
    portCombo.Attach(Item(IDC_CONNECT_PORT));
    speedCombo.Attach(Item(IDC_CONNECT_SPEED));
    for (int code = 0; code < kSpeedItems; ++code)
        speedCombo.Add(StringPrintf("%u", BaudFromCode(code)));
}

bool CConnectPage::Exchange(bool save)
{
    if (!save) {
        portCombo.Select(portCombo.FindExact(portName));
        speedCombo.Select(speedIndex >= 0 && speedIndex < speedCombo.Count() ? speedIndex : -1);
        return ExchangeUnsigned(IDC_CONNECT_TIMEOUT, timeout, kTimeoutLowMs, kTimeoutHighMs, false);
    }
    const int port = portCombo.Selected();
    portName = port >= 0 ? portCombo.Text(port) : std::string();
    speedIndex = speedCombo.Selected();
    return ExchangeUnsigned(IDC_CONNECT_TIMEOUT, timeout, kTimeoutLowMs, kTimeoutHighMs, true);
}

bool CConnectPage::OnInitPage()
{
    RefreshPorts();
    if (StoredPortNeedsItem(portCombo.Texts(), portName))
        portCombo.Add(portName);
    portCombo.Select(PortItemToSelect(portCombo.Texts(), portName));
    StartTimer(kPortTimer, kPortRefreshMs);
    return true;
}

void CConnectPage::OnDestroy()
{
    StopTimer(kPortTimer);
}

void CConnectPage::OnTimer(UINT_PTR id)
{
    // An open drop-down is being read by the operator: it must not change under them.
    if (id == kPortTimer && !portCombo.IsDroppedDown())
        RefreshPorts();
}

void CConnectPage::RefreshPorts()
{
    const int selected = portCombo.Selected();
    const std::string selectedText = selected >= 0 ? portCombo.Text(selected) : std::string();
    const CPortListUpdate update =
        RefreshPortItems(portCombo.Texts(), selected, ports.EnumerateSerialPorts());
    for (int index : update.removeIndexes)
        portCombo.Delete(index);
    for (const std::string& port : update.add)
        portCombo.Add(port);
    // Deleting and adding items moves the selected one; it is the same port afterwards.
    if (selected >= 0)
        portCombo.Select(portCombo.FindExact(selectedText));
}

bool CConnectPage::OnCommand(int id, int code, HWND control)
{
    if (code != BN_CLICKED)
        return false;
    if (busy) {
        if (control != nullptr && control == stopButton)
            host.RequestStop(0);
        return true;
    }
    void (CConnectPage::*action)() = nullptr;
    bool stoppable = true;
    switch (id) {
    case IDC_CONNECT_CHECK:
        action = &CConnectPage::OnCheckLink;
        break;
    case IDC_CONNECT_SEARCH:
        action = &CConnectPage::OnSearch;
        stoppable = false;
        break;
    case IDC_CONNECT_SET_SPEED:
        action = &CConnectPage::OnSetSpeed;
        break;
    case IDC_CONNECT_DETAILS:
        action = &CConnectPage::OnDetails;
        stoppable = false;
        break;
    default:
        return false;
    }
    RunAction(action, control, stoppable);
    return true;
}

// An action pumps messages while it talks to the scanner: the other buttons are disabled
// meanwhile, so a second click cannot open the port twice, and the sheet can be neither
// confirmed nor turned to its other page. Cancel (Escape, closing the sheet) stops the
// action and closes the sheet once it has ended.
void CConnectPage::RunAction(void (CConnectPage::*action)(), HWND button, bool stoppable)
{
    busy = true;
    for (int id : kActionButtons)
        EnableItem(id, false);
    std::string buttonText;
    if (stoppable && button != nullptr) {
        stopButton = button;
        buttonText = ItemText(GetDlgCtrlID(button));
        SetItemText(GetDlgCtrlID(button), LoadText(IDS_ACTION_STOP));
        EnableWindow(button, TRUE);
    }
    EnableSheet(false);
    try {
        (this->*action)();
    } catch (...) {
        ReportException(host, 0, OwnerWindow());
    }
    if (stopButton != nullptr) {
        SetItemText(GetDlgCtrlID(stopButton), buttonText);
        stopButton = nullptr;
    }
    for (int id : kActionButtons)
        EnableItem(id, true);
    EnableSheet(true);
    busy = false;
    if (cancelDeferred) {
        cancelDeferred = false;
        PostMessageW(Sheet(), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        return;
    }
    // Disabling the clicked button took the focus away from it.
    if (GetFocus() == nullptr && IsWindow(button))
        SetFocus(button);
}

void CConnectPage::EnableSheet(bool enable)
{
    EnableWindow(GetDlgItem(Sheet(), IDOK), enable ? TRUE : FALSE);
    if (HWND tabs = PropSheet_GetTabControl(Sheet()))
        EnableWindow(tabs, enable ? TRUE : FALSE);
}

bool CConnectPage::QueryCancel()
{
    if (!busy)
        return true;
    cancelDeferred = true;
    host.RequestStop(0);
    return false;
}

CConnectSettings CConnectPage::Current() const
{
    return CConnectSettings{portName, speedIndex, timeout};
}

void CConnectPage::OnCheckLink()
{
    if (!Exchange(true))
        return;
    CWaitCursor wait;
    SetItemText(IDC_CONNECT_DEVICE, LinkText(CheckLink(ports, host, Current())));
}

void CConnectPage::OnSearch()
{
    CDeviceSearchDlg search(host, ports, window);
    if (search.DoModal() != IDOK)
        return;
    if (search.speedCode < 0 || search.speedCode >= speedCombo.Count())
        return;
    RefreshPorts();
    const int item = portCombo.FindExact(search.portName);
    if (item < 0)
        return;
    portCombo.Select(item);
    speedCombo.Select(search.speedCode);
    OnCheckLink();
}

void CConnectPage::OnSetSpeed()
{
    // The scanner is expected at the speed of the last exchange, before this choice.
    const int oldCode = speedIndex;
    if (!Exchange(true))
        return;
    CWaitCursor wait;
    ChangeSpeed(ports, host, Current(), oldCode, speedIndex);
}

void CConnectPage::OnDetails()
{
    if (!Exchange(true))
        return;
    CDeviceInfoDlg reader(host, ports, Current(), window);
    if (reader.DoModal() != IDOK)
        return;
    const std::string text = DeviceInfoText(reader.info);
    FlashIfInactive(window);
    host.ShowMessageBox(text, LoadText(IDS_DEVICE_INFO_CAPTION), MessageBoxKind::Information,
                        OwnerWindow());
}
