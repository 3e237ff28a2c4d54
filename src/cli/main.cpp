// trelvo-cli: the scanner actions of the Windows program from a command line.
#include <iostream>

#include "app/cli_commands.h"
#include "app/cli_console.h"
#include "app/cli_settings.h"
#include "engine/run_services.h"
#include "transport/port_system.h"

int main(int argc, char** argv)
{
    const CConsoleSetup console;
    InstallInterruptStop();
    CCliTerminal terminal;
    terminal.interactive = StdinIsTerminal();
    terminal.readLine = [](std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); };
    const CCliEnvironment env{NativePortSystem(), PlatformHost(), std::cout, std::cerr,
                              StdoutIsTerminal(), terminal, DefaultCliSettingsPath()};
    return RunCli(CommandLineArguments(argc, argv), env);
}
