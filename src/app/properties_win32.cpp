#include "app/properties_win32.h"

#include "resources/strings.h"

namespace {

constexpr unsigned kCaptionId = 1;

}  // namespace

bool CProperties::DoModal(HWND parent)
{
    return RunPropertySheet(parent, LoadText(kCaptionId), {&connect, &firmware});
}
