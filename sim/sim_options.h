// The command line of the pty simulator program, parsed into a scanner configuration and
// the program's own settings, and the state summary it writes for tests to read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_scanner.h"

struct SimProgramOptions {
    SimConfig config;
    std::vector<SimFaultRule> faults;
    std::string linkPath;       // a symlink to the slave, kept while the program runs
    std::string ttyPath;        // an existing terminal to serve instead of a pty
    std::string gadgetPath;     // the USB gadget (configfs folder) that terminal belongs to
    std::string statePath;      // the state summary, rewritten as the scanner changes
    std::string expectLdrPath;  // the computational module the verdict compares with
    std::string dumpPath;       // a raw dump of [dumpAddress, dumpAddress + dumpSize)
    uint32_t dumpAddress = 0;
    uint32_t dumpSize = 0;
    bool help = false;
};

// Parses the arguments after the program name; false with a message on a bad option.
bool ParseSimOptions(const std::vector<std::string>& args, SimProgramOptions& out,
                     std::string& error);

// The --help text.
const char* SimUsageText();

// The state summary: one "key value" line each, for scripts to grep:
//   mode application|loader|restarting, speed CODE, baud N, restarts N, commands N,
//   faults N (replies a fault hit), write_faults N (of them, memory writes),
//   register XX XX XX XX, verdict 0|1, image none|match|differs (against the expected
//   module), memory_bytes N, session_bytes N, then one
//   "range 0xADDRESS SIZE CRC32" line per run of written memory.
std::string SimStateText(const CSimScanner& scanner, uint64_t nowUs);
