// trelvo-cli: the scanner actions of the Windows program from a command line.
#include <iostream>

#include "base/host.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/settings.h"
#include "transport/port_system.h"

int main(int argc, char** argv)
{
    const CConsoleSetup console;
    InstallInterruptStop();
    CCliTerminal terminal;
    terminal.interactive = StdinIsTerminal();
    terminal.readLine = [](std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); };
    const CCliEnvironment env{NativePortSystem(), PlatformHost(), std::cout, std::cerr,
                              StdoutIsTerminal(), terminal, DefaultCliSettingsPath(),
                              InterruptExitCode};
    return RunCli(CommandLineArguments(argc, argv), env);
}
