// The connection page of the settings sheet: port, speed and reply time-out, and the
// actions on the scanner at those settings (link check, search, speed change, details).
#pragma once

#include <string>

#include "connection/connection_actions.h"
#include "ui/controls.h"
#include "ui/property_sheet.h"

class CPortSystem;

class CConnectPage : public CPropertyPage {
public:
    CConnectPage(CRunHost& host, CPortSystem& ports);

    std::string portName;
    int speedIndex = -1;    // speed code; -1 when no speed is chosen
    unsigned timeout = 0;   // ms

private:
    void AttachControls() override;
    bool Exchange(bool save) override;
    bool OnInitPage() override;
    bool OnCommand(int id, int code, HWND control) override;
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;

    void RefreshPorts();
    void OnCheckLink();
    void OnSearch();
    void OnSetSpeed();
    void OnDetails();
    void RunAction(void (CConnectPage::*action)(), HWND button);
    CConnectSettings Current() const;

    CPortSystem& ports;
    CComboBox portCombo;
    CComboBox speedCombo;
};
