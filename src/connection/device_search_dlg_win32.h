// The device search window: the computer's serial ports, ticked to be searched, with the
// speed tried and the outcome per port. OK returns the chosen row's port and speed code.
#pragma once

#include <string>

#include "connection/device_search.h"
#include "ui/controls.h"
#include "ui/dialog.h"

class CPortSystem;

class CDeviceSearchDlg : public CDialog, private CSearchView {
public:
    CDeviceSearchDlg(CRunHost& host, CPortSystem& ports, HWND parent);

    // After IDOK: the chosen row's port and the speed code that answered there, or -1.
    std::string portName;
    int speedCode = -1;

private:
    enum class Deferred { None, Ok, Cancel };

    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT& result) override;
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    void OnOK() override;
    void OnCancel() override;

    void OnSearch();
    void RefreshPorts();
    void UpdateButtons(bool forceFocus);

    // The view of the search.
    int RowCount() override;
    std::string PortName(int row) override;
    bool IsTicked(int row) override;
    void SetSpeedText(int row, const std::string& text) override;
    void SetStateText(int row, const std::string& text) override;
    void SetRowCode(int row, int code) override;
    void EnsureVisible(int row) override;
    BoxOwner OwnerWindow() override { return CDialogBase::OwnerWindow(); }

    CPortSystem& ports;
    CListView portList;
    bool searching = false;
    // OK or Cancel pressed during a search: it stops the search and completes after it.
    Deferred deferred = Deferred::None;
};
