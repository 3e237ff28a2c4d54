#include "base/version.h"

std::string GetVersionText()
{
    return TRELVO_VERSION_TEXT;
}
