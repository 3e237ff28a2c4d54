// A fault soak: N whole updates (firmware update, then the working program) against the
// in-process simulator, each with faults drawn at random from every kind the simulator
// has (a pulled scanner now and then), answering "Продолжить выполнение?" Yes up to twice. Prints one figure a line:
//
//   runs N / ok N / failed N, then "  COUNT MESSAGE" per message / wrong image reported
//   OK N / no message N / longest run S s
//
// and exits 1 when an update was reported OK with an image other than the module's, or
// when a run ended without OK and without a message. A run that hangs ends the program
// (exit 3). Time is virtual: a run that would take a minute on a line takes milliseconds.
// With --transfer-speed CODE (7..9) every update asks for that transfer speed and some
// scanners refuse it, do not take it, or sit behind a line that cannot carry it.
//
//   soak-update --runs 1000 --seed 1 [--transfer-speed 9]
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "engine/operations.h"
#include "engine/run_loop.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/scanner_protocol.h"
#include "sim/sim_port_system.h"
#include "sim/virtual_host.h"
#include "support/catalogue_view.h"

namespace {

constexpr const char* kPort = "COM9";
constexpr uint32_t kImageAddress = 0x40000;
constexpr uint32_t kBlockSize = 256;
constexpr uint32_t kBlocks = 16;
constexpr unsigned kRetries = 2;
// Wall-clock seconds after which a run counts as hung.
constexpr unsigned kHangSeconds = 60;
const char kQuestionSuffix[] = "\r\n\r\nПродолжить выполнение?";

ldr::module MakeModule(std::mt19937& random)
{
    ldr::module m;
    m.kind = ldr::computational;
    m.version = 0x0102;
    m.block_count = kBlocks;
    m.block_size = kBlockSize;
    for (uint32_t b = 0; b < kBlocks; ++b) {
        ldr::block block;
        block.address = kImageAddress + b * kBlockSize;
        for (uint32_t i = 0; i < kBlockSize; ++i)
            block.data.push_back(static_cast<uint8_t>(random()));
        m.blocks.push_back(block);
    }
    return m;
}

const SimFault kTransmissionFaults[] = {
    SimFault::NoiseByte,  SimFault::TwoNoiseBytes, SimFault::BadChecksum,    SimFault::WrongEcho,
    SimFault::Busy,       SimFault::NoReply,       SimFault::LostReply,      SimFault::ShortReply,
    SimFault::LongReply,  SimFault::TruncatedReply,
};
const int kOpcodes[] = {-1, CMD_WRITE_MEMORY, CMD_READ_MEMORY, CMD_GET_INFO,
                        CMD_MODE_REGISTER, CMD_BAUD_RATE, CMD_GET_UNIQUE_ID};

// One scanner with a random set of the simulator's faults.
SimConfig RandomScanner(std::mt19937& random, std::vector<SimFaultRule>& rules,
                        int transferSpeedCode)
{
    auto chance = [&random](unsigned percent) { return random() % 100 < percent; };
    SimConfig config;
    config.randomSeed = random();
    config.speedCode = static_cast<int>(random() % 7);
    config.restartMs = 300 + random() % 3000;
    config.usbCdc = chance(25);
    config.backInOldModeOnce = chance(20);
    if (chance(20))
        config.restartSpeedCode = static_cast<int>(random() % 7);
    if (chance(15)) {
        config.lineRate = true;
        config.turnaroundUs = 1000 + random() % 20000;   // a slow scanner
    }
    if (chance(30))
        config.randomFaultRate = (random() % 50) / 1000.0;
    if (chance(5))
        config.writeAlign = 256;               // refuses the 128-byte chunks past a block start
    if (chance(5))
        config.writeErrorStatus = static_cast<unsigned char>(144 + random() % 4);
    const unsigned ruleCount = random() % 4;
    for (unsigned k = 0; k < ruleCount; ++k) {
        SimFaultRule rule;
        rule.opcode = kOpcodes[random() % (sizeof kOpcodes / sizeof kOpcodes[0])];
        if (chance(15)) {
            rule.fault = SimFault::ErrorStatus;   // a refused command, such as a write
            rule.status = static_cast<unsigned char>(chance(50) ? 147 : 8);
        } else {
            rule.fault = kTransmissionFaults[random() % (sizeof kTransmissionFaults /
                                                         sizeof kTransmissionFaults[0])];
        }
        rule.count = 1 + random() % 4;
        rules.push_back(rule);
    }
    // Now and then the scanner is pulled mid-run: a failure that no retry mends, and
    // that must still end with its message.
    if (chance(3))
        rules.push_back({kOpcodes[random() % (sizeof kOpcodes / sizeof kOpcodes[0])], SimFault::CutLine, 1});
    // Drawn last, so that the runs at 115200 stay the ones they always were.
    if (transferSpeedCode > kTransferSpeedCode) {
        if (chance(15))
            config.maxSpeedCode = static_cast<int>(6 + random() % 3);
        if (chance(15))
            config.highestSpeedTaken = static_cast<int>(6 + random() % 3);
        if (chance(15))
            config.maxLineBaud = chance(50) ? 230400 : 460800;
    }
    return config;
}

struct Outcome {
    bool ok = false;
    bool wrongImageOk = false;
    std::string message;   // the last failure's message; empty when there was none
    double virtualSeconds = 0;
};

// "OK", or "OK" followed by how the transfer fell back.
bool IsOk(const std::string& status)
{
    return status == "OK" || status.rfind("OK. ", 0) == 0;
}

Outcome RunOnce(const ldr::file& firmware, const SimConfig& config,
                const std::vector<SimFaultRule>& rules, int transferSpeedCode)
{
    CVirtualHost host;
    CSimPortSystem ports(host);
    CSimScanner& scanner = ports.AddScanner(kPort, config);
    for (const SimFaultRule& rule : rules)
        scanner.AddFault(rule);
    std::map<uint32_t, std::vector<uint8_t>> expected;
    std::vector<uint8_t> image;
    for (const ldr::block_ref b : firmware.modules[0].blocks) {
        expected[b.address].assign(b.data.begin(), b.data.end());
        image.insert(image.end(), b.data.begin(), b.data.end());
    }
    scanner.SetExpectedImage(expected);

    CCatalogueView view;
    CRunSettings settings;
    settings.portName = kPort;
    settings.baudCode = static_cast<int>(config.speedCode + 1) % 7;   // not the scanner's
    settings.timeout = 300;
    settings.transferSpeedCode = transferSpeedCode;
    host.QueueAnswers(std::initializer_list<bool>{true, true});
    static_assert(kRetries == 2, "the answers above give the retries");
    CRunEngine engine(host, ports, view, settings, "soak");
    engine.Start(&firmware);

    Outcome outcome;
    outcome.virtualSeconds = host.NowUs() / 1e6;
    outcome.ok = true;
    for (const std::string& status : view.status)
        outcome.ok = outcome.ok && IsOk(status);
    const bool imageReportedOk = IsOk(view.status[0]);
    outcome.wrongImageOk =
        imageReportedOk && scanner.Dump(kImageAddress, image.size()) != image;
    if (!host.Boxes().empty()) {
        std::string text = host.Boxes().back().text;
        const size_t suffix = text.find(kQuestionSuffix);
        if (suffix != std::string::npos)
            text.erase(suffix);
        outcome.message = text;
    }
    return outcome;
}

void OnHang(int)
{
    const char text[] = "hang: a run did not end\n";
    (void)!write(STDERR_FILENO, text, sizeof text - 1);
    _exit(3);
}

bool ParseArgs(int argc, char** argv, unsigned& runs, uint32_t& seed, int& transferSpeedCode)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(argv[i + 1], &end, 10);
        if (*end != '\0')
            return false;
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = static_cast<unsigned>(value);
        else if (std::strcmp(argv[i], "--seed") == 0)
            seed = static_cast<uint32_t>(value);
        else if (std::strcmp(argv[i], "--transfer-speed") == 0 && value >= 6 && value <= 9)
            transferSpeedCode = static_cast<int>(value);
        else
            return false;
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv)
{
    unsigned runs = 100;
    uint32_t seed = 1;
    int transferSpeedCode = kTransferSpeedCode;
    if (!ParseArgs(argc, argv, runs, seed, transferSpeedCode)) {
        std::fprintf(stderr, "usage: soak-update [--runs N] [--seed S] [--transfer-speed 6..9]\n");
        return 2;
    }
    std::signal(SIGALRM, OnHang);
    std::mt19937 random(seed);
    ldr::file firmware;
    firmware.signature = ldr::kSignature;
    firmware.version = ldr::kFormatVersion;
    firmware.modules.push_back(MakeModule(random));

    unsigned ok = 0, wrongImageOk = 0, noMessage = 0;
    std::map<std::string, unsigned> failures;
    double longest = 0;
    for (unsigned run = 0; run < runs; ++run) {
        std::vector<SimFaultRule> rules;
        const SimConfig config = RandomScanner(random, rules, transferSpeedCode);
        alarm(kHangSeconds);
        const Outcome outcome = RunOnce(firmware, config, rules, transferSpeedCode);
        alarm(0);
        longest = std::max(longest, outcome.virtualSeconds);
        wrongImageOk += outcome.wrongImageOk;
        if (outcome.ok) {
            ++ok;
        } else if (outcome.message.empty()) {
            ++noMessage;
        } else {
            ++failures[outcome.message];
        }
    }
    unsigned failed = 0;
    for (const auto& f : failures)
        failed += f.second;
    std::printf("runs %u\nok %u\nfailed %u\n", runs, ok, failed);
    for (const auto& f : failures)
        std::printf("  %u %s\n", f.second, f.first.c_str());
    std::printf("wrong image reported OK %u\nno message %u\nlongest run %.1f s\n", wrongImageOk,
                noMessage, longest);
    return (wrongImageOk == 0 && noMessage == 0) ? 0 : 1;
}
