// The batch window: every listed port with its speed, scanner and state; "Найти сканеры"
// searches them all at once, "Старт" updates every ticked one at once, "Стоп" and
// closing stop them all. The work is the batch session's, on the ports' own threads; the
// window only shows what the session delivers to it.
#pragma once

#include <string>

#include "connection/batch_update.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/dialog.h"

class CPortSystem;

class CBatchDlg : public CDialog {
public:
    // The settings are the program's (as read from the settings file); the window keeps
    // nothing of its own between openings.
    CBatchDlg(CRunHost& host, CPortSystem& ports, const CSettings& settings,
              std::string versionText, HWND parent,
              CPortEnvironmentFactory environments = NativePortEnvironment);

    bool IsBusy() const { return session.Busy(); }

private:
    enum class Work { None, Search, Run, Station };

    bool OnInit() override;
    bool OnCommand(int id, int code, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT& result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
    void OnOK() override {}
    // "Закрыть", Escape and the close box: stops whatever runs, closes when it has ended.
    void OnCancel() override;

    void OnSearch();
    void OnStart();
    void OnDelivery();
    void OnWorkEnded();
    void RefreshPorts();
    void FillList();
    void ShowRow(size_t row);
    void UpdateButtons();
    void Layout(int width, int height);
    // The port, speed and scanner columns as wide as their widest text (their headings
    // at least), the state column the rest.
    void FitColumns();

    CPortSystem& ports;
    const CSettings& settings;
    std::string versionText;
    CBatchSession session;
    CListView list;
    Work work = Work::None;
    bool closeRequested = false;
    // Set while the window changes the list's ticks itself.
    bool fillingList = false;
    // The client size and controls' places as the template made them, for resizing.
    SIZE initialClient{};
    SIZE minimumWindow{};
    RECT initialPlaces[6]{};
};
