#include "app/properties_win32.h"

#include "base/strings.h"

namespace {


}  // namespace

bool CProperties::DoModal(HWND parent)
{
    return RunPropertySheet(parent, LoadText(IDS_SETTINGS_BUTTON), {&connect, &firmware});
}
