// trelvo-cli station: the ports watched until Ctrl+C, SIGTERM or --count finished
// scanners, each scanner that turns up updated once, a line per finished scanner.
#pragma once

#include "cli/commands.h"
#include "cli/host.h"
#include "cli/multi_update.h"
#include "cli/settings.h"

struct CPortRunResult;

// The line of a finished scanner: UTC time, port, serial number and the result ("OK",
// the skipped text, "Прервано" or the failure's message), tab-separated.
std::string StationLine(const std::string& time, const CPortRunResult& result);

// Runs the station; the exit code: 0 when every finished scanner ended OK (or was
// skipped), 1 otherwise or when a record could not be written, 128 + the signal when
// stopped.
int StationCommand(const CCliOptions& options, const CCliSettings& settings,
                   const CUpdateFiles& files, const CCliEnvironment& env, CCliHost& host);
