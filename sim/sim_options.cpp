#include "sim/sim_options.h"

#include <cstdio>
#include <cstdlib>

namespace {

// A whole argument as an unsigned number (decimal, or hex with 0x) within [low, high].
bool Number(const std::string& text, uint64_t low, uint64_t high, uint64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return *end == '\0' && value >= low && value <= high;
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts(1);
    for (char c : text) {
        if (c == separator)
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

// OPCODE:KIND[:COUNT[:STATUS]], OPCODE a number or "any".
bool ParseFault(const std::string& text, SimFaultRule& rule)
{
    const std::vector<std::string> parts = Split(text, ':');
    if (parts.size() < 2 || parts.size() > 4)
        return false;
    uint64_t value = 0;
    if (parts[0] == "any")
        rule.opcode = -1;
    else if (Number(parts[0], 0, 255, value))
        rule.opcode = static_cast<int>(value);
    else
        return false;
    rule.fault = SimFaultFromName(parts[1]);
    if (rule.fault == SimFault::None)
        return false;
    rule.count = 1;
    if (parts.size() > 2) {
        if (!Number(parts[2], 1, 0xFFFFFFFFu, value))
            return false;
        rule.count = static_cast<unsigned>(value);
    }
    if (parts.size() > 3) {
        if (!Number(parts[3], 1, 255, value))
            return false;
        rule.status = static_cast<unsigned char>(value);
    }
    return rule.fault != SimFault::ErrorStatus || rule.status != 0;
}

// The arguments of one option, taken from the command line in order.
class CArgs {
public:
    CArgs(const std::vector<std::string>& args, size_t& index) : args(args), index(index) {}

    bool Text(std::string& value)
    {
        if (index + 1 >= args.size())
            return false;
        value = args[++index];
        return true;
    }
    bool Path(std::string& value) { return Text(value) && !value.empty(); }
    template <class T>
    bool Number(uint64_t low, uint64_t high, T& value)
    {
        std::string text;
        uint64_t number = 0;
        if (!Text(text) || !::Number(text, low, high, number))
            return false;
        value = static_cast<T>(number);
        return true;
    }

private:
    const std::vector<std::string>& args;
    size_t& index;
};

using OptionHandler = bool (*)(CArgs& args, SimProgramOptions& out);

struct OptionRule {
    const char* name;
    OptionHandler apply;
};

// KIND[,KIND...]: the kinds the random faults draw from.
bool ParseFaultKinds(CArgs& args, std::vector<SimFault>& kinds)
{
    std::string text;
    if (!args.Text(text))
        return false;
    kinds.clear();
    for (const std::string& name : Split(text, ',')) {
        const SimFault fault = SimFaultFromName(name);
        // A status needs its code, which a random draw has none of.
        if (fault == SimFault::None || fault == SimFault::ErrorStatus)
            return false;
        kinds.push_back(fault);
    }
    return true;
}

bool ParseFaultRate(CArgs& args, double& rate)
{
    std::string text;
    if (!args.Text(text) || text.empty())
        return false;
    char* end = nullptr;
    rate = std::strtod(text.c_str(), &end);
    return *end == '\0' && rate >= 0.0 && rate <= 1.0;
}

const OptionRule kOptions[] = {
    {"--help", [](CArgs&, SimProgramOptions& o) { o.help = true; return true; }},
    {"-h", [](CArgs&, SimProgramOptions& o) { o.help = true; return true; }},
    {"--speed", [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 9, o.config.speedCode); }},
    {"--max-speed",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 9, o.config.maxSpeedCode); }},
    {"--max-line-baud",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(1, 0xFFFFFFFFu, o.config.maxLineBaud); }},
    {"--restart-speed",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 9, o.config.restartSpeedCode); }},
    {"--model", [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 255, o.config.modelCode); }},
    {"--serial",
     [](CArgs& a, SimProgramOptions& o) {
         if (!a.Number(0, 0xFFFFFFFFu, o.config.serialNumber))
             return false;
         // Every unit has an id of its own: the last four bytes follow the serial number.
         for (int k = 0; k < 4; ++k)
             o.config.uniqueId[12 + k] = static_cast<uint8_t>(o.config.serialNumber >> (8 * k));
         return true;
     }},
    {"--app-version",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 0xFFFF, o.config.blackfin.application); }},
    {"--mode", [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 1, o.config.startMode); }},
    {"--restart-ms",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 600000, o.config.restartMs); }},
    {"--turnaround-us",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 10000000, o.config.turnaroundUs); }},
    {"--write-align",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(1, 65536, o.config.writeAlign); }},
    {"--write-error",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(1, 255, o.config.writeErrorStatus); }},
    {"--flash",
     [](CArgs& a, SimProgramOptions& o) {
         SimConfig& c = o.config;
         return a.Number(0, 0xFFFFFFFFu, c.flashBase) &&
                a.Number(1, 0x100000000ull - c.flashBase, c.flashSize);
     }},
    {"--no-speed-command", [](CArgs&, SimProgramOptions& o) { o.config.speedCommand = false; return true; }},
    {"--old-mode-once", [](CArgs&, SimProgramOptions& o) { o.config.backInOldModeOnce = true; return true; }},
    {"--never-loader", [](CArgs&, SimProgramOptions& o) { o.config.neverEntersLoader = true; return true; }},
    {"--usb", [](CArgs&, SimProgramOptions& o) { o.config.usbCdc = true; return true; }},
    {"--line-rate", [](CArgs&, SimProgramOptions& o) { o.config.lineRate = true; return true; }},
    {"--fault",
     [](CArgs& a, SimProgramOptions& o) {
         std::string text;
         SimFaultRule rule;
         if (!a.Text(text) || !ParseFault(text, rule))
             return false;
         o.faults.push_back(rule);
         return true;
     }},
    {"--fault-rate",
     [](CArgs& a, SimProgramOptions& o) { return ParseFaultRate(a, o.config.randomFaultRate); }},
    {"--fault-kinds",
     [](CArgs& a, SimProgramOptions& o) { return ParseFaultKinds(a, o.config.randomFaultKinds); }},
    {"--seed",
     [](CArgs& a, SimProgramOptions& o) { return a.Number(0, 0xFFFFFFFFu, o.config.randomSeed); }},
    {"--link", [](CArgs& a, SimProgramOptions& o) { return a.Path(o.linkPath); }},
    {"--tty", [](CArgs& a, SimProgramOptions& o) { return a.Path(o.ttyPath); }},
    {"--gadget",
     [](CArgs& a, SimProgramOptions& o) {
         o.config.usbCdc = true;
         return a.Path(o.gadgetPath);
     }},
    {"--state", [](CArgs& a, SimProgramOptions& o) { return a.Path(o.statePath); }},
    {"--expect-ldr", [](CArgs& a, SimProgramOptions& o) { return a.Path(o.expectLdrPath); }},
    {"--dump",
     [](CArgs& a, SimProgramOptions& o) {
         return a.Path(o.dumpPath) && a.Number(0, 0xFFFFFFFFu, o.dumpAddress) &&
                a.Number(1, 0x1000000, o.dumpSize);
     }},
};

}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, SimProgramOptions& out,
                     std::string& error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : kOptions) {
            if (option == candidate.name)
                rule = &candidate;
        }
        if (rule == nullptr) {
            error = "unknown option " + option;
            return false;
        }
        CArgs values(args, i);
        if (!rule->apply(values, out)) {
            error = "bad or missing value for " + option;
            return false;
        }
    }
    if (!out.gadgetPath.empty() && out.ttyPath.empty()) {
        error = "--gadget needs --tty";
        return false;
    }
    return true;
}

const char* SimUsageText()
{
    return "usage: trelvo-sim [options]\n"
           "Simulates a scanner on a pseudo-terminal; prints the slave path, serves until\n"
           "SIGTERM or SIGINT.\n"
           "  --link PATH          symlink to the slave (removed on exit)\n"
           "  --speed CODE         scanner speed code 0..9 (default 2, 9600)\n"
           "  --model CODE         model code (default 150)\n"
           "  --serial N           factory serial number (the unique id ends in it, LE32)\n"
           "  --app-version WORD   version word of the Blackfin's working program\n"
           "                       (major * 256 + minor; default 0x0306, 3.6)\n"
           "  --mode 0|1           start in the application (0) or the loader (1)\n"
           "  --no-speed-command   the speed command answers 8\n"
           "  --max-speed CODE     the loader refuses faster speed codes with status 4\n"
           "  --max-line-baud BAUD the line garbles every byte sent faster than BAUD, both\n"
           "                       ways (an adapter that cannot carry the speed)\n"
           "  --restart-ms N       silence after a mode switch (default 1500)\n"
           "  --old-mode-once      the first restart comes back in the old mode\n"
           "  --restart-speed CODE comes back from restarts at this speed\n"
           "  --never-loader       bit 3.7 never set in the loader\n"
           "  --usb                USB CDC: the pty vanishes while the scanner restarts\n"
           "  --tty PATH           serve this existing terminal instead of a pty\n"
           "  --gadget DIR         with --tty: its USB gadget, unbound and bound again for\n"
           "                       each restart (implies --usb)\n"
           "  --fault OP:KIND[:COUNT[:STATUS]]  OP a number or 'any'; KIND noise, noise2,\n"
           "                       checksum, echo, busy, noreply, lost, short, long, status,\n"
           "                       truncated (the reply stops halfway), cut (then the port\n"
           "                       is gone for good)\n"
           "                       OP: 156 write-memory, 157 read-memory, 158 get-info,\n"
           "                       159 mode-register, 161 baud-rate, 162 unique-id\n"
           "  --fault-rate P --seed N  random faults with probability P per reply\n"
           "  --fault-kinds K,K... the kinds they draw from (default the recoverable ones:\n"
           "                       noise,noise2,checksum,echo,truncated,busy,noreply,lost)\n"
           "  --line-rate          bytes take their wire time; --turnaround-us N per reply\n"
           "  --flash BASE SIZE    writable memory; --write-align N; --write-error STATUS\n"
           "  --expect-ldr FILE    checksum verdict against the file's computational module\n"
           "  --state FILE         state summary, rewritten as the scanner changes, with how\n"
           "                       late emulated bytes went out (late_avg_us, late_max_us)\n"
           "  --dump FILE ADDR SIZE  raw memory dump, rewritten with the state\n";
}

std::string SimStateText(const CSimScanner& scanner, uint64_t nowUs)
{
    const int mode = scanner.Mode(nowUs);
    const auto reg = scanner.ModeRegister();
    char line[128];
    std::string text;
    text += mode < 0 ? "mode restarting\n" : mode == 1 ? "mode loader\n" : "mode application\n";
    std::snprintf(line, sizeof line,
                  "speed %d\nbaud %u\nrestarts %u\ncommands %u\nfaults %u\nwrite_faults %u\n",
                  scanner.SpeedCode(), scanner.Baud(), scanner.Restarts(),
                  scanner.CommandsReceived(), scanner.Faults(), scanner.WriteFaults());
    text += line;
    std::snprintf(line, sizeof line, "register %02X %02X %02X %02X\nverdict %d\n", reg[0], reg[1],
                  reg[2], reg[3], scanner.ChecksumVerdict() ? 1 : 0);
    text += line;
    text += !scanner.HasExpectedImage() ? "image none\n"
            : scanner.ChecksumVerdict() ? "image match\n"
                                        : "image differs\n";
    std::snprintf(line, sizeof line, "memory_bytes %llu\nsession_bytes %llu\n",
                  static_cast<unsigned long long>(scanner.Memory().WrittenBytes()),
                  static_cast<unsigned long long>(scanner.Session().WrittenBytes()));
    text += line;
    for (const CSimMemory::Range& r : scanner.Memory().Ranges()) {
        const std::vector<uint8_t> bytes = scanner.Memory().Read(r.address, r.size);
        std::snprintf(line, sizeof line, "range 0x%08X %u %08X\n", r.address, r.size,
                      SimCrc32(bytes.data(), bytes.size()));
        text += line;
    }
    return text;
}
