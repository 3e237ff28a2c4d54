#include "app/cli_console.h"

#include <windows.h>

#include <io.h>
#include <shellapi.h>

#include <cstdio>

#include "resources/utf.h"

namespace {

constexpr UINT kUtf8CodePage = 65001;

}  // namespace

void PrepareConsole()
{
    SetConsoleOutputCP(kUtf8CodePage);
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
