#include <gtest/gtest.h>

#include <vector>

#include "base/host.h"
#include "sim/virtual_host.h"

namespace {

struct PollLog {
    CVirtualHost* host;
    std::vector<uint64_t> at;
    bool answer;
};

bool RecordPoll(void* user)
{
    PollLog* log = static_cast<PollLog*>(user);
    log->at.push_back(log->host->NowMs());
    return log->answer;
}

}  // namespace

TEST(RunServicesWait, FirstPollComesOneIntervalAfterTheStart)
{
    CVirtualHost host;
    PollLog log{&host, {}, true};
    EXPECT_TRUE(WaitPolling(host, RecordPoll, &log, 300, 5000));
    ASSERT_EQ(log.at.size(), 1u);
    EXPECT_EQ(log.at[0], 300u);
}

TEST(RunServicesWait, PollsEveryIntervalUntilTheTimeoutAndPumpsThroughout)
{
    CVirtualHost host;
    PollLog log{&host, {}, false};
    EXPECT_FALSE(WaitPolling(host, RecordPoll, &log, 100, 450));
    EXPECT_EQ(log.at, (std::vector<uint64_t>{100, 200, 300, 400}));
    EXPECT_GE(host.NowMs(), 450u);
    EXPECT_LT(host.NowMs(), 452u);
    // One pump per millisecond of waiting keeps the interface alive.
    EXPECT_GE(host.PumpCount(), 440u);
}

TEST(RunServicesWait, NullPollSimplyWaitsTheTimeout)
{
    CVirtualHost host;
    int delivered = 0;
    host.At(20, [&] { host.PostMessage([&] { ++delivered; }); });
    EXPECT_FALSE(WaitPolling(host, nullptr, nullptr, 50, 50));
    EXPECT_EQ(host.NowMs(), 50u);
    EXPECT_EQ(delivered, 1);
}

TEST(RunServicesWait, StopLeavesTheWait)
{
    CVirtualHost host;
    host.At(30, [&] { host.RequestStop(7); });
    try {
        WaitPolling(host, nullptr, nullptr, 50, kWaitForever);
        FAIL() << "the wait ignored Stop";
    } catch (const stop_exception& e) {
        EXPECT_EQ(e.Code(), 7);
    }
    EXPECT_EQ(host.NowMs(), 30u);
}

TEST(RunServicesWait, SurvivesTheTickCountWrapping)
{
    // The system tick count wraps after 49.7 days; a wait across the wrap still lasts
    // its time-out.
    CVirtualHost host;
    host.AdvanceUs((uint64_t(0xFFFFFFFFu) - 20) * 1000);
    PollLog log{&host, {}, false};
    const uint64_t start = host.NowMs();
    EXPECT_FALSE(WaitPolling(host, RecordPoll, &log, 25, 60));
    EXPECT_EQ(log.at.size(), 2u);
    EXPECT_GE(host.NowMs() - start, 60u);
    EXPECT_LT(host.NowMs() - start, 62u);
}
