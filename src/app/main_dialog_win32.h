// The main window: the list of operations with their statuses, Start, Stop, Settings and
// Exit. The run itself is the run engine's; the window is its view.
#pragma once

#include <string>

#include "engine/run_loop.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/dialog.h"

class CPortSystem;
class CProfile;

class CTrelvoDlg : public CDialog, private CRunView {
public:
    // The settings are read from the profile when the window opens and written to it
    // when the settings sheet is confirmed.
    CTrelvoDlg(CRunHost& host, CPortSystem& ports, CProfile& profile, std::string versionText);
    ~CTrelvoDlg() override;

    // The values in memory (after the window has closed: as the program ended with them).
    const CSettings& Settings() const { return settings; }
    bool IsRunning() const { return running; }

private:
    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT& result) override;
    // Enter activates the default button instead; the window never closes on it.
    void OnOK() override {}
    void OnCancel() override;
    void OnClose() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    void OnStart();
    void OnSettings();
    void AddBatchMenuItem();
    void OnBatchUpdate();
    void UpdateControls(bool keepFocus);
    void ArrangeControls();
    void InitOperationList();
    void FillOperationList();
    void UpdateTitle(const char* serial);
    void ExchangeSettings(bool save);
    bool IsFixedSet() const;
    void OnListItemChanged(const NMLISTVIEW& change);
    bool OnListItemChanging(const NMLISTVIEW& change) const;

    // The view of the run.
    int RowCount() override;
    bool IsRowChecked(int row) override;
    OperationFunction RowOperation(int row) override;
    void SetRowStatus(int row, const std::string& text) override;
    void EnsureRowVisible(int row) override;
    void SetTitle(const std::string& title) override;
    void FlashIfInactive() override;
    BoxOwner OwnerWindow() override { return CDialogBase::OwnerWindow(); }

    CPortSystem& ports;
    CProfile& profile;
    std::string versionText;
    CSettings settings;
    // The part of the settings a run reads; the run writes the port's speed back into it.
    CRunSettings runSettings;
    CRunEngine engine;
    bool running = false;
    bool closeRequested = false;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    CListView operations;
};
