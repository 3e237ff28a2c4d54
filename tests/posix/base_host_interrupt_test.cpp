// Ctrl+C on a terminal run becomes a stop request of the POSIX platform host.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#include "base/host.h"
#include "protocol/scanner_protocol.h"
#include "transport/com_device.h"
#include "transport/port_system_posix.h"

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

// What supervisors, time-outs and a closed terminal send stops the work as Ctrl+C does,
// and says so in the exit code.
TEST(HostPosix, TerminationAndHangUpAreStopsWithTheirExitCodes)
{
    struct sigaction previous[2] {};
    sigaction(SIGTERM, nullptr, &previous[0]);
    sigaction(SIGHUP, nullptr, &previous[1]);
    InstallInterruptStop();
    CRunHost& host = PlatformHost();
    host.PumpMessages();
    for (const auto& [signal, code] : {std::pair<int, int>{SIGTERM, 143}, {SIGHUP, 129}}) {
        std::raise(signal);
        EXPECT_TRUE(InterruptPending());
        EXPECT_THROW(host.PumpMessages(), stop_exception) << signal;
        EXPECT_EQ(InterruptExitCode(), code);
    }
    sigaction(SIGTERM, &previous[0], nullptr);
    sigaction(SIGHUP, &previous[1], nullptr);
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

// Ctrl+C ends a command waiting on a silent scanner with a long time-out, and a long
// sleep, within a second each, as a stop.
TEST(HostPosix, InterruptEndsLongWaitsWithinASecond)
{
    struct sigaction previous {};
    sigaction(SIGINT, nullptr, &previous);
    InstallInterruptStop();
    CRunHost& host = PlatformHost();
    const auto interruptSoon = [] {
        return std::thread([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            kill(getpid(), SIGINT);
        });
    };
    const auto msSince = [](std::chrono::steady_clock::time_point start) {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };

    int master = -1, slave = -1;
    char name[128];
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    CPosixPortSystem system;
    CComDevice device(system, host);
    OpenComPort(device, name, 9600, 10000);
    CScannerProtocol protocol(host);
    protocol.SetDevice(&device);
    unsigned char reg[4];
    std::thread interrupter = interruptSoon();
    auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(protocol.ReadModeRegister(reg), stop_exception);
    EXPECT_LT(msSince(start), 1000.0);
    interrupter.join();

    interrupter = interruptSoon();
    start = std::chrono::steady_clock::now();
    host.Sleep(10000);
    EXPECT_LT(msSince(start), 1000.0);
    EXPECT_THROW(host.PumpMessages(), stop_exception);
    interrupter.join();

    device.Close();
    close(master);
    close(slave);
    sigaction(SIGINT, &previous, nullptr);
}
