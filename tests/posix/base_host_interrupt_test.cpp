// Ctrl+C on a terminal run becomes a stop request of the POSIX platform host.
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

#include "base/host.h"

TEST(HostPosix, InterruptBecomesAStopAtTheNextPump)
{
    struct sigaction previous {};
    sigaction(SIGINT, nullptr, &previous);
    InstallInterruptStop();
    CRunHost& host = PlatformHost();
    host.PumpMessages();
    std::raise(SIGINT);
    try {
        host.PumpMessages();
        FAIL() << "the interrupt was not turned into a stop";
    } catch (const stop_exception& e) {
        EXPECT_EQ(e.Code(), 0);
    }
    EXPECT_NO_THROW(host.PumpMessages());
    sigaction(SIGINT, &previous, nullptr);
}

TEST(HostPosix, QuestionWithoutATerminalIsAnsweredNo)
{
    // The test runner's stdin is not a terminal under CTest; skip when run by hand.
    if (isatty(STDIN_FILENO))
        GTEST_SKIP() << "stdin is a terminal";
    SetQuestionPolicy(nullptr);
    EXPECT_FALSE(PlatformHost().ShowMessageBox("Продолжить?", "Ошибка", MessageBoxKind::Question,
                                               nullptr));
}
