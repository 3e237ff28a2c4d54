#include "cli/console.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "base/utf.h"

namespace {

constexpr UINT kUtf8CodePage = 65001;

}  // namespace

CConsoleSetup::CConsoleSetup() : previousOutputCodePage(GetConsoleOutputCP())
{
    // Without a console (output to a pipe, no console at all) there is nothing to set:
    // the bytes go out as written.
    if (previousOutputCodePage != 0)
        SetConsoleOutputCP(kUtf8CodePage);
}

CConsoleSetup::~CConsoleSetup()
{
    if (previousOutputCodePage != 0)
        SetConsoleOutputCP(previousOutputCodePage);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i)
        args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return args;
}

bool StdinIsTerminal()
{
    return _isatty(_fileno(stdin)) != 0;
}

bool StdoutIsTerminal()
{
    return _isatty(_fileno(stdout)) != 0;
}
