// The program's version text, the last part of the main window's title.
#pragma once

#include <cstdint>
#include <string>

// major.minor.build from the two file-version words, with the fourth number only when
// it is not zero: 1.3.2.0 gives "1.3.2", 1.3.2.11 gives "1.3.2.11".
std::string FormatVersionText(uint32_t versionMs, uint32_t versionLs);

// The running program's version text; empty when it cannot be determined. On Windows
// it comes from the executable's version resource, elsewhere from the build.
std::string GetVersionText();
