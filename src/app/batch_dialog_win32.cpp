#include "app/batch_dialog_win32.h"

#include <algorithm>
#include <iterator>

#include "base/host.h"
#include "base/strings.h"
#include "base/utf.h"
#include "resources/resource_batch.h"
#include "transport/port_system.h"
#include "ui/shell.h"

namespace {

// Posted by the ports' threads: the session has something for the window.
constexpr UINT kDeliveryMessage = WM_APP + 1;
constexpr UINT_PTR kPortTimer = 1;
constexpr UINT kPortRefreshMs = 1000;
// Room a list cell takes beyond its text's width, and the state column's least width.
constexpr int kCellPaddingPx = 16;
constexpr int kStateLeastPx = 120;

enum Column { kColumnPort, kColumnSpeed, kColumnScanner, kColumnState };

// The controls that move when the window is resized, and how.
struct Anchor {
    int id;
    bool growsWidth, growsHeight, followsRight, followsBottom;
};
constexpr Anchor kAnchors[] = {
    {IDC_BATCH_PORTS, true, true, false, false},
    {IDC_BATCH_SEARCH, false, false, true, false},
    {IDC_BATCH_START, false, false, true, false},
    {IDC_BATCH_STOP, false, false, true, false},
    {IDC_BATCH_AUTOMATIC, false, false, true, false},
    {IDCANCEL, false, false, true, true},
};

}  // namespace

CBatchDlg::CBatchDlg(CRunHost& host, CPortSystem& ports, const CSettings& settings,
                     std::string versionText, HWND parent, CPortEnvironmentFactory environments)
    : CDialog(host, IDD_BATCH_UPDATE, parent),
      ports(ports),
      settings(settings),
      versionText(std::move(versionText)),
      session(std::move(environments), [this] { PostMessageW(window, kDeliveryMessage, 0, 0); })
{
}

bool CBatchDlg::OnInit()
{
    RECT client{};
    GetClientRect(window, &client);
    initialClient = {client.right, client.bottom};
    RECT frame{};
    GetWindowRect(window, &frame);
    minimumWindow = {frame.right - frame.left, frame.bottom - frame.top};
    for (size_t k = 0; k < std::size(kAnchors); ++k) {
        GetWindowRect(Item(kAnchors[k].id), &initialPlaces[k]);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&initialPlaces[k]), 2);
    }

    list.Attach(Item(IDC_BATCH_PORTS));
    list.AddExtendedStyle(LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    list.AddColumn(LoadText(IDS_COLUMN_PORT), 0, LVCFMT_LEFT);
    list.AddColumn(LoadText(IDS_COLUMN_SPEED), 0, LVCFMT_RIGHT);
    list.AddColumn(LoadText(IDS_BATCH_COLUMN_SCANNER), 0, LVCFMT_LEFT);
    list.AddColumn(LoadText(IDS_COLUMN_STATE), 0, LVCFMT_LEFT);
    SetItemText(IDC_BATCH_AUTOMATIC, LoadText(IDS_BATCH_AUTOMATIC));
    Layout(initialClient.cx, initialClient.cy);

    RefreshPorts();
    StartTimer(kPortTimer, kPortRefreshMs);
    UpdateButtons();
    return false;
}

void CBatchDlg::OnDestroy()
{
    StopTimer(kPortTimer);
}

void CBatchDlg::OnTimer(UINT_PTR id)
{
    if (id == kPortTimer && !session.Busy())
        RefreshPorts();
}

// Ports that appeared come unticked, rows of ports that have gone are dropped; the
// others keep their ticks and texts. Nothing changes while the ports are at work.
void CBatchDlg::RefreshPorts()
{
    std::vector<std::string> listed = ports.EnumerateSerialPorts();
    std::vector<std::string> shown;
    for (const CBatchRow& row : session.Rows())
        shown.push_back(row.port);
    std::sort(listed.begin(), listed.end());
    listed.erase(std::unique(listed.begin(), listed.end()), listed.end());
    std::sort(shown.begin(), shown.end());
    if (listed == shown && list.Count() == int(shown.size()))
        return;
    if (session.SetPorts(listed))
        FillList();
}

void CBatchDlg::FillList()
{
    fillingList = true;
    list.DeleteAll();
    for (size_t row = 0; row < session.Rows().size(); ++row) {
        list.InsertItem(int(row), session.Rows()[row].port);
        ShowRow(row);
    }
    fillingList = false;
    FitColumns();
}

void CBatchDlg::FitColumns()
{
    const HWND handle = list.Handle();
    if (handle == nullptr)
        return;
    auto textWidth = [handle](const std::string& text) {
        const std::wstring wide = Widen(text);
        return int(SendMessageW(handle, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(wide.c_str()))) +
               kCellPaddingPx;
    };
    // The port column holds the check box too.
    int port = textWidth(LoadText(IDS_COLUMN_PORT)) + list.StateImageSize();
    int speed = textWidth(LoadText(IDS_COLUMN_SPEED));
    int scanner = textWidth(LoadText(IDS_BATCH_COLUMN_SCANNER));
    for (const CBatchRow& row : session.Rows()) {
        port = std::max(port, textWidth(row.port) + list.StateImageSize());
        speed = std::max(speed, textWidth(row.speed.empty() ? "921600" : row.speed));
        scanner = std::max(scanner, textWidth(row.scanner));
    }
    const int listWidth = list.ClientWidth();
    list.SetColumnWidth(kColumnPort, port);
    list.SetColumnWidth(kColumnSpeed, speed);
    list.SetColumnWidth(kColumnScanner, scanner);
    list.SetColumnWidth(kColumnState, std::max(kStateLeastPx, listWidth - port - speed - scanner));
}

void CBatchDlg::ShowRow(size_t row)
{
    const CBatchRow& shown = session.Rows()[row];
    const bool filling = fillingList;
    fillingList = true;
    const int item = int(row);
    list.SetChecked(item, shown.ticked);
    list.SetText(item, kColumnSpeed, shown.speed);
    list.SetText(item, kColumnScanner, shown.scanner);
    list.SetText(item, kColumnState, shown.state);
    fillingList = filling;
    if (!filling)
        FitColumns();
}

void CBatchDlg::UpdateButtons()
{
    const bool busy = session.Busy();
    EnableItem(IDC_BATCH_AUTOMATIC, !busy);
    EnableItem(IDC_BATCH_SEARCH, !busy);
    EnableItem(IDC_BATCH_START, !busy);
    EnableItem(IDC_BATCH_STOP, busy);
    const int defaultButton = busy ? IDC_BATCH_STOP : IDC_BATCH_START;
    SendMessageW(window, DM_SETDEFID, defaultButton, 0);
    HWND focus = GetFocus();
    if (focus == nullptr || !IsWindowEnabled(focus))
        SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(defaultButton)), TRUE);
}

bool CBatchDlg::OnCommand(int id, int code, HWND control)
{
    switch (id) {
    case IDC_BATCH_SEARCH:
        OnSearch();
        return true;
    case IDC_BATCH_START:
        OnStart();
        return true;
    case IDC_BATCH_STOP:
        session.Stop();
        return true;
    default:
        return CDialog::OnCommand(id, code, control);
    }
}

void CBatchDlg::OnSearch()
{
    if (session.Busy())
        return;
    RefreshPorts();
    work = Work::Search;
    session.StartSearch();
    for (size_t row = 0; row < session.Rows().size(); ++row)
        ShowRow(row);
    UpdateButtons();
}

void CBatchDlg::OnStart()
{
    if (session.Busy())
        return;
    const CBatchRunSettings run{settings.firmwareFile, settings.timeout, settings.baudCode,
                                settings.transferSpeedCode, settings.logFile, versionText,
                                settings.skipCurrent, settings.logStation, settings.logTags};
    // Ticked, the window is a station: the ticked ports (all when none is) watched until
    // Stop, each scanner that turns up updated once.
    const bool automatic = IsDlgButtonChecked(window, IDC_BATCH_AUTOMATIC) == BST_CHECKED;
    try {
        if (automatic)
            session.StartStation(run);
        else
            session.StartRun(run);
    } catch (...) {
        ReportException(host, 0, OwnerWindow());
        return;
    }
    work = automatic ? Work::Station : Work::Run;
    SetTitle(automatic ? session.Summary() : LoadText(IDS_BATCH_TITLE));
    for (size_t row = 0; row < session.Rows().size(); ++row)
        ShowRow(row);
    UpdateButtons();
}

void CBatchDlg::OnCancel()
{
    if (session.Busy()) {
        closeRequested = true;
        session.Stop();
        return;
    }
    EndDialog(IDCANCEL);
}

void CBatchDlg::OnDelivery()
{
    const CBatchDelivery delivery = session.Deliver();
    for (size_t row : delivery.rows)
        ShowRow(row);
    if (work == Work::Station)
        SetTitle(session.Summary());
    if (delivery.ended)
        OnWorkEnded();
}

void CBatchDlg::OnWorkEnded()
{
    const Work ended = work;
    work = Work::None;
    UpdateButtons();
    if (ended == Work::Run || ended == Work::Station) {
        SetTitle(session.Summary());
        FlashIfInactive(window);
        std::string failures;
        for (const std::string& failure : session.TakeLogFailures())
            failures += (failures.empty() ? "" : "\r\n") + failure;
        if (!failures.empty())
            host.ShowMessageBox(failures, LoadText(IDS_PROGRAM_NAME), MessageBoxKind::Error,
                                OwnerWindow());
    }
    if (closeRequested)
        EndDialog(IDCANCEL);
}

bool CBatchDlg::OnNotify(NMHDR* header, LRESULT& result)
{
    if (header->idFrom != IDC_BATCH_PORTS || fillingList)
        return false;
    const auto& change = *reinterpret_cast<const NMLISTVIEW*>(header);
    const bool tickChange = (change.uChanged & LVIF_STATE) && change.iItem >= 0 &&
                            ((change.uOldState ^ change.uNewState) & LVIS_STATEIMAGEMASK) != 0;
    if (!tickChange)
        return false;
    switch (header->code) {
    case LVN_ITEMCHANGING:
        // The ticks stay as they are while the ports are at work.
        result = session.Busy() ? TRUE : FALSE;
        return true;
    case LVN_ITEMCHANGED:
        session.SetTicked(size_t(change.iItem), list.IsChecked(change.iItem));
        result = 0;
        return true;
    default:
        return false;
    }
}

bool CBatchDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (message) {
    case kDeliveryMessage:
        OnDelivery();
        result = 0;
        return true;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED)
            Layout(LOWORD(lParam), HIWORD(lParam));
        result = 0;
        return true;
    case WM_GETMINMAXINFO:
        // Never smaller than the template made it (known once the window is set up).
        if (minimumWindow.cx == 0)
            return false;
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {minimumWindow.cx, minimumWindow.cy};
        result = 0;
        return true;
    default:
        return CDialog::OnMessage(message, wParam, lParam, result);
    }
}

// The list takes what the window grows by; the buttons keep their distance from the
// right edge, "Закрыть" from the bottom too.
void CBatchDlg::Layout(int width, int height)
{
    if (list.Handle() == nullptr)
        return;
    const int dx = std::max(0, width - int(initialClient.cx));
    const int dy = std::max(0, height - int(initialClient.cy));
    for (size_t k = 0; k < std::size(kAnchors); ++k) {
        const Anchor& anchor = kAnchors[k];
        const RECT& place = initialPlaces[k];
        const int x = place.left + (anchor.followsRight ? dx : 0);
        const int y = place.top + (anchor.followsBottom ? dy : 0);
        const int w = place.right - place.left + (anchor.growsWidth ? dx : 0);
        const int h = place.bottom - place.top + (anchor.growsHeight ? dy : 0);
        SetWindowPos(Item(anchor.id), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    FitColumns();
    InvalidateRect(window, nullptr, TRUE);
}
