// bench-transfer: how fast a module reaches a scanner, against trelvo-sim on a
// pseudo-terminal.
//
//   bench-transfer PATH-TO-TRELVO-SIM [KIB]
//
// Run 1: the simulator emulates the wire (each byte takes its time at 115200 baud) and a
// 1 ms turnaround per command. Prints the bytes per second of the block transfer, the
// limit that the wire and the turnaround allow for 128-byte chunks, their ratio, and the
// process's CPU time per second of transfer.
// Run 2: no line-rate emulation: the host's own time per write command.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/host.h"
#include "engine/operations.h"
#include "firmware/ldr.h"
#include "protocol/commands.h"
#include "protocol/mode_switch.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"

extern char** environ;

namespace {

constexpr unsigned kBaud = 115200;
constexpr unsigned kTurnaroundUs = 1000;
constexpr unsigned kBlockSize = 4096;
constexpr unsigned kBitsPerByte = 10;           // start, 8 data, stop
constexpr unsigned kWriteRequestBytes = 3 + 1 + 4 + kMemoryChunk;   // frame + opcode + address + data
constexpr unsigned kWriteReplyBytes = 3 + 2;    // frame + echo + status

class Simulator {
public:
    Simulator(const std::string& program, const std::string& link, bool lineRate)
    {
        std::vector<std::string> args = {program, "--link", link, "--speed", "6",
                                         "--mode", "1", "--restart-ms", "200"};
        if (lineRate) {
            args.push_back("--line-rate");
            args.push_back("--turnaround-us");
            args.push_back(std::to_string(kTurnaroundUs));
        }
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
    ~Simulator()
    {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
    }

private:
    pid_t pid = 0;
};

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
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

struct Measure {
    double seconds;
    double cpuSeconds;
};

Measure Transfer(const std::string& program, const ldr::module& module, bool lineRate)
{
    const std::string link = "/tmp/trelvo-bench-" + std::to_string(getpid());
    Simulator sim(program, link, lineRate);
    CRunHost& host = PlatformHost();
    CComDevice device(NativePortSystem());
    OpenComPort(device, link, kBaud, 3000);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    if (!Probe(protocol)) {
        std::fprintf(stderr, "bench-transfer: the simulator does not answer\n");
        std::exit(1);
    }
    SwitchMode(protocol, MODE_LOADER, false);
    CMessageInterface quiet;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    WriteModuleBlocks(protocol, module, quiet);
    const double cpu = CpuSeconds() - cpuStart;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return {elapsed.count(), cpu};
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-transfer PATH-TO-TRELVO-SIM [KIB]\n");
        return 2;
    }
    const unsigned kib = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 256;
    const ldr::module module = MakeModule(kib);
    const double bytes = double(module.block_count) * module.block_size;
    const double commands = bytes / kMemoryChunk;

    try {
        const Measure wire = Transfer(argv[1], module, true);
        const double chunkSeconds =
            double(kWriteRequestBytes + kWriteReplyBytes) * kBitsPerByte / kBaud + kTurnaroundUs / 1e6;
        const double limit = kMemoryChunk / chunkSeconds;
        const double rate = bytes / wire.seconds;
        std::printf("module                         %u KiB in %u-byte chunks (%.0f write commands)\n",
                    kib, kMemoryChunk, commands);
        std::printf("line-rate emulation            %u baud, %u us turnaround\n", kBaud, kTurnaroundUs);
        std::printf("achieved                       %.0f bytes/s (%.2f s)\n", rate, wire.seconds);
        std::printf("wire and turnaround limit      %.0f bytes/s\n", limit);
        std::printf("ratio                          %.1f %%\n", 100.0 * rate / limit);
        std::printf("CPU per second of transfer     %.1f ms (%.2f %%)\n",
                    1000.0 * wire.cpuSeconds / wire.seconds, 100.0 * wire.cpuSeconds / wire.seconds);

        const Measure bare = Transfer(argv[1], module, false);
        std::printf("without line-rate emulation    %.0f bytes/s, %.1f us per write command, "
                    "CPU %.1f us per command\n",
                    bytes / bare.seconds, 1e6 * bare.seconds / commands,
                    1e6 * bare.cpuSeconds / commands);
    } catch (...) {
        std::fprintf(stderr, "bench-transfer: %s\n", CurrentExceptionMessage().c_str());
        return 1;
    }
    return 0;
}
