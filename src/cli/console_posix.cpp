#include "cli/console.h"

#include <unistd.h>

CConsoleSetup::CConsoleSetup() = default;
CConsoleSetup::~CConsoleSetup() = default;

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool StdinIsTerminal()
{
    return isatty(STDIN_FILENO) != 0;
}

bool StdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}
