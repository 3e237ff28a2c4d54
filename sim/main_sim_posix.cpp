// trelvo-sim: a simulated scanner behind a pseudo-terminal, for a host program (native,
// or under Wine through a dosdevices/comN link) to find, query, switch and flash; or on a
// terminal that exists (--tty), such as a USB gadget's serial function.
//
// It prints the slave's path on stdout (one line, flushed; with --usb another line each
// time the pty is re-created) and serves until SIGTERM or SIGINT, then removes its link.
// The host's line speed is read from the pty before each received chunk; a host at
// another speed than the scanner's gets garbage both ways.
//
// Options (numbers decimal or 0x-hex):
//   --link PATH            symlink to the slave; replaced if it is a stale symlink
//   --speed CODE           scanner speed code 0..9 (default 2 = 9600)
//   --model CODE           model code of the identity reply (default 150)
//   --serial N             factory serial number
//   --mode 0|1             start in the application (0, default) or the loader (1)
//   --no-speed-command     the speed command answers status 8
//   --max-speed CODE       the loader refuses faster speed codes with status 4
//   --max-line-baud BAUD   the line garbles every byte sent faster than BAUD, both ways
//   --restart-ms N         silence after a mode switch (default 1500)
//   --old-mode-once        the first restart comes back in the old mode
//   --restart-speed CODE   every restart comes back at this speed
//   --never-loader         the loader never sets bit 3.7
//   --usb                  USB CDC: during a restart the link is removed and the pty
//                          closed; a new pty appears behind the same link afterwards.
//                          A USB line ignores speeds.
//   --tty PATH             serve this terminal instead of a pty of its own
//   --gadget DIR           with --tty, the USB gadget (configfs) the terminal belongs to:
//                          a restart unbinds it from its controller and binds it again
//                          (implies --usb)
//   --fault OP:KIND[:COUNT[:STATUS]]  (repeatable) OP an opcode or "any"; KIND one of
//                          noise noise2 checksum echo busy noreply lost short long status
//                          truncated cut (a cut line closes the pty and removes the link
//                          for good, as a pulled USB scanner)
//   --fault-rate P --seed N  random faults with probability P per reply
//   --fault-kinds K,K...   the kinds the random faults draw from (default the
//                          recoverable ones)
//   --line-rate            bytes take their wire time at the scanner's speed
//   --turnaround-us N      delay before each reply
//   --flash BASE SIZE      writable memory range; --write-align N; --write-error STATUS
//   --expect-ldr FILE      the checksum verdict compares with the computational module
//   --state FILE           state summary (see SimStateText), written at start, after
//                          commands (at most every 100 ms), at mode changes and at exit
//   --dump FILE ADDR SIZE  raw dump of that memory range, written with the state
//   --help
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sim/sim_options.h"
#include "sim/sim_pty_posix.h"
#include "sim/sim_tty_posix.h"

namespace {

constexpr uint64_t kStateIntervalUs = 100000;
constexpr int kIdlePollMs = 100;
constexpr size_t kOutboxLimit = 65536;   // a host that never reads loses bytes, as on a UART

volatile std::sig_atomic_t stopRequested = 0;

void OnStopSignal(int)
{
    stopRequested = 1;
}

uint64_t MonotonicUs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000 + uint64_t(ts.tv_nsec) / 1000;
}

// Writes through a temporary file and a rename, so a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size)
{
    const std::string temporary = path + ".tmp";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f)
        return false;
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written)
        return false;
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

// How late the emulated bytes went out against when they were due, over the whole run.
struct CTimingError {
    uint64_t count = 0;
    uint64_t totalUs = 0;
    uint64_t maxUs = 0;

    void Record(uint64_t lateUs)
    {
        ++count;
        totalUs += lateUs;
        maxUs = std::max(maxUs, lateUs);
    }
    // Lines for the state file: "late_avg_us N" and "late_max_us N".
    std::string Text() const
    {
        return "late_avg_us " + std::to_string(count ? totalUs / count : 0) + "\nlate_max_us " +
               std::to_string(maxUs) + "\n";
    }
};

class CSimProgram {
public:
    explicit CSimProgram(const SimProgramOptions& o) : options(o), scanner(o.config)
    {
        if (o.ttyPath.empty())
            line = std::make_unique<CSimPty>();
        else
            line = std::make_unique<CSimTty>(o.ttyPath, o.gadgetPath);
        for (const SimFaultRule& rule : o.faults)
            scanner.AddFault(rule);
    }

    int Run();

private:
    bool OpenLine();
    void CloseLine();
    void Serve(uint64_t now);
    void ReadHost();
    void FlushOutbox();
    void SaveState(uint64_t now, bool force);
    uint64_t WaitUs(uint64_t now) const;

    const SimProgramOptions& options;
    CSimScanner scanner;
    std::unique_ptr<CSimLine> line;
    std::deque<uint8_t> outbox;
    CTimingError timing;
    uint64_t lineFreeUs = 0;
    uint64_t lastSaveUs = 0;
    std::string savedKey;
    bool savePending = false;
};

bool CSimProgram::OpenLine()
{
    std::string error;
    if (!line->Open(error)) {
        std::fprintf(stderr, "trelvo-sim: %s\n", error.c_str());
        return false;
    }
    if (!options.linkPath.empty()) {
        struct stat st {};
        if (lstat(options.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "trelvo-sim: %s exists and is not a symlink\n",
                             options.linkPath.c_str());
                return false;
            }
            unlink(options.linkPath.c_str());
        }
        if (symlink(line->HostPath().c_str(), options.linkPath.c_str()) != 0) {
            std::fprintf(stderr, "trelvo-sim: symlink %s: %s\n", options.linkPath.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    std::printf("%s\n", line->HostPath().c_str());
    std::fflush(stdout);
    return true;
}

void CSimProgram::CloseLine()
{
    if (!options.linkPath.empty())
        unlink(options.linkPath.c_str());
    line->Close();
    outbox.clear();
}

void CSimProgram::ReadHost()
{
    uint8_t buffer[1024];
    const ssize_t n = read(line->Fd(), buffer, sizeof buffer);
    if (n <= 0)
        return;
    // The host's write lands in the pty at once, but on a real line its bytes follow one
    // another at the line speed: with line-rate emulation the chunk starts when the line
    // is free and takes its wire time (the model spaces the bytes from that start).
    const uint32_t baud = line->HostBaud();
    const uint64_t start = std::max(lineFreeUs, MonotonicUs());
    lineFreeUs = start + scanner.WireTimeUs(size_t(n), baud);
    scanner.Receive(buffer, size_t(n), baud, start);
}

void CSimProgram::FlushOutbox()
{
    while (!outbox.empty() && line->IsOpen()) {
        uint8_t chunk[512];
        const size_t n = std::min(outbox.size(), sizeof chunk);
        std::copy(outbox.begin(), outbox.begin() + long(n), chunk);
        const ssize_t written = write(line->Fd(), chunk, n);
        if (written <= 0)
            return;
        outbox.erase(outbox.begin(), outbox.begin() + written);
    }
}

void CSimProgram::Serve(uint64_t now)
{
    if (scanner.TakeRemoval(now))
        CloseLine();
    if (scanner.TakeArrival(now) && !OpenLine())
        stopRequested = 1;
    uint8_t buffer[512];
    size_t n;
    const uint32_t baud = line->IsOpen() ? line->HostBaud() : 0;
    // How late the emulated line is: the first byte of what goes out now against the
    // time it fell due (the wake-up's overshoot, the machine being busy).
    if (const auto due = scanner.NextByteAtUs(); due && *due <= now && line->IsOpen())
        timing.Record(now - *due);
    while ((n = scanner.Transmit(buffer, sizeof buffer, baud, now)) > 0) {
        // What a scanner sends while off the bus reaches nobody.
        if (line->IsOpen())
            outbox.insert(outbox.end(), buffer, buffer + n);
    }
    while (outbox.size() > kOutboxLimit)
        outbox.pop_front();
    FlushOutbox();
}

void CSimProgram::SaveState(uint64_t now, bool force)
{
    if (options.statePath.empty() && options.dumpPath.empty())
        return;
    const int mode = scanner.Mode(now);
    const std::string key = std::to_string(scanner.CommandsReceived()) + "/" +
                            std::to_string(mode) + "/" + std::to_string(scanner.SpeedCode());
    if (key != savedKey)
        savePending = true;
    // Commands come thousands at a time during an update; a mode change is written at once.
    const bool modeChanged = savedKey.empty() || key.substr(key.find('/')) !=
                                                     savedKey.substr(savedKey.find('/'));
    if (!force && (!savePending || (!modeChanged && now < lastSaveUs + kStateIntervalUs)))
        return;
    savedKey = key;
    savePending = false;
    lastSaveUs = now;
    if (!options.statePath.empty()) {
        const std::string text = SimStateText(scanner, now) + timing.Text();
        WriteFileAtomically(options.statePath, text.data(), text.size());
    }
    if (!options.dumpPath.empty()) {
        const std::vector<uint8_t> bytes = scanner.Dump(options.dumpAddress, options.dumpSize);
        WriteFileAtomically(options.dumpPath, bytes.data(), bytes.size());
    }
}

// How long to wait for the host, to the microsecond: reply bytes fall due a byte time
// apart, and a wait rounded to milliseconds would stretch every reply.
uint64_t CSimProgram::WaitUs(uint64_t now) const
{
    uint64_t wake = now + uint64_t(kIdlePollMs) * 1000;
    if (auto at = scanner.NextByteAtUs())
        wake = std::min(wake, *at);
    if (auto at = scanner.NextEventAtUs())
        wake = std::min(wake, *at);
    if (savePending)
        wake = std::min(wake, lastSaveUs + kStateIntervalUs);
    if (!outbox.empty())
        wake = std::min(wake, now + 10000);
    return wake <= now ? 0 : wake - now;
}

int CSimProgram::Run()
{
    std::string error;
    if (!options.expectLdrPath.empty() && !scanner.LoadExpectedModule(options.expectLdrPath, error)) {
        std::fprintf(stderr, "trelvo-sim: %s\n", error.c_str());
        return 2;
    }
    if (!OpenLine())
        return 1;
    SaveState(MonotonicUs(), true);
    while (!stopRequested) {
        const uint64_t now = MonotonicUs();
        Serve(now);
        SaveState(now, false);
        pollfd fd{line->IsOpen() ? line->Fd() : -1, POLLIN, 0};
        const uint64_t waitUs = WaitUs(now);
        const timespec wait{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        const int ready = ppoll(&fd, 1, &wait, nullptr);
        if (ready > 0 && (fd.revents & POLLIN))
            ReadHost();
        else if (ready > 0 && (fd.revents & (POLLHUP | POLLERR)))
            line->HungUp();
        line->Idle();
    }
    SaveState(MonotonicUs(), true);
    CloseLine();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    SimProgramOptions options;
    std::string error;
    if (!ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "trelvo-sim: %s\n%s", error.c_str(), SimUsageText());
        return 2;
    }
    if (options.help) {
        std::fputs(SimUsageText(), stdout);
        return 0;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // With line-rate emulation every reply byte falls due a byte time apart (87 us at
    // 115200); the kernel's default timer slack of 50 us per wake-up would stretch them.
    if (options.config.lineRate)
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    CSimProgram program(options);
    return program.Run();
}
