// Stop in every phase an operator can stop, with a silent scanner where one can fall
// silent and a 30000 ms reply time-out: the work takes the stop within a quarter of a
// second, never having gone that long without pumping, and ends showing that it was
// stopped, with no box and the port closed. A run then puts the scanner back at the
// speed it was found at, which costs at most a second more against a scanner that does
// not answer; started again, it brings the scanner to "OK".
#include <gtest/gtest.h>

#include <algorithm>

#include "support/stop_scenes.h"

namespace {

constexpr uint64_t kStopLimitMs = 250;
// Three looks at 100 ms for the scanner that is to be put back.
constexpr uint64_t kPutBackLimitMs = 1000;

TEST(StopInEveryPhase, EndsWithinAQuarterSecondWhateverTheTimeOut)
{
    for (const CStopPhase& phase : StopPhases()) {
        SCOPED_TRACE(phase.name);
        const bool run = phase.name.rfind("main window", 0) == 0;
        // Well inside the phase, and off the slices' edges.
        const CStopOutcome outcome = phase.stop(std::min<uint64_t>(phase.spanMs / 3, 5000) + 7, run);
        ASSERT_TRUE(outcome.reached) << "the phase was never reached";
        EXPECT_LE(outcome.takenMs, kStopLimitMs);
        EXPECT_LE(outcome.latencyMs, kStopLimitMs + (phase.putsScannerBack ? kPutBackLimitMs : 0));
        EXPECT_LE(outcome.longestGapMs, kStopLimitMs);
        EXPECT_EQ(outcome.shown.rfind(phase.stoppedShows, 0), 0u) << outcome.shown;
        EXPECT_EQ(outcome.boxes, 0u);
        EXPECT_FALSE(outcome.portLeftOpen);
        EXPECT_TRUE(outcome.leftAtFoundSpeed);
        if (run)
            EXPECT_TRUE(outcome.recovered);
    }
}

}  // namespace
