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
    bool CanLeave() override { return !busy; }
    bool QueryCancel() override;

    void RefreshPorts();
    void OnCheckLink();
    void OnSearch();
    void OnSetSpeed();
    void OnDetails();
    // stoppable: the action talks to the scanner from this page, and its button stops it
    // meanwhile (the search and the details have windows of their own for that).
    void RunAction(void (CConnectPage::*action)(), HWND button, bool stoppable);
    void EnableSheet(bool enable);
    CConnectSettings Current() const;

    CPortSystem& ports;
    CComboBox portCombo;
    CComboBox speedCombo;
    bool busy = false;
    // The button that stops the running action; null when it has none.
    HWND stopButton = nullptr;
    // The sheet was asked to close while an action ran: it closes once the action ends.
    bool cancelDeferred = false;
};
