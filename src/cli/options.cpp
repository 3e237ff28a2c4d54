#include "cli/options.h"

#include <algorithm>
#include <cctype>

#include "base/strings.h"
#include "transport/port_system.h"

namespace {

struct CommandName {
    const char* name;
    CliCommand command;
};

const CommandName kCommands[] = {
    {"ports", CliCommand::Ports},     {"check", CliCommand::Check},
    {"search", CliCommand::Search},   {"set-speed", CliCommand::SetSpeed},
    {"info", CliCommand::Info},       {"update", CliCommand::Update},
    {"modules", CliCommand::Modules}, {"station", CliCommand::Station},
};

// Enough digits for every value the tool accepts, few enough to stay clear of overflow.
constexpr size_t kMaxNumberDigits = 12;

bool IsHelp(const std::string& arg)
{
    return arg == "-h" || arg == "--help";
}

// The options that take a value; any other "--name" is a flag or unknown.
const char* const kValueOptions[] = {"settings", "port", "jobs", "log", "trace",
                                     "speed", "timeout", "firmware", "retry", "count",
                                     "tag", "transfer-speed"};

bool TakesValue(const std::string& name)
{
    return std::any_of(std::begin(kValueOptions), std::end(kValueOptions),
                       [&](const char* option) { return name == option; });
}

std::string Text(unsigned id, const std::string& a)
{
    return StringPrintf(LoadText(id), a.c_str());
}

std::string Text(unsigned id, const std::string& a, const std::string& b)
{
    return StringPrintf(LoadText(id), a.c_str(), b.c_str());
}

// A name given twice is one port: a second run on it would only find it busy. "com3"
// and "COM3" are one on Windows.
void AddOnce(std::vector<std::string>& names, const std::string& name)
{
    if (std::none_of(names.begin(), names.end(),
                     [&name](const std::string& named) { return SamePortName(named, name); }))
        names.push_back(name);
}

}  // namespace

long long ParseCliNumber(const std::string& text, const std::string& where)
{
    if (text.empty() || text.size() > kMaxNumberDigits)
        throw CUsageError(Text(IDS_CLI_NOT_A_NUMBER, where, text));
    long long value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            throw CUsageError(Text(IDS_CLI_NOT_A_NUMBER, where, text));
        value = value * 10 + (c - '0');
    }
    return value;
}

namespace {

std::string NonEmpty(const std::string& value, const std::string& where)
{
    if (value.empty())
        throw CUsageError(Text(IDS_CLI_EMPTY_VALUE, where));
    return value;
}

bool UsesConnection(CliCommand command)
{
    return command == CliCommand::Check || command == CliCommand::SetSpeed ||
           command == CliCommand::Info || command == CliCommand::Update ||
           command == CliCommand::Station;
}

// Options that the command would silently ignore are refused: a user who gives them
// expects them to matter.
void CheckApplicable(const CCliOptions& options, const std::string& commandName)
{
    const bool connection = UsesConnection(options.command);
    const bool update = options.command == CliCommand::Update;
    const bool station = options.command == CliCommand::Station;
    const bool flashes = update || station;
    auto refuse = [&](const char* option) {
        throw CUsageError(Text(IDS_CLI_NOT_FOR_COMMAND, option, commandName));
    };
    if (!connection && options.port)
        refuse("--port");
    if (!connection && options.speedCode)
        refuse("--speed");
    if (!connection && options.timeout)
        refuse("--timeout");
    if (!flashes && options.firmwareFile)
        refuse("--firmware");
    if (!flashes && options.retries)
        refuse("--retry");
    if (!flashes && options.transferSpeedCode)
        refuse("--transfer-speed");
    if (!flashes && options.allPorts)
        refuse("--all");
    if (!update && options.jobs)
        refuse("--jobs");
    if (!flashes && options.logFile)
        refuse("--log");
    if (!flashes && options.skipCurrent)
        refuse("--skip-current");
    if (!station && options.count)
        refuse("--count");
    if (!flashes && !options.tags.empty())
        refuse("--tag");
    const bool printsData = options.command == CliCommand::Ports ||
                            options.command == CliCommand::Search ||
                            options.command == CliCommand::Check ||
                            options.command == CliCommand::Info ||
                            options.command == CliCommand::Modules;
    if (!printsData && options.json)
        refuse("--json");
}

void SetOption(CCliOptions& options, const std::string& name, const std::string& value)
{
    const std::string where = "--" + name;
    if (name == "settings")
        options.settingsFile = NonEmpty(value, where);
    else if (name == "port") {
        // The last one is the port of a command for one scanner; update takes them all.
        options.port = NonEmpty(value, where);
        AddOnce(options.updatePorts, value);
    } else if (name == "jobs") {
        const long long n = ParseCliNumber(value, where);
        if (n < 1 || n > kMaxJobs)
            throw CUsageError(StringPrintf(LoadText(IDS_CLI_RANGE), where.c_str(), 1u, kMaxJobs));
        options.jobs = static_cast<unsigned>(n);
    } else if (name == "log")
        options.logFile = NonEmpty(value, where);
    else if (name == "trace")
        options.traceFile = NonEmpty(value, where);
    else if (name == "speed")
        options.speedCode = CheckedSpeedCode(ParseCliNumber(value, where), where);
    else if (name == "timeout")
        options.timeout = CheckedTimeout(ParseCliNumber(value, where), where);
    else if (name == "firmware")
        options.firmwareFile = NonEmpty(value, where);
    else if (name == "transfer-speed")
        options.transferSpeedCode = CheckedTransferSpeedCode(ParseCliNumber(value, where), where);
    else if (name == "count") {
        const long long n = ParseCliNumber(value, where);
        if (n < 1 || n > kMaxCount)
            throw CUsageError(StringPrintf(LoadText(IDS_CLI_RANGE), where.c_str(), 1u, kMaxCount));
        options.count = static_cast<unsigned>(n);
    } else if (name == "retry") {
        const long long n = ParseCliNumber(value, where);
        if (n > kMaxRetries)
            throw CUsageError(StringPrintf(LoadText(IDS_CLI_AT_MOST), where.c_str(), kMaxRetries));
        options.retries = static_cast<unsigned>(n);
    } else if (name == "tag") {
        const size_t equals = value.find('=');
        if (equals == 0 || equals == std::string::npos)
            throw CUsageError(Text(IDS_CLI_BAD_TAG, where, value));
        options.tags.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else
        throw CUsageError(Text(IDS_CLI_UNKNOWN_OPTION, where));
}

void TakeCommand(CCliOptions& options, const std::vector<std::string>& positional)
{
    if (positional.empty())
        throw CUsageError(LoadText(IDS_CLI_NO_COMMAND));
    const std::string& name = positional[0];
    for (const CommandName& c : kCommands) {
        if (name == c.name)
            options.command = c.command;
    }
    if (options.command == CliCommand::None)
        throw CUsageError(Text(IDS_CLI_UNKNOWN_COMMAND, name));

    const size_t extra = positional.size() - 1;
    auto expect = [&](size_t count, unsigned whatId) {
        if (extra < count)
            throw CUsageError(Text(IDS_CLI_MISSING_ARGUMENT, name, LoadText(whatId)));
        if (extra > count)
            throw CUsageError(Text(IDS_CLI_EXTRA_ARGUMENT, name, positional[count + 1]));
    };
    switch (options.command) {
    case CliCommand::Search:
        for (size_t i = 1; i < positional.size(); ++i)
            AddOnce(options.ports, NonEmpty(positional[i], "search"));
        break;
    case CliCommand::SetSpeed:
        expect(1, IDS_CLI_ARG_SPEED_CODE);
        options.newSpeedCode = CheckedSpeedCode(ParseCliNumber(positional[1], "set-speed"), "set-speed");
        break;
    case CliCommand::Modules:
        expect(1, IDS_CLI_ARG_FIRMWARE_FILE);
        options.modulesFile = NonEmpty(positional[1], "modules");
        break;
    default:
        expect(0, 0);
        break;
    }
    CheckApplicable(options, name);
}

}  // namespace

int CheckedSpeedCode(long long value, const std::string& where)
{
    if (value < 0 || value > kMaxBaudCode)
        throw CUsageError(StringPrintf(LoadText(IDS_CLI_BAD_SPEED_CODE), where.c_str(), value));
    return static_cast<int>(value);
}

int CheckedTransferSpeedCode(long long value, const std::string& where)
{
    if (value < kMinTransferSpeedCode || value > kMaxTransferSpeedCode)
        throw CUsageError(StringPrintf(LoadText(IDS_CLI_BAD_TRANSFER_SPEED), where.c_str(), value));
    return static_cast<int>(value);
}

unsigned CheckedTimeout(long long value, const std::string& where)
{
    if (value < kMinTimeoutMs || value > kMaxTimeoutMs)
        throw CUsageError(StringPrintf(LoadText(IDS_CLI_BAD_TIMEOUT), where.c_str(),
                                       unsigned(kMinTimeoutMs), unsigned(kMaxTimeoutMs), value));
    return static_cast<unsigned>(value);
}

CCliOptions ParseCliOptions(const std::vector<std::string>& args)
{
    CCliOptions options;
    for (const std::string& arg : args) {
        if (arg == "--")
            break;
        if (IsHelp(arg)) {
            options.help = true;
            return options;
        }
        if (arg == "--version") {
            options.version = true;
            return options;
        }
    }

    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            positional.insert(positional.end(), args.begin() + i + 1, args.end());
            break;
        }
        if (arg == "--all") {
            options.allPorts = true;
        } else if (arg == "--skip-current") {
            options.skipCurrent = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos
                                                                                 : equals - 2);
            // An unknown name is unknown wherever it stands, the last argument too.
            if (!TakesValue(name))
                throw CUsageError(Text(IDS_CLI_UNKNOWN_OPTION, "--" + name));
            std::string value;
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
            } else {
                if (i + 1 >= args.size())
                    throw CUsageError(Text(IDS_CLI_OPTION_NEEDS_VALUE, "--" + name));
                value = args[++i];
            }
            SetOption(options, name, value);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw CUsageError(Text(IDS_CLI_UNKNOWN_OPTION, arg));
        } else {
            positional.push_back(arg);
        }
    }
    TakeCommand(options, positional);
    return options;
}

std::string CliUsageHint()
{
    return LoadText(IDS_CLI_USAGE_HINT);
}

std::string CliHelpText()
{
    return LoadText(IDS_CLI_HELP);
}
