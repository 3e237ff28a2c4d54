// The program: finds its settings file beside the executable and runs the main window
// until it closes.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <memory>
#include <new>

#include "app/main_dialog_win32.h"
#include "base/app_paths.h"
#include "base/host.h"
#include "base/strings.h"
#include "base/trace.h"
#include "base/utf.h"
#include "base/version.h"
#include "settings/profile.h"
#include "transport/port_system.h"

namespace {

// The file named by /trace FILE on the command line (the switch in any case, or with
// "-"); empty when there is none.
std::wstring TraceFileArgument()
{
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    std::wstring file;
    for (int i = 1; args && i + 1 < count; ++i) {
        if ((args[i][0] == L'/' || args[i][0] == L'-') && lstrcmpiW(args[i] + 1, L"trace") == 0)
            file = args[i + 1];
    }
    LocalFree(args);
    return file;
}

void ShowStartupError(CRunHost& host, unsigned textId)
{
    // No window exists yet.
    host.ShowMessageBox(LoadText(textId), LoadText(IDS_PROGRAM_NAME), MessageBoxKind::Error,
                        nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    // The file-open dialog hosts shell components that expect a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    CRunHost& host = PlatformHost();
    const std::optional<std::string> executable = ExecutablePath();
    if (!executable) {
        ShowStartupError(host, IDS_NO_PROGRAM_FOLDER);
    } else if (const std::optional<std::string> settingsPath = SettingsPathFor(*executable);
               !settingsPath) {
        ShowStartupError(host, IDS_NO_SETTINGS_NAME);
    } else {
        std::unique_ptr<CProfile> profile;
        try {
            profile = OpenNativeProfile(*settingsPath);
        } catch (const std::bad_alloc&) {
        }
        if (!profile) {
            ShowStartupError(host, IDS_NO_SETTINGS_BUFFER);
        } else {
            // With a trace, the windows see the ports through a system that carries it.
            std::unique_ptr<CTraceSink> trace;
            std::unique_ptr<CTracedPortSystem> tracedPorts;
            const std::wstring traceFile = TraceFileArgument();
            if (!traceFile.empty()) {
                std::string error;
                const std::string path = Narrow(traceFile);
                trace = OpenTraceFile(path, error,
                                      "trelvo.exe " + GetVersionText() + ", command line: " +
                                          Narrow(GetCommandLineW()));
                if (trace)
                    tracedPorts = std::make_unique<CTracedPortSystem>(NativePortSystem(), *trace);
                else
                    host.ShowMessageBox(StringPrintf(LoadText(IDS_TRACE_FAILED), path.c_str()) +
                                            ": " + error,
                                        LoadText(IDS_PROGRAM_NAME), MessageBoxKind::Error, nullptr);
            }
            CTrelvoDlg dialog(host, tracedPorts ? *tracedPorts : NativePortSystem(), *profile,
                              GetVersionText());
            dialog.DoModal();
        }
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}
