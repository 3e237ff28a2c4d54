// The small window shown while the device information is read; Escape or closing it
// stops the read.
#pragma once

#include "connection/connection_actions.h"
#include "protocol/device_info.h"
#include "ui/dialog.h"

class CPortSystem;

class CDeviceInfoDlg : public CDialog {
public:
    CDeviceInfoDlg(CRunHost& host, CPortSystem& ports, CConnectSettings settings, HWND parent);

    // DoModal returns IDOK when the record was read into info, IDCANCEL otherwise (the
    // failure has been shown; a stop is not).
    CDeviceInfo info;

private:
    bool OnInit() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnOK() override {}
    void OnCancel() override;
    void Read();

    CPortSystem& ports;
    CConnectSettings settings;
    bool busy = false;
};
