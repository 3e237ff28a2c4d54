// Stop in every phase an operator can stop, with a silent scanner where one can fall
// silent and a 30000 ms reply time-out: the work ends within a quarter of a second of
// the request, never having gone that long without pumping, showing that it was stopped,
// with no box and the port closed; a run started again brings the scanner to "OK".
#include <gtest/gtest.h>

#include <algorithm>

#include "support/stop_scenes.h"

namespace {

constexpr uint64_t kStopLimitMs = 250;

TEST(StopInEveryPhase, EndsWithinAQuarterSecondWhateverTheTimeOut)
{
    for (const CStopPhase& phase : StopPhases()) {
        SCOPED_TRACE(phase.name);
        const bool run = phase.name.rfind("main window", 0) == 0;
        // Well inside the phase, and off the slices' edges.
        const CStopOutcome outcome = phase.stop(std::min<uint64_t>(phase.spanMs / 3, 5000) + 7, run);
        ASSERT_TRUE(outcome.reached) << "the phase was never reached";
        EXPECT_LE(outcome.latencyMs, kStopLimitMs);
        EXPECT_LE(outcome.longestGapMs, kStopLimitMs);
        EXPECT_EQ(outcome.shown, phase.stoppedShows);
        EXPECT_EQ(outcome.boxes, 0u);
        EXPECT_FALSE(outcome.portLeftOpen);
        if (run)
            EXPECT_TRUE(outcome.recovered);
    }
}

}  // namespace
