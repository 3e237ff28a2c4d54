#include "connection/device_info_dlg_win32.h"

#include "engine/run_services.h"
#include "resources/resource_device_info.h"

namespace {

// Messages of this window to itself: start the read (posted while the window opens, so
// it is handled once the window is on screen), and stop it.
constexpr UINT kReadMessage = WM_APP;
constexpr UINT kStopMessage = WM_APP + 1;

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
    switch (message) {
    case kReadMessage:
        Read();
        return true;
    case kStopMessage:
        host.RequestStop(0);
        return true;
    default:
        return CDialog::OnMessage(message, wParam, lParam, result);
    }
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
        ReportException(host, 0);
    }
    busy = false;
    EndDialog(result);
}

void CDeviceInfoDlg::OnCancel()
{
    // During the read the stop reaches it at its next pump, and the read ends the window.
    if (busy)
        SendMessageW(window, kStopMessage, 0, 0);
    else
        EndDialog(IDCANCEL);
}
