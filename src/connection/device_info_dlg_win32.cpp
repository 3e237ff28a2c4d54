#include "connection/device_info_dlg_win32.h"

#include "base/host.h"
#include "resources/resource_device_info.h"

namespace {

// Posted to itself while the window opens, so that the read starts once the window is on
// screen.
constexpr UINT kReadMessage = WM_APP;

}  // namespace

CDeviceInfoDlg::CDeviceInfoDlg(CRunHost& host, CPortSystem& ports, CConnectSettings settings,
                               HWND parent)
    : CDialog(host, IDD_DEVICE_INFO, parent), ports(ports), settings(std::move(settings))
{
}

bool CDeviceInfoDlg::OnInit()
{
    PostMessageW(window, kReadMessage, 0, 0);
    return true;
}

bool CDeviceInfoDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (message != kReadMessage)
        return CDialog::OnMessage(message, wParam, lParam, result);
    Read();
    return true;
}

void CDeviceInfoDlg::Read()
{
    // The window is shown by now, but its text is painted only when the queue is empty;
    // the read may keep it busy for seconds, so it is painted first.
    UpdateWindow(window);
    busy = true;
    INT_PTR result = IDCANCEL;
    try {
        ReadDeviceInfoAt(ports, host, settings, info);
        result = IDOK;
    } catch (...) {
        ReportException(host, 0, OwnerWindow());
    }
    busy = false;
    EndDialog(result);
}

void CDeviceInfoDlg::OnCancel()
{
    // During the read the stop reaches it at its next pump, and the read ends the window.
    if (busy)
        host.RequestStop(0);
    else
        EndDialog(IDCANCEL);
}
