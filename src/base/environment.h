// Environment variables in a path the settings file names, so that stations sharing one
// settings file (or a network folder) each write a file of their own.
#pragma once

#include <functional>
#include <optional>
#include <string>

// The variable's value; nothing when it is not set.
using CVariableLookup = std::function<std::optional<std::string>(const std::string& name)>;

// Replaces %NAME% and, with dollarForms, $NAME and ${NAME} (NAME: letters, digits and
// '_', not starting with a digit, for the $ forms) by the variables' values. A variable
// that is not set stays as written, as Windows leaves it, so the file's name shows what
// was missing; "%%" and a lone '%' or '$' stay as they are.
std::string ExpandVariables(const std::string& text, const CVariableLookup& lookup,
                            bool dollarForms);

// As this system expands a path: Windows %NAME% only (a '$' is an ordinary character of
// its file names); Linux also $NAME and ${NAME}, and %COMPUTERNAME%, which Linux does
// not set, is the host's name there, so one settings file serves both systems.
std::string ExpandEnvironmentVariables(const std::string& text);
