#include "gui/gui_support.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "base/utf.h"
#include "protocol/commands.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

namespace {

constexpr unsigned kResetTimeoutMs = 300;
// The operator whose timer is running; a thread timer carries no context of its own.
COperator* ticking = nullptr;

struct FindRequest {
    std::wstring title;
    bool captionless;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM context)
{
    auto* request = reinterpret_cast<FindRequest*>(context);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (std::wstring(className) != L"#32770" || !IsWindowVisible(window))
        return TRUE;
    const bool hasCaption = (GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION;
    if (request->captionless ? hasCaption : Widen(WindowTextOf(window)) != request->title)
        return TRUE;
    request->found = window;
    return FALSE;
}

HWND Find(const std::string& title, bool captionless)
{
    FindRequest request{Widen(title), captionless, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, reinterpret_cast<LPARAM>(&request));
    return request.found;
}

BOOL CALLBACK CloseWindow(HWND window, LPARAM)
{
    if (IsWindowVisible(window))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

}  // namespace

bool CTestHost::ShowMessageBox(const std::string& text, const std::string& caption,
                               MessageBoxKind kind, BoxOwner owner)
{
    boxes.push_back(Box{text, caption, kind, owner});
    if (kind == MessageBoxKind::Question && realQuestions)
        return PlatformHost().ShowMessageBox(text, caption, kind, owner);
    if (kind == MessageBoxKind::Question) {
        if (answers.empty())
            return false;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    if (kind == MessageBoxKind::Information && showInformation)
        MessageBoxW(static_cast<HWND>(owner), Widen(text).c_str(), Widen(caption).c_str(),
                    MB_OK | MB_ICONINFORMATION);
    return true;
}

void CTestHost::PumpMessages()
{
    try {
        PlatformHost().PumpMessages();
    } catch (const stop_exception&) {
        stopTakenAt = GetTickCount();
        throw;
    }
}

void CTestHost::RequestStop(int code)
{
    stopRequestedAt = GetTickCount();
    PlatformHost().RequestStop(code);
}

COperator::COperator(UINT tickMs) : tickMs(tickMs) {}

COperator::~COperator()
{
    if (timer != 0)
        KillTimer(nullptr, timer);
    if (ticking == this)
        ticking = nullptr;
}

COperator& COperator::Then(const std::string& what, Condition ready, Action act, DWORD limitMs)
{
    steps.push_back(Step{what, std::move(ready), std::move(act), limitMs});
    return *this;
}

void COperator::Start()
{
    ticking = this;
    stepStart = GetTickCount();
    timer = SetTimer(nullptr, 0, tickMs, Tick);
}

void CALLBACK COperator::Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (ticking != nullptr)
        ticking->OnTick();
}

void COperator::OnTick()
{
    // An action may pump messages (a real message box): no step runs inside another.
    if (inTick || Done() || !failure.empty())
        return;
    inTick = true;
    Step& step = steps[next];
    if (step.ready()) {
        if (step.act)
            step.act();
        ++next;
        stepStart = GetTickCount();
    } else if (GetTickCount() - stepStart > step.limitMs) {
        failure = "timed out waiting for: " + step.what;
        Abandon();
    }
    inTick = false;
}

// Closes what is open so the test's modal call returns and the failure is reported.
void COperator::Abandon()
{
    PlatformHost().RequestStop(0);
    EnumThreadWindows(GetCurrentThreadId(), CloseWindow, 0);
}

std::string EnvText(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool HaveDisplay()
{
    return !EnvText("DISPLAY").empty();
}

std::string SimPort()
{
    return EnvText("TRELVO_GUI_PORT");
}

std::string SearchPort()
{
    return EnvText("TRELVO_GUI_SEARCH_PORT");
}

std::string FailingPort()
{
    return EnvText("TRELVO_GUI_FAILING_PORT");
}

std::string SecondSimPort()
{
    return EnvText("TRELVO_GUI_SECOND_PORT");
}

std::string SilentPort()
{
    return EnvText("TRELVO_GUI_SILENT_PORT");
}

std::string MuteWritesPort()
{
    return EnvText("TRELVO_GUI_MUTE_WRITES_PORT");
}

std::string MuteWritesState()
{
    return ReadTextFile(EnvText("TRELVO_GUI_MUTE_WRITES_STATE"));
}

std::string WorkPath(const std::string& name)
{
    return EnvText("TRELVO_GUI_WORK") + "\\" + name;
}

std::string DemoFirmware()
{
    return EnvText("TRELVO_GUI_FIRMWARE");
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

void ResetScanner(CRunHost& host, const std::string& port, int speedCode)
{
    CComDevice device(NativePortSystem(), host);
    OpenComPort(device, port, BaudFromCode(kDefaultSpeedCode), kResetTimeoutMs);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    ASSERT_TRUE(FindSpeed(protocol, nullptr, 0)) << "no scanner on " << port;
    SwitchMode(protocol, MODE_APPLICATION, false);
    SetSpeed(protocol, speedCode, false);
}

HWND FindDialog(const std::string& title)
{
    return Find(title, false);
}

HWND FindCaptionlessDialog()
{
    return Find(std::string(), true);
}

std::string WindowTextOf(HWND window)
{
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return Narrow(buffer);
}

bool IsEnabled(HWND window)
{
    return window != nullptr && IsWindowEnabled(window);
}

void Click(HWND button)
{
    PostMessageW(button, BM_CLICK, 0, 0);
}

void ClickItem(HWND dialog, int id)
{
    Click(GetDlgItem(dialog, id));
}

HWND KeyTarget(HWND dialog)
{
    HWND focus = GetFocus();
    return (focus != nullptr && (focus == dialog || IsChild(dialog, focus))) ? focus : dialog;
}

void PostKey(HWND target, WPARAM key)
{
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
}

void PressKey(HWND dialog, WPARAM key)
{
    PostKey(KeyTarget(dialog), key);
}

std::string ListText(HWND list, int item, int column)
{
    wchar_t buffer[512] = {};
    LVITEMW request{};
    request.iSubItem = column;
    request.pszText = buffer;
    request.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, item, reinterpret_cast<LPARAM>(&request));
    return Narrow(buffer);
}

int ListCount(HWND list)
{
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

void SaveScreenshot(HWND window, const std::string& name)
{
    const std::string folder = EnvText("TRELVO_GUI_SHOTS");
    if (folder.empty() || window == nullptr)
        return;
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_ERASE);
    GdiFlush();
    RECT area{};
    GetWindowRect(window, &area);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return;

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    void* bits = nullptr;
    // The window's own surface, caption included (Wine draws it without a window
    // manager): what the screen shows may lag behind it.
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header),
                                      DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        // No surface to copy into (out of GDI memory): no picture rather than a crash.
        DeleteDC(memory);
        ReleaseDC(window, screen);
        return;
    }
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();

    const DWORD rowBytes = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + imageBytes;
    header.biSizeImage = imageBytes;
    std::ofstream out(folder + "\\" + name + ".bmp", std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(static_cast<const char*>(bits), imageBytes);

    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
}
