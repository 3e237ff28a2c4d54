// The Stop table: every phase an operator can stop (the main window's run, the settings
// sheet's actions, the device search, the batch window's search and run), each stopped
// N times at points spread over the phase, with a 30000 ms reply time-out and a scanner
// that falls silent where it can. Time is virtual: the figures are what the program's
// own waits cost, exactly, and a run of the whole table takes seconds. Prints one line
// per phase, tab-separated:
//
//   phase  stops  stop taken ms  ended ms (longest, median)  longest without a pump ms
//
// "taken" is the pump that took the stop; "ended" the end of the work, for a run with
// the scanner put back at the speed it was found at. Exits 1 when a stop was not
// reached, was taken later than 250 ms, or left the work showing anything but that it
// was stopped.
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

    std::printf("phase\tstops\tlongest taken ms\tlongest ended ms\tmedian ended ms\t"
                "longest without a pump ms\n");
    bool sound = true;
    for (const CStopPhase& phase : StopPhases()) {
        std::vector<uint64_t> ends;
        uint64_t longestTaken = 0;
        uint64_t longestGap = 0;
        for (unsigned k = 0; k < stops; ++k) {
            // Spread over the phase, and an odd step so that stops land at every point
            // of a wait's slices.
            const uint64_t delay = phase.spanMs * k / stops + k * 7 % 50;
            const CStopOutcome outcome = phase.stop(delay, false);
            if (!outcome.reached || outcome.shown.rfind(phase.stoppedShows, 0) != 0 ||
                outcome.boxes != 0 || outcome.portLeftOpen) {
                std::fprintf(stderr, "%s: the stop %u ms in %s\n", phase.name.c_str(),
                             unsigned(delay), outcome.reached ? ("showed \"" + outcome.shown + "\"").c_str()
                                                              : "was never reached");
                sound = false;
                continue;
            }
            ends.push_back(outcome.latencyMs);
            longestTaken = std::max(longestTaken, outcome.takenMs);
            longestGap = std::max(longestGap, outcome.longestGapMs);
        }
        std::sort(ends.begin(), ends.end());
        const uint64_t longest = ends.empty() ? 0 : ends.back();
        const uint64_t median = ends.empty() ? 0 : ends[ends.size() / 2];
        if (longestTaken > kStopLimitMs)
            sound = false;
        std::printf("%s\t%zu\t%llu\t%llu\t%llu\t%llu\n", phase.name.c_str(), ends.size(),
                    static_cast<unsigned long long>(longestTaken), static_cast<unsigned long long>(longest),
                    static_cast<unsigned long long>(median), static_cast<unsigned long long>(longestGap));
    }
    return sound ? 0 : 1;
}
