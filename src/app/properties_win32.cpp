#include "app/properties_win32.h"

#include "base/strings.h"

bool CProperties::DoModal(HWND parent)
{
    connect.SetReadOnly(locked);
    firmware.SetReadOnly(locked);
    const bool ok = RunPropertySheet(parent, LoadText(locked ? IDS_SETTINGS_LOCKED : IDS_SETTINGS_BUTTON),
                                     {&connect, &firmware});
    return ok && !locked;
}
