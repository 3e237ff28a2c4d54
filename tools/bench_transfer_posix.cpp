// bench-transfer: how fast a module reaches scanners, against trelvo-sim on
// pseudo-terminals, side by side with the least a host can do.
//
//   bench-transfer PATH-TO-TRELVO-SIM [KIB] [--ports N] [--speed CODE] [--rounds N]
//
// With line-rate emulation (at speed CODE, 6..9: 115200 by default, 921600 for 9; 1 ms
// turnaround per command) the module is flashed alternately through the program's real
// path (the multi-port run: the whole update on each of N ports at once, the scanner
// found at 115200 and the transfer asked for at CODE) and by a reference client (the
// write requests
// precomputed, each sent with one write and its 5-byte reply read with one blocking
// read, on N ports at once, the scanner at CODE from the start), three times each (or N
// with --rounds). Both sides are timed over the same span
// on each port: from the first write request handed to the port to the end of the read
// of the last write reply (the program's port is wrapped to see it). Printed: the median
// aggregate rate of each, the program's rate against the reference (the headline),
// against N times the limit of the wire and the turnaround, the program's CPU time per
// port, how late the simulators' emulated bytes went out and the load average (the
// machine's noise).
// Without line-rate emulation, on one port: the time per write command of the program's
// block writer next to the reference client's (medians of three each, alternated), the
// program's own cost per command.
//
//   bench-transfer PATH-TO-TRELVO-SIM [KIB] --fault-table [--rounds N]
//
// instead measures the program's path on one port with line-rate emulation while the
// simulator's random faults hit 0, 0.5, 1 and 2 % of its replies, at reply time-outs of
// 1000 and 3000 ms: the kinds that leave evidence on the line (noise, two noise bytes, a
// bad checksum, a wrong echo, a truncated reply) apart from the replies that never come
// (a lost request, a lost reply). Per cell: bytes/s (median of N rounds), the share of
// the clean rate at that time-out, the faults the simulator drew on write commands (the
// transfer's) and what each cost.
#include <fcntl.h>
#include <termios.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/host.h"
#include "engine/multi_port.h"
#include "engine/operations.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"
#include "transport/port_system.h"

extern char** environ;

namespace {

constexpr int kFoundSpeedCode = 6;   // where the program's run finds the scanner
constexpr unsigned kTurnaroundUs = 1000;
constexpr unsigned kBlockSize = 4096;
constexpr unsigned kBitsPerByte = 10;           // start, 8 data, stop
constexpr unsigned kAddressBytes = 4;
constexpr unsigned kWriteRequestBytes = 3 + 1 + kAddressBytes + kMemoryChunk;   // frame + opcode + address + data
constexpr unsigned kWriteReplyBytes = 3 + 2;    // frame + echo + status
constexpr unsigned kRounds = 3;   // side by side, unless --rounds says otherwise

class Simulator {
public:
    Simulator(const std::string& program, const std::string& link, bool lineRate, int mode,
              int speedCode, const std::vector<std::string>& extra = {})
        : link(link), state(link + ".state")
    {
        std::vector<std::string> args = {program, "--link", link, "--speed", std::to_string(speedCode),
                                         "--mode", std::to_string(mode), "--restart-ms", "200",
                                         "--state", state};
        if (lineRate) {
            args.push_back("--line-rate");
            args.push_back("--turnaround-us");
            args.push_back(std::to_string(kTurnaroundUs));
        }
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            std::perror("trelvo-sim");
            std::exit(1);
        }
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 100 && access(link.c_str(), F_OK) != 0; ++i)
            usleep(20000);
    }
    // Ends the simulator; its state file then holds its timing error.
    void Stop()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        pid = 0;
    }
    ~Simulator()
    {
        Stop();
        std::remove(state.c_str());
    }
    // A figure of the state file: "late_avg_us", "late_max_us", "write_faults".
    uint64_t Late(const char* key) const
    {
        std::ifstream in(state);
        std::string name;
        uint64_t value = 0;
        while (in >> name) {
            if (name == key && in >> value)
                return value;
        }
        return 0;
    }

    const std::string link;

private:
    std::string state;
    pid_t pid = 0;
};

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ldr::module MakeModule(unsigned kib)
{
    ldr::module m;
    m.kind = ldr::computational;
    m.block_size = kBlockSize;
    m.block_count = kib * 1024 / kBlockSize;
    uint32_t state = 12345;
    for (uint32_t b = 0; b < m.block_count; ++b) {
        ldr::block block;
        block.address = 0x100000 + b * kBlockSize;
        block.data.resize(kBlockSize);
        for (uint8_t& byte : block.data) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<uint8_t>(state >> 16);
        }
        m.blocks.push_back(std::move(block));
    }
    return m;
}

// The module's write requests as they go on the wire, one per chunk.
std::vector<std::vector<uint8_t>> WriteRequests(const ldr::module& module)
{
    std::vector<std::vector<uint8_t>> requests;
    for (const ldr::block_ref block : module.blocks) {
        for (size_t done = 0; done < block.data.size(); done += kMemoryChunk) {
            const size_t n = std::min<size_t>(kMemoryChunk, block.data.size() - done);
            const uint32_t address = block.address + uint32_t(done);
            std::vector<uint8_t> payload = {CMD_WRITE_MEMORY};
            for (unsigned i = 0; i < kAddressBytes; ++i)
                payload.push_back(static_cast<uint8_t>(address >> (8 * i)));
            payload.insert(payload.end(), block.data.data() + done, block.data.data() + done + n);
            std::vector<uint8_t> frame = {0x02, static_cast<uint8_t>(payload.size())};
            uint8_t checksum = static_cast<uint8_t>(payload.size());
            for (uint8_t b : payload) {
                frame.push_back(b);
                checksum ^= b;
            }
            frame.push_back(checksum);
            requests.push_back(std::move(frame));
        }
    }
    return requests;
}

struct Measure {
    double rate = 0;         // aggregate bytes/s
    double cpuPerPort = 0;   // CPU seconds per second of the run, per port
    uint64_t lateAvgUs = 0;
    uint64_t lateMaxUs = 0;
    uint64_t faults = 0;     // write replies the simulators' faults hit
    unsigned retriedRows = 0;
    double updateSeconds = 0;   // the longest whole update of a port (the program's)
};

std::vector<std::unique_ptr<Simulator>> StartSims(const std::string& program, unsigned ports,
                                                  bool lineRate, int mode, int speedCode,
                                                  const std::vector<std::string>& extra = {})
{
    std::vector<std::unique_ptr<Simulator>> sims;
    for (unsigned k = 0; k < ports; ++k) {
        const std::string link = "/tmp/trelvo-bench-" + std::to_string(getpid()) + "-" + std::to_string(k);
        sims.push_back(std::make_unique<Simulator>(program, link, lineRate, mode, speedCode, extra));
    }
    return sims;
}

void StopSims(std::vector<std::unique_ptr<Simulator>>& sims, Measure& m)
{
    uint64_t total = 0;
    for (auto& sim : sims) {
        sim->Stop();
        total += sim->Late("late_avg_us");
        m.lateMaxUs = std::max(m.lateMaxUs, sim->Late("late_max_us"));
        m.faults += sim->Late("write_faults");
    }
    m.lateAvgUs = sims.empty() ? 0 : total / sims.size();
}

// The span of a port's transfer as the program's port sees it: from the first write
// request handed to the port to the end of the last read while write requests go out.
struct TransferSpan {
    double first = 0;
    double last = 0;
    bool writing = false;
    double Seconds() const { return last - first; }
};

bool IsWriteRequest(const void* data, unsigned size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    return size > 2 && bytes[0] == 0x02 && bytes[2] == CMD_WRITE_MEMORY;
}

class TimedPort : public CPortHandle {
public:
    TimedPort(std::unique_ptr<CPortHandle> port, TransferSpan& span) : port(std::move(port)), span(span) {}
    uint32_t SetState(const CPortState& s) override { return port->SetState(s); }
    uint32_t GetState(CPortState& s) override { return port->GetState(s); }
    uint32_t SetupQueues(uint32_t in, uint32_t out) override { return port->SetupQueues(in, out); }
    uint32_t SetTimeouts(const CPortTimeouts& t) override { return port->SetTimeouts(t); }
    uint32_t GetTimeouts(CPortTimeouts& t) override { return port->GetTimeouts(t); }
    uint32_t Purge(unsigned flags) override { return port->Purge(flags); }
    uint32_t ClearErrors() override { return port->ClearErrors(); }
    uint32_t Write(const void* data, unsigned size, unsigned* done) override
    {
        span.writing = IsWriteRequest(data, size);
        if (span.writing && span.first == 0)
            span.first = Now();
        return port->Write(data, size, done);
    }
    uint32_t Read(void* buffer, unsigned size, unsigned* done) override
    {
        const uint32_t error = port->Read(buffer, size, done);
        if (span.writing && *done > 0)
            span.last = Now();
        return error;
    }

private:
    std::unique_ptr<CPortHandle> port;
    TransferSpan& span;
};

class TimedPortSystem : public CPortSystem, public CPortEnvironment {
public:
    explicit TimedPortSystem(TransferSpan& span) : span(span) {}
    uint32_t OpenPort(const std::string& name, std::unique_ptr<CPortHandle>& handle) override
    {
        std::unique_ptr<CPortHandle> port;
        const uint32_t error = NativePortSystem().OpenPort(name, port);
        if (port)
            handle = std::make_unique<TimedPort>(std::move(port), span);
        return error;
    }
    std::vector<std::string> EnumerateSerialPorts() override { return NativePortSystem().EnumerateSerialPorts(); }
    bool SerialPortExists(const std::string& name) override { return NativePortSystem().SerialPortExists(name); }
    bool IsCurrentPortUsb(const std::string& name, const std::string& vid, const std::string& pid,
                          std::string& hardwareId) override
    {
        return NativePortSystem().IsCurrentPortUsb(name, vid, pid, hardwareId);
    }
    CDeviceNotifier& Notifier() override { return NativePortSystem().Notifier(); }
    CRunHost& Host() override { return PlatformHost(); }
    CPortSystem& Ports() override { return *this; }

private:
    TransferSpan& span;
};

// The program's real path: the multi-port run of the whole update on every port, each
// port's transfer timed on its port.
// With simulator options (faults), a reply time-out and retries of a failed row.
struct CRunOptions {
    std::vector<std::string> simulator;
    unsigned timeoutMs = 3000;
    unsigned retries = 0;
    int transferSpeedCode = kFoundSpeedCode;
};

Measure ProgramRun(const std::string& program, const ldr::file& firmware, unsigned ports,
                   const CRunOptions& options = {})
{
    const ldr::module& module = firmware.modules[0];
    const double bytes = double(module.block_count) * module.block_size;
    auto sims = StartSims(program, ports, true, MODE_LOADER, kFoundSpeedCode, options.simulator);
    CMultiRunSettings settings;
    settings.timeout = options.timeoutMs;
    settings.retries = options.retries;
    settings.transferSpeedCode = options.transferSpeedCode;
    std::vector<TransferSpan> spans(ports);
    std::vector<std::string> names;
    for (auto& sim : sims) {
        settings.ports.push_back({sim->link, kFoundSpeedCode});
        names.push_back(sim->link);
    }
    settings.firmwareFile = "bench.ldr";
    auto environment = [&](const std::string& port) -> std::unique_ptr<CPortEnvironment> {
        const size_t k = size_t(std::find(names.begin(), names.end(), port) - names.begin());
        return std::make_unique<TimedPortSystem>(spans.at(k));
    };
    CMultiPortRun run(firmware, settings, environment, nullptr);
    const double start = Now();
    const double cpuStart = CpuSeconds();
    run.Start();
    run.Wait();
    const double cpu = CpuSeconds() - cpuStart;
    const double seconds = Now() - start;
    Measure m;
    for (const CPortRunResult& result : run.Results()) {
        if (!result.Succeeded()) {
            std::fprintf(stderr, "bench-transfer: %s: %s\n", result.port.c_str(), result.failure.c_str());
            std::exit(1);
        }
        // A row run again was measured from the first attempt's first write.
        if (!result.failure.empty())
            ++m.retriedRows;
        m.updateSeconds = std::max(m.updateSeconds, result.durationMs / 1000.0);
        if (result.transferBaud != BaudFromCode(options.transferSpeedCode)) {
            std::fprintf(stderr, "bench-transfer: %s: the transfer went at %u baud\n",
                         result.port.c_str(), result.transferBaud);
            std::exit(1);
        }
    }
    for (const TransferSpan& span : spans)
        m.rate += bytes / span.Seconds();
    m.cpuPerPort = cpu / seconds / ports;
    StopSims(sims, m);
    return m;
}

// One write request and its reply, the least a host can do: one write, one blocking read.
void Exchange(int fd, const std::vector<uint8_t>& request)
{
    if (write(fd, request.data(), request.size()) != ssize_t(request.size())) {
        std::perror("bench-transfer: reference write");
        std::exit(1);
    }
    uint8_t reply[kWriteReplyBytes];
    size_t got = 0;
    while (got < sizeof reply) {
        const ssize_t n = read(fd, reply + got, sizeof reply - got);
        if (n <= 0) {
            std::perror("bench-transfer: reference read");
            std::exit(1);
        }
        got += size_t(n);
    }
    if (reply[3] != 0) {
        std::fprintf(stderr, "bench-transfer: reference write refused (%u)\n", reply[3]);
        std::exit(1);
    }
}

// One reference client, the least a host can do: the port in raw mode at the line speed,
// one write per request, one blocking read per 5-byte reply; timed like the program, from
// the first write to the end of the last reply's read.
// The terminal's name of a speed code's baud rate.
speed_t TerminalSpeed(int code)
{
    static const speed_t speeds[] = {B2400,   B4800,   B9600,   B19200,  B38400,
                                     B57600,  B115200, B230400, B460800, B921600};
    return speeds[code];
}

double ReferenceClient(const std::string& link, const std::vector<std::vector<uint8_t>>& requests,
                       size_t bytes, int speedCode)
{
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) {
        std::perror("bench-transfer: reference port");
        std::exit(1);
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, TerminalSpeed(speedCode));
    cfsetospeed(&tio, TerminalSpeed(speedCode));
    tio.c_cc[VMIN] = kWriteReplyBytes;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
    // One exchange before the clock starts: the program's line has carried its probe and
    // mode commands before its first write request, so the simulator is warm on both sides.
    Exchange(fd, requests.front());
    const double start = Now();
    for (const std::vector<uint8_t>& request : requests)
        Exchange(fd, request);
    const double seconds = Now() - start;
    close(fd);
    return double(bytes) / seconds;
}

Measure ReferenceRun(const std::string& program, const ldr::module& module, unsigned ports,
                     bool lineRate, int speedCode)
{
    const auto requests = WriteRequests(module);
    const size_t bytes = size_t(module.block_count) * module.block_size;
    auto sims = StartSims(program, ports, lineRate, MODE_LOADER, speedCode);
    std::vector<double> rates(ports);
    std::vector<std::thread> clients;
    const double start = Now();
    const double cpuStart = CpuSeconds();
    for (unsigned k = 0; k < ports; ++k) {
        clients.emplace_back([&, k] {
            rates[k] = ReferenceClient(sims[k]->link, requests, bytes, speedCode);
        });
    }
    for (std::thread& client : clients)
        client.join();
    Measure m;
    m.cpuPerPort = (CpuSeconds() - cpuStart) / (Now() - start) / ports;
    for (double rate : rates)
        m.rate += rate;
    StopSims(sims, m);
    return m;
}

// The program's block writer alone on one port, without line-rate emulation: seconds.
double ProgramWriterSeconds(const std::string& program, const ldr::module& module, int speedCode)
{
    auto sims = StartSims(program, 1, false, MODE_LOADER, speedCode);
    CComDevice device(NativePortSystem(), PlatformHost());
    OpenComPort(device, sims[0]->link, BaudFromCode(speedCode), 3000);
    CScannerProtocol protocol(PlatformHost());
    protocol.SetDevice(&device);
    CMessageInterface quiet;
    const double start = Now();
    WriteModuleBlocks(protocol, module, quiet);
    return Now() - start;
}

// The system's load average over the last minute, as /proc/loadavg gives it.
std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string value;
    in >> value;
    return value.empty() ? "?" : value;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The fault-rate table: one port, line-rate emulation, random faults on a share of the
// replies, each cell the median of its rounds (each round its own seed).
int FaultTable(const std::string& sim, const ldr::file& firmware, unsigned rounds, int speedCode)
{
    const ldr::module& module = firmware.modules[0];
    const double bytes = double(module.block_count) * module.block_size;
    struct Kinds {
        const char* name;
        const char* list;
    };
    const Kinds kinds[] = {{"evidence", "noise,noise2,checksum,echo,truncated"},
                           {"never comes", "noreply,lost"}};
    const double rates[] = {0.005, 0.01, 0.02};
    const std::string loadBefore = LoadAverage();
    std::printf("module %.0f KiB, %u baud, %u us turnaround, one port, median of %u round(s)\n",
                bytes / 1024, BaudFromCode(speedCode), kTurnaroundUs, rounds);
    std::printf("%-8s %-12s %-6s %10s %7s %7s %14s %9s\n", "timeout", "faults", "rate", "bytes/s",
                "share", "drawn", "cost per fault", "sims late");
    auto cell = [&](unsigned timeout, const std::vector<std::string>& options, Measure& median) {
        std::vector<double> runRates;
        for (unsigned round = 0; round < rounds; ++round) {
            std::vector<std::string> args = options;
            if (!args.empty())
                args.insert(args.end(), {"--seed", std::to_string(round + 1)});
            const Measure m = ProgramRun(sim, firmware, 1, {args, timeout, 2, speedCode});
            runRates.push_back(m.rate);
            median.faults += m.faults;
            median.retriedRows += m.retriedRows;
            median.lateAvgUs = std::max(median.lateAvgUs, m.lateAvgUs);
        }
        median.rate = Median(runRates);
        median.faults /= rounds;
    };
    for (unsigned timeout : {1000u, 3000u}) {
        Measure clean;
        cell(timeout, {}, clean);
        std::printf("%-8u %-12s %-6s %10.0f %6.1f%% %7s %14s %6llu us\n", timeout, "none", "0", clean.rate,
                    100.0, "0", "-", static_cast<unsigned long long>(clean.lateAvgUs));
        std::fflush(stdout);
        for (const Kinds& k : kinds) {
            for (double rate : rates) {
                char rateText[16];
                std::snprintf(rateText, sizeof rateText, "%g", rate);
                Measure m;
                cell(timeout, {"--fault-rate", rateText, "--fault-kinds", k.list}, m);
                const double extra = bytes / m.rate - bytes / clean.rate;
                char cost[32] = "-";
                if (m.faults > 0)
                    std::snprintf(cost, sizeof cost, "%.1f ms", 1000 * extra / double(m.faults));
                std::printf("%-8u %-12s %-6s %10.0f %6.1f%% %7llu %14s %6llu us%s\n", timeout, k.name,
                            rateText, m.rate,
                            100.0 * m.rate / clean.rate, static_cast<unsigned long long>(m.faults), cost,
                            static_cast<unsigned long long>(m.lateAvgUs),
                            m.retriedRows ? " (a row ran again)" : "");
                std::fflush(stdout);
            }
        }
    }
    std::printf("load average (1 min) %s before, %s after\n", loadBefore.c_str(), LoadAverage().c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    unsigned ports = 1;
    unsigned rounds = 0;   // 0: 1 for the fault table, kRounds side by side
    unsigned speedCode = kFoundSpeedCode;
    bool faultTable = false;
    for (size_t i = 0; i < args.size();) {
        if ((args[i] == "--ports" || args[i] == "--rounds" || args[i] == "--speed") &&
            i + 1 < args.size()) {
            const unsigned value = unsigned(std::atoi(args[i + 1].c_str()));
            (args[i] == "--ports" ? ports : args[i] == "--rounds" ? rounds : speedCode) = value;
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        } else if (args[i] == "--fault-table") {
            faultTable = true;
            args.erase(args.begin() + long(i));
        } else {
            ++i;
        }
    }
    if (args.empty() || ports == 0 || speedCode < 6 || speedCode > 9) {
        std::fprintf(stderr, "usage: bench-transfer PATH-TO-TRELVO-SIM [KIB] [--ports N] [--speed 6..9] [--rounds N]\n"
                             "       bench-transfer PATH-TO-TRELVO-SIM [KIB] --fault-table [--rounds N] "
                             "[--speed 6..9]\n");
        return 2;
    }
    const std::string sim = args[0];
    const unsigned kib = args.size() > 1 ? unsigned(std::atoi(args[1].c_str())) : 256;
    ldr::file firmware;
    firmware.signature = ldr::kSignature;
    firmware.version = ldr::kFormatVersion;
    firmware.modules.push_back(MakeModule(kib));
    if (faultTable) {
        try {
            return FaultTable(sim, firmware, rounds ? rounds : 1, int(speedCode));
        } catch (...) {
            std::fprintf(stderr, "bench-transfer: %s\n", CurrentExceptionMessage().c_str());
            return 1;
        }
    }
    const ldr::module& module = firmware.modules[0];
    const double bytes = double(module.block_count) * module.block_size;
    const double commands = bytes / kMemoryChunk;

    const unsigned sideRounds = rounds ? rounds : kRounds;
    const std::string loadBefore = LoadAverage();
    try {
        std::vector<double> programRates, referenceRates, cpu, updates;
        uint64_t lateAvg = 0, lateMax = 0;
        for (unsigned round = 0; round < sideRounds; ++round) {
            const Measure a = ProgramRun(sim, firmware, ports, {{}, 3000, 0, int(speedCode)});
            const Measure b = ReferenceRun(sim, module, ports, true, int(speedCode));
            programRates.push_back(a.rate);
            referenceRates.push_back(b.rate);
            cpu.push_back(a.cpuPerPort);
            updates.push_back(a.updateSeconds);
            lateAvg += a.lateAvgUs + b.lateAvgUs;
            lateMax = std::max({lateMax, a.lateMaxUs, b.lateMaxUs});
            std::printf("round %u                        program %.0f bytes/s, reference %.0f bytes/s (%.1f %%), "
                        "sims late %llu us on average\n",
                        round + 1, a.rate, b.rate, 100.0 * a.rate / b.rate,
                        static_cast<unsigned long long>((a.lateAvgUs + b.lateAvgUs) / 2));
            std::fflush(stdout);
        }
        const unsigned baud = BaudFromCode(int(speedCode));
        const double chunkSeconds =
            double(kWriteRequestBytes + kWriteReplyBytes) * kBitsPerByte / baud + kTurnaroundUs / 1e6;
        const double limit = ports * kMemoryChunk / chunkSeconds;
        const double program = Median(programRates);
        const double reference = Median(referenceRates);
        std::printf("module                         %u KiB in %u-byte chunks (%.0f write commands) on %u port(s)\n",
                    kib, kMemoryChunk, commands, ports);
        std::printf("line-rate emulation            %u baud, %u us turnaround\n", baud, kTurnaroundUs);
        std::printf("program (median of %u)          %.0f bytes/s\n", sideRounds, program);
        std::printf("reference client (median)      %.0f bytes/s\n", reference);
        std::printf("ratio to reference             %.1f %%\n", 100.0 * program / reference);
        std::printf("program transfer time          %.1f s per port (the whole update %.1f s)\n",
                    ports * bytes / program, Median(updates));
        std::printf("wire and turnaround limit      %.0f bytes/s (%u x %.0f)\n", limit, ports, limit / ports);
        std::printf("ratio to the limit             %.1f %% (reference %.1f %%)\n",
                    100.0 * program / limit, 100.0 * reference / limit);
        std::printf("program CPU per port           %.2f %% of one core\n", 100.0 * Median(cpu));
        std::printf("simulator timing error         %.0f us late on average, %llu us at most\n",
                    double(lateAvg) / (2 * sideRounds), static_cast<unsigned long long>(lateMax));

        std::printf("load average (1 min)           %s before, %s after\n", loadBefore.c_str(),
                    LoadAverage().c_str());

        // Alternated as well, medians: a busy machine's pauses land on either side.
        std::vector<double> writerRuns, referenceRuns;
        for (unsigned round = 0; round < sideRounds; ++round) {
            writerRuns.push_back(ProgramWriterSeconds(sim, module, int(speedCode)));
            referenceRuns.push_back(bytes / ReferenceRun(sim, module, 1, false, int(speedCode)).rate);
        }
        const double writer = Median(writerRuns);
        const double referenceSeconds = Median(referenceRuns);
        std::printf("without line-rate emulation    program %.1f us per write command, reference %.1f us, "
                    "program's own cost %.1f us\n",
                    1e6 * writer / commands, 1e6 * referenceSeconds / commands,
                    1e6 * (writer - referenceSeconds) / commands);
    } catch (...) {
        std::fprintf(stderr, "bench-transfer: %s\n", CurrentExceptionMessage().c_str());
        return 1;
    }
    return 0;
}
