#include "connection/device_search_dlg_win32.h"

#include "base/host.h"
#include "base/strings.h"
#include "connection/port_list.h"
#include "resources/resource_search.h"
#include "transport/port_system.h"

namespace {

constexpr UINT_PTR kPortTimer = 1;
constexpr UINT kPortRefreshMs = 1000;
// The port and speed columns each take this share of the width; the state the rest.
constexpr int kNarrowColumnPercent = 20;
constexpr LPARAM kNoSpeed = -1;

}  // namespace

CDeviceSearchDlg::CDeviceSearchDlg(CRunHost& host, CPortSystem& ports, HWND parent)
    : CDialog(host, IDD_DEVICE_SEARCH, parent), ports(ports)
{
}

bool CDeviceSearchDlg::OnInit()
{
    portList.Attach(Item(IDC_SEARCH_PORTS));
    portList.AddExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    const int width = portList.ClientWidth();
    const int narrow = width * kNarrowColumnPercent / 100;
    portList.AddColumn(LoadText(IDS_COLUMN_PORT), narrow, LVCFMT_LEFT);
    portList.AddColumn(LoadText(IDS_COLUMN_SPEED), narrow, LVCFMT_RIGHT);
    portList.AddColumn(LoadText(IDS_COLUMN_STATE), width - 2 * narrow, LVCFMT_LEFT);
    RefreshPorts();
    StartTimer(kPortTimer, kPortRefreshMs);
    UpdateButtons(true);
    return false;
}

void CDeviceSearchDlg::OnDestroy()
{
    StopTimer(kPortTimer);
}

void CDeviceSearchDlg::OnTimer(UINT_PTR id)
{
    if (id == kPortTimer && !searching)
        RefreshPorts();
}

// Ports that appeared are added ticked; rows of ports that have gone are dropped; the
// others keep their ticks and texts.
void CDeviceSearchDlg::RefreshPorts()
{
    std::vector<std::string> rows;
    for (int row = 0; row < portList.Count(); ++row)
        rows.push_back(portList.Text(row, 0));
    const CPortListUpdate update = RefreshPortItems(rows, -1, ports.EnumerateSerialPorts());
    for (int index : update.removeIndexes)
        portList.DeleteItem(index);
    for (const std::string& port : update.add) {
        const int row = portList.InsertItem(portList.Count(), port, kNoSpeed);
        portList.SetChecked(row, true);
    }
}

void CDeviceSearchDlg::UpdateButtons(bool forceFocus)
{
    EnableItem(IDC_SEARCH_START, !searching);
    EnableItem(IDC_SEARCH_STOP, searching);
    if (forceFocus || GetFocus() == nullptr) {
        HWND target = Item(searching ? IDC_SEARCH_STOP : IDC_SEARCH_START);
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
    }
}

bool CDeviceSearchDlg::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_SEARCH_START:
        if (!searching)
            OnSearch();
        return true;
    case IDC_SEARCH_STOP:
        host.RequestStop(0);
        return true;
    default:
        return CDialog::OnCommand(id, code, control);
    }
}

bool CDeviceSearchDlg::OnNotify(NMHDR* header, LRESULT& result)
{
    if (header->idFrom != IDC_SEARCH_PORTS)
        return false;
    if (header->code != NM_DBLCLK && header->code != NM_RETURN)
        return false;
    OnOK();
    result = 0;
    return true;
}

void CDeviceSearchDlg::OnSearch()
{
    searching = true;
    UpdateButtons(false);
    SearchDevices(ports, host, *this);
    searching = false;
    UpdateButtons(false);
    const Deferred action = deferred;
    deferred = Deferred::None;
    if (action == Deferred::Ok)
        OnOK();
    else if (action == Deferred::Cancel)
        OnCancel();
}

void CDeviceSearchDlg::OnOK()
{
    if (searching) {
        deferred = Deferred::Ok;
        host.RequestStop(0);
        return;
    }
    const int row = portList.Selected();
    if (row < 0) {
        EndDialog(IDCANCEL);
        return;
    }
    portName = portList.Text(row, 0);
    speedCode = static_cast<int>(portList.Data(row));
    EndDialog(IDOK);
}

void CDeviceSearchDlg::OnCancel()
{
    if (searching) {
        deferred = Deferred::Cancel;
        host.RequestStop(0);
        return;
    }
    EndDialog(IDCANCEL);
}

int CDeviceSearchDlg::RowCount()
{
    return portList.Count();
}

std::string CDeviceSearchDlg::PortName(int row)
{
    return portList.Text(row, 0);
}

bool CDeviceSearchDlg::IsTicked(int row)
{
    return portList.IsChecked(row);
}

void CDeviceSearchDlg::SetSpeedText(int row, const std::string& text)
{
    portList.SetText(row, 1, text);
}

void CDeviceSearchDlg::SetStateText(int row, const std::string& text)
{
    portList.SetText(row, 2, text);
}

void CDeviceSearchDlg::SetRowCode(int row, int code)
{
    portList.SetData(row, code);
}

void CDeviceSearchDlg::EnsureVisible(int row)
{
    portList.EnsureVisible(row);
}
