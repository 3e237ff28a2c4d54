// The console as the command-line tool sees it on each platform: UTF-8 arguments and
// output, and whether the standard streams are terminals.
#pragma once

#include <string>
#include <vector>

// While it lives, the console shows the UTF-8 bytes the tool writes (Windows: output
// code page 65001, put back as it was at the end, since the console outlives the tool;
// elsewhere the terminal already speaks UTF-8).
class CConsoleSetup {
public:
    CConsoleSetup();
    ~CConsoleSetup();
    CConsoleSetup(const CConsoleSetup&) = delete;
    CConsoleSetup& operator=(const CConsoleSetup&) = delete;

private:
    unsigned previousOutputCodePage = 0;
};

// The arguments after the program name, in UTF-8 (Windows: from the wide command line,
// so a file name outside the ANSI code page survives).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

bool StdinIsTerminal();
bool StdoutIsTerminal();
