#include "app/version.h"

std::string GetVersionText()
{
    return TRELVO_VERSION_TEXT;
}
