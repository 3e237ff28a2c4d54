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

}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, SimProgramOptions& out,
                     std::string& error)
{
    SimConfig& c = out.config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        // The value of the option, consumed from the next argument.
        auto next = [&](std::string& value) {
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };
        auto number = [&](uint64_t low, uint64_t high, uint64_t& value) {
            std::string text;
            return next(text) && Number(text, low, high, value);
        };
        uint64_t v = 0;
        std::string text;
        bool ok = true;
        if (option == "--help" || option == "-h")
            out.help = true;
        else if (option == "--speed" || option == "--restart-speed") {
            ok = number(0, 9, v);
            (option == "--speed" ? c.speedCode : c.restartSpeedCode) = static_cast<int>(v);
        } else if (option == "--model") {
            ok = number(0, 255, v);
            c.modelCode = static_cast<uint8_t>(v);
        } else if (option == "--serial") {
            ok = number(0, 0xFFFFFFFFu, v);
            c.serialNumber = static_cast<uint32_t>(v);
        } else if (option == "--mode") {
            ok = number(0, 1, v);
            c.startMode = static_cast<int>(v);
        } else if (option == "--restart-ms") {
            ok = number(0, 600000, v);
            c.restartMs = static_cast<uint32_t>(v);
        } else if (option == "--turnaround-us") {
            ok = number(0, 10000000, v);
            c.turnaroundUs = static_cast<uint32_t>(v);
        } else if (option == "--write-align") {
            ok = number(1, 65536, v);
            c.writeAlign = static_cast<uint32_t>(v);
        } else if (option == "--write-error") {
            ok = number(1, 255, v);
            c.writeErrorStatus = static_cast<unsigned char>(v);
        } else if (option == "--flash") {
            uint64_t size = 0;
            ok = number(0, 0xFFFFFFFFu, v) && number(1, 0x100000000ull - v, size);
            c.flashBase = static_cast<uint32_t>(v);
            c.flashSize = static_cast<uint32_t>(size);
        } else if (option == "--no-speed-command")
            c.speedCommand = false;
        else if (option == "--old-mode-once")
            c.backInOldModeOnce = true;
        else if (option == "--never-loader")
            c.neverEntersLoader = true;
        else if (option == "--usb")
            c.usbCdc = true;
        else if (option == "--line-rate")
            c.lineRate = true;
        else if (option == "--fault") {
            SimFaultRule rule;
            ok = next(text) && ParseFault(text, rule);
            out.faults.push_back(rule);
        } else if (option == "--fault-rate") {
            char* end = nullptr;
            ok = next(text) && !text.empty();
            const double rate = ok ? std::strtod(text.c_str(), &end) : 0.0;
            ok = ok && *end == '\0' && rate >= 0.0 && rate <= 1.0;
            c.randomFaultRate = rate;
        } else if (option == "--seed") {
            ok = number(0, 0xFFFFFFFFu, v);
            c.randomSeed = static_cast<uint32_t>(v);
        } else if (option == "--link")
            ok = next(out.linkPath) && !out.linkPath.empty();
        else if (option == "--state")
            ok = next(out.statePath) && !out.statePath.empty();
        else if (option == "--expect-ldr")
            ok = next(out.expectLdrPath) && !out.expectLdrPath.empty();
        else if (option == "--dump") {
            uint64_t size = 0;
            ok = next(out.dumpPath) && !out.dumpPath.empty() && number(0, 0xFFFFFFFFu, v) &&
                 number(1, 0x1000000, size);
            out.dumpAddress = static_cast<uint32_t>(v);
            out.dumpSize = static_cast<uint32_t>(size);
        } else {
            error = "unknown option " + option;
            return false;
        }
        if (!ok) {
            error = "bad or missing value for " + option;
            return false;
        }
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
           "  --serial N           factory serial number\n"
           "  --mode 0|1           start in the application (0) or the loader (1)\n"
           "  --no-speed-command   the speed command answers 8\n"
           "  --restart-ms N       silence after a mode switch (default 1500)\n"
           "  --old-mode-once      the first restart comes back in the old mode\n"
           "  --restart-speed CODE comes back from restarts at this speed\n"
           "  --never-loader       bit 3.7 never set in the loader\n"
           "  --usb                USB CDC: the pty vanishes while the scanner restarts\n"
           "  --fault OP:KIND[:COUNT[:STATUS]]  OP a number or 'any'; KIND noise, noise2,\n"
           "                       checksum, echo, busy, noreply, lost, short, long, status\n"
           "  --fault-rate P --seed N  random recoverable faults with probability P\n"
           "  --line-rate          bytes take their wire time; --turnaround-us N per reply\n"
           "  --flash BASE SIZE    writable memory; --write-align N; --write-error STATUS\n"
           "  --expect-ldr FILE    checksum verdict against the file's computational module\n"
           "  --state FILE         state summary, rewritten as the scanner changes\n"
           "  --dump FILE ADDR SIZE  raw memory dump, rewritten with the state\n";
}

std::string SimStateText(const CSimScanner& scanner, uint64_t nowUs)
{
    const int mode = scanner.Mode(nowUs);
    const auto reg = scanner.ModeRegister();
    char line[128];
    std::string text;
    text += mode < 0 ? "mode restarting\n" : mode == 1 ? "mode loader\n" : "mode application\n";
    std::snprintf(line, sizeof line, "speed %d\nbaud %u\nrestarts %u\ncommands %u\n",
                  scanner.SpeedCode(), scanner.Baud(), scanner.Restarts(),
                  scanner.CommandsReceived());
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
