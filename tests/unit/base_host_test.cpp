// The platform host of this build (POSIX stop flag, or the Win32 message queue).
#include <gtest/gtest.h>

#include <chrono>

#include "base/host.h"

namespace {

class CCountingSource : public CEventSource {
public:
    void Dispatch() override { ++dispatched; }
    int dispatched = 0;
};

}  // namespace

TEST(RunServicesHost, StopIsThrownOnceWithItsCode)
{
    CRunHost& host = PlatformHost();
    host.PumpMessages();
    host.RequestStop(5);
    try {
        host.PumpMessages();
        FAIL() << "Stop was not raised";
    } catch (const stop_exception& e) {
        EXPECT_EQ(e.Code(), 5);
    }
    EXPECT_NO_THROW(host.PumpMessages());
}

TEST(RunServicesHost, EventSourcesAreDeliveredAheadOfAStop)
{
    CRunHost& host = PlatformHost();
    CCountingSource source;
    host.AddEventSource(&source);
    host.RequestStop(0);
    EXPECT_THROW(host.PumpMessages(), stop_exception);
    EXPECT_EQ(source.dispatched, 1);
    host.RemoveEventSource(&source);
    host.PumpMessages();
    EXPECT_EQ(source.dispatched, 1);
}

TEST(RunServicesHost, SleepLastsAndTheClockMoves)
{
    // Only lower bounds: a loaded machine may sleep longer, and the system tick count
    // may lag the real clock by a tick.
    CRunHost& host = PlatformHost();
    const auto realStart = std::chrono::steady_clock::now();
    const uint32_t start = host.TickCount();
    host.Sleep(40);
    EXPECT_GE(std::chrono::steady_clock::now() - realStart, std::chrono::milliseconds(39));
    EXPECT_GT(host.TickCount() - start, 0u);
}

TEST(RunServicesHost, AStopPendingOrAskedForDuringAQuestionEndsItInsteadOfAnAnswer)
{
    CRunHost& host = PlatformHost();
    int asked = 0;
    bool stopWhileAsked = false;
    SetQuestionPolicy([&](const std::string&, const std::string&) {
        ++asked;
        if (stopWhileAsked)
            host.RequestStop(2);
        return true;
    });
    host.RequestStop(1);
    EXPECT_THROW(host.ShowMessageBox("?", "Ошибка", MessageBoxKind::Question, nullptr), stop_exception);
    EXPECT_EQ(asked, 0);
    stopWhileAsked = true;
    EXPECT_THROW(host.ShowMessageBox("?", "Ошибка", MessageBoxKind::Question, nullptr), stop_exception);
    EXPECT_EQ(asked, 1);
    EXPECT_NO_THROW(host.PumpMessages());
    SetQuestionPolicy(nullptr);
}

TEST(RunServicesHost, QuestionsAreAnsweredByThePolicy)
{
    CRunHost& host = PlatformHost();
    std::string asked;
    SetQuestionPolicy([&](const std::string& text, const std::string& caption) {
        asked = caption + "|" + text;
        return true;
    });
    EXPECT_TRUE(host.ShowMessageBox("Продолжить?", "Ошибка", MessageBoxKind::Question, nullptr));
    EXPECT_EQ(asked, "Ошибка|Продолжить?");
    SetQuestionPolicy(nullptr);
}
