// The Stop table: every phase an operator can stop (the main window's run, the settings
// sheet's actions, the device search, the batch window's search and run), each stopped
// N times at points spread over the phase, with a 30000 ms reply time-out and a scanner
// that falls silent where it can. Time is virtual: the figures are what the program's
// own waits cost, exactly, and a run of the whole table takes seconds. Prints one line
// per phase, tab-separated:
//
//   phase  stops  longest ms  median ms  longest without a pump ms
//
// and exits 1 when a stop was not reached, took longer than 250 ms, or left the work
// showing anything but that it was stopped.
//
//   stop-table --stops 20
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/stop_scenes.h"

namespace {

constexpr uint64_t kStopLimitMs = 250;

}  // namespace

int main(int argc, char** argv)
{
    unsigned stops = 20;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stops") == 0 && i + 1 < argc) {
            stops = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr, "usage: stop-table [--stops N]\n");
            return 2;
        }
    }
    if (stops == 0)
        stops = 1;

    std::printf("phase\tstops\tlongest ms\tmedian ms\tlongest without a pump ms\n");
    bool sound = true;
    for (const CStopPhase& phase : StopPhases()) {
        std::vector<uint64_t> latencies;
        uint64_t longestGap = 0;
        for (unsigned k = 0; k < stops; ++k) {
            // Spread over the phase, and an odd step so that stops land at every point
            // of a wait's slices.
            const uint64_t delay = phase.spanMs * k / stops + k * 7 % 50;
            const CStopOutcome outcome = phase.stop(delay, false);
            if (!outcome.reached || outcome.shown != phase.stoppedShows || outcome.boxes != 0 ||
                outcome.portLeftOpen) {
                std::fprintf(stderr, "%s: the stop %u ms in %s\n", phase.name.c_str(),
                             unsigned(delay), outcome.reached ? ("showed \"" + outcome.shown + "\"").c_str()
                                                              : "was never reached");
                sound = false;
                continue;
            }
            latencies.push_back(outcome.latencyMs);
            longestGap = std::max(longestGap, outcome.longestGapMs);
        }
        std::sort(latencies.begin(), latencies.end());
        const uint64_t longest = latencies.empty() ? 0 : latencies.back();
        const uint64_t median = latencies.empty() ? 0 : latencies[latencies.size() / 2];
        if (longest > kStopLimitMs)
            sound = false;
        std::printf("%s\t%zu\t%llu\t%llu\t%llu\n", phase.name.c_str(), latencies.size(),
                    static_cast<unsigned long long>(longest), static_cast<unsigned long long>(median),
                    static_cast<unsigned long long>(longestGap));
    }
    return sound ? 0 : 1;
}
