// Where the program finds its settings file: beside the executable, under the
// executable's own name, so a copy under another name has settings of its own.
#pragma once

#include <optional>
#include <string>

// The running executable's full path in UTF-8; nothing when the system cannot tell or
// (on Windows) the path does not fit in MAX_PATH characters.
std::optional<std::string> ExecutablePath();

// The path with the extension of its last component replaced by ".ini" (appended when
// the name has none; a dot in a folder's name or a leading dot is no extension).
// Nothing for an empty path or one that names a folder.
std::optional<std::string> SettingsPathFor(const std::string& executablePath);
