// The Win32 platform host on a real thread message queue.
#include <gtest/gtest.h>

#include <windows.h>

#include <vector>

#include "base/host.h"

namespace {

constexpr UINT kTestMessage = WM_APP + 7;
std::vector<WPARAM>* received = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kTestMessage && received != nullptr) {
        received->push_back(wParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class MessageWindow : public testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = RecordingProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TrelvoHostPumpTest";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"TrelvoHostPumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        received = &log;
    }
    void TearDown() override
    {
        received = nullptr;
        DestroyWindow(window);
    }

    HWND window = nullptr;
    std::vector<WPARAM> log;
};

}  // namespace

TEST_F(MessageWindow, MessagesPostedAheadOfAStopAreDispatchedFirst)
{
    CRunHost& host = PlatformHost();
    ASSERT_TRUE(PostMessageW(window, kTestMessage, 1, 0));
    host.RequestStop(4);
    ASSERT_TRUE(PostMessageW(window, kTestMessage, 2, 0));
    try {
        host.PumpMessages();
        FAIL() << "Stop was not raised";
    } catch (const stop_exception& e) {
        EXPECT_EQ(e.Code(), 4);
    }
    EXPECT_EQ(log, std::vector<WPARAM>{1});
    host.PumpMessages();
    EXPECT_EQ(log, (std::vector<WPARAM>{1, 2}));
}

TEST_F(MessageWindow, StopSurvivesAModalLoopThatDropsItsMessage)
{
    // The stop goes out as a thread message, which a modal loop (a message box, a dialog)
    // takes off the queue and loses, as the documentation of PostThreadMessage says.
    CRunHost& host = PlatformHost();
    host.RequestStop(9);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, STOP_MESSAGE, STOP_MESSAGE, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.lParam, 9);
    try {
        host.PumpMessages();
        FAIL() << "the stop was lost with its message";
    } catch (const stop_exception& e) {
        EXPECT_EQ(e.Code(), 9);
    }
    EXPECT_NO_THROW(host.PumpMessages());

    // Pressed twice, it is one stop.
    host.RequestStop(1);
    host.RequestStop(1);
    EXPECT_THROW(host.PumpMessages(), stop_exception);
    EXPECT_NO_THROW(host.PumpMessages());
}

TEST_F(MessageWindow, WaitPumpsWindowMessagesWhileItWaits)
{
    CRunHost& host = PlatformHost();
    ASSERT_TRUE(PostMessageW(window, kTestMessage, 3, 0));
    EXPECT_FALSE(WaitPolling(host, nullptr, nullptr, 10, 30));
    EXPECT_EQ(log, std::vector<WPARAM>{3});
}

TEST_F(MessageWindow, QuitIsLeftForTheWindowLoop)
{
    PostQuitMessage(3);
    PlatformHost().PumpMessages();
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}
