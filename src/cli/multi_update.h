// trelvo-cli update on several ports at once, and the result log of every update.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/host.h"
#include "cli/settings.h"
#include "engine/result_log.h"
#include "firmware/ldr.h"

struct CPortRunResult;

// What an update needs before it touches a port: the firmware file loaded, holding the
// module the update writes, and (with --log) named for the log.
struct CUpdateFiles {
    ldr::file firmware;
    CFirmwareIdentity identity;
    CLogStamp stamp;   // the station, its tags and the version; the time is the record's
};
// Loads and checks the firmware file (ldr_exception naming the file) and checks that the
// log can be opened for appending (CUsageError naming the log and the reason).
void PrepareUpdate(const CCliOptions& options, const CCliSettings& settings, CUpdateFiles& files);

// The ports to update: the --port names, or with --all the listed ports and the --port
// names on which a scanner answered a search (all ports searched at once). Each comes
// with the speed code that answered (or the settings' code). With --all and no scanner,
// searched holds each port searched with its state.
struct CFoundPort {
    std::string name;
    int speedCode;
    std::string state;   // what the search ended with on the port
};
std::vector<CFoundPort> FindUpdatePorts(const CCliOptions& options, const CCliSettings& settings,
                                        const CCliEnvironment& env, CCliHost& host,
                                        std::vector<CFoundPort>* searched = nullptr);

// Runs the update on every port; progress per port, then the table; the exit code.
int MultiPortUpdate(const CCliOptions& options, const CCliSettings& settings,
                    const CUpdateFiles& files, const CCliEnvironment& env, CCliHost& host);

// The final table: a header and one line per port (port, serial number, model, the row
// statuses, seconds, bytes/s), columns aligned.
std::string ResultTable(const std::vector<CPortRunResult>& results);

// Appends one record per result to the log. A record that could not be written goes to
// err, after the reason, as the same JSON line, so that it is not lost. False then.
bool WriteResultLog(const std::string& logFile, const CUpdateFiles& files,
                    const std::vector<CPortRunResult>& results, std::ostream& err);
