// trelvo-cli update on several ports at once, and the result log of every update.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/host.h"
#include "cli/settings.h"

struct CPortRunResult;
struct CFirmwareIdentity;

// The ports to update: the --port names, or with --all the listed ports and the --port
// names on which a scanner answered a search at 2400-115200 (all ports searched at
// once). Each comes with the speed code that answered (or the settings' code).
struct CFoundPort {
    std::string name;
    int speedCode;
};
std::vector<CFoundPort> FindUpdatePorts(const CCliOptions& options, const CCliSettings& settings,
                                        const CCliEnvironment& env, CCliHost& host);

// Runs the update on every port; progress per port, then the table; the exit code.
int MultiPortUpdate(const CCliOptions& options, const CCliSettings& settings,
                    const CCliEnvironment& env, CCliHost& host);

// The final table: a header and one line per port (port, serial number, model, the row
// statuses, seconds, bytes/s), columns aligned.
std::string ResultTable(const std::vector<CPortRunResult>& results);

// Appends one record per result to the log; a failure is reported on err. False when
// a record could not be written.
bool WriteResultLog(const std::string& logFile, const CFirmwareIdentity& firmware,
                    const std::vector<CPortRunResult>& results, std::ostream& err);
