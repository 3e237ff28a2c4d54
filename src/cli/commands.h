// trelvo-cli as a function: the command line in, the exit code out, with the port
// system, the platform's host and the streams given, so tests run it on the simulator.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/host.h"
#include "cli/options.h"

class CPortSystem;
class CRunHost;

struct CCliEnvironment {
    CPortSystem& ports;
    CRunHost& platformHost;
    std::ostream& out;
    std::ostream& err;
    bool outIsTerminal = false;
    CCliTerminal terminal;
    // The settings file used without --settings; empty: none.
    std::string defaultSettingsPath;
    // The exit code of the interrupt that stopped the tool (InterruptExitCode); null, or
    // 0 from it, gives 130, as for Ctrl+C.
    int (*interruptExitCode)() = nullptr;
};

// The exit code of a run that a stop ended: the interrupt's (SIGTERM 143...), or 130.
int StoppedExitCode(const CCliEnvironment& env);

// What the trace's heading says of the tool: its name, version and command line.
std::string TraceProgramText(const std::vector<std::string>& args);

// Runs the command line (the arguments after the program name); returns the exit code.
int RunCli(const std::vector<std::string>& args, const CCliEnvironment& env);

