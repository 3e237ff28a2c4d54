// The command line of trelvo-cli: the command, its arguments and the options that
// override the settings file. Parsing checks the form of every value; whether the
// settings file and the options together make a usable connection is decided later,
// when the file has been read.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings.h"

// Process exit codes of the command-line tool.
enum CliExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,      // the system's message is on stderr
    kExitUsage = 2,        // bad command line or settings
    kExitNotFound = 3,     // no scanner answered
    // Stopped: 128 + the signal (SIGHUP 129, SIGINT 130, SIGTERM 143; Windows: console
    // closed 129, Ctrl+C 130, Ctrl+Break 149).
    kExitStopped = 130,
};

enum class CliCommand { None, Ports, Check, Search, SetSpeed, Info, Update, Modules, Station };

// A command line or a setting the tool cannot work with; its text says what is wrong.
class CUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CCliOptions {
    bool help = false;
    bool version = false;
    CliCommand command = CliCommand::None;
    std::optional<std::string> settingsFile;
    std::optional<std::string> port;     // the last --port
    // update: every --port in order, each name once (several: a run per port, in parallel).
    std::vector<std::string> updatePorts;
    // update: every listed port (and each --port) on which a scanner answers.
    bool allPorts = false;
    std::optional<unsigned> jobs;        // update: ports run at once
    std::optional<std::string> logFile;  // update: the result log appended to
    std::optional<std::string> traceFile;   // any command: the protocol trace written
    // update: --tag NAME=VALUE in order, for the records (a later one of a name wins).
    std::vector<std::pair<std::string, std::string>> tags;
    // ports, search, check, info, modules: one JSON document instead of the text.
    bool json = false;
    std::optional<int> speedCode;
    std::optional<unsigned> timeout;
    std::optional<std::string> firmwareFile;
    std::optional<int> transferSpeedCode;   // update: the speed the module is written at
    std::optional<unsigned> retries;
    // update and station: a scanner already at the module's version is not updated.
    bool skipCurrent = false;
    // station: it ends after this many scanners have finished.
    std::optional<unsigned> count;
    // search: the ports to try, each name once (empty: every listed port).
    std::vector<std::string> ports;
    // set-speed: the new code.
    int newSpeedCode = -1;
    // modules: the container file.
    std::string modulesFile;
};

// More retries than anyone waits for; a larger number is a typing error.
constexpr unsigned kMaxRetries = 1000000;
constexpr unsigned kMaxJobs = 1000;
constexpr unsigned kMaxCount = 1000000;

// Parses the arguments after the program name. --help (or else --version) anywhere wins
// over everything else. Throws CUsageError.
CCliOptions ParseCliOptions(const std::vector<std::string>& args);

// A plain decimal number (digits only, no sign); where names the value in the error text.
long long ParseCliNumber(const std::string& text, const std::string& where);

// Checks a speed code or a time-out met in the settings file or on the command line;
// where names the value in the error text.
int CheckedSpeedCode(long long value, const std::string& where);
int CheckedTransferSpeedCode(long long value, const std::string& where);
unsigned CheckedTimeout(long long value, const std::string& where);

// The text of --help.
std::string CliHelpText();
// The line that points a user who typed something wrong at --help.
std::string CliUsageHint();
