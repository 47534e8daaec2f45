// The thread's message queue, drained without waiting.
#include <thread>

#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

const DWORD kMarker = 0xdeadbeef;

void Drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

TEST(MessageQueue, PeekHonoursRemovalAndFiltersInOrder) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // makes the queue, as Windows wants
    Drain();
    DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 1, 11, 111));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 2, 22, 222));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 3, 33, 333));

    // Looking does not take.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 1));

    // A range takes the first message inside it and leaves the others.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 2));
    EXPECT_EQ(msg.wParam, WPARAM(22));
    EXPECT_EQ(msg.lParam, LPARAM(222));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 4, WM_USER + 9, PM_REMOVE));

    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 3));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessageQueue, ThreadMessagesAreNeitherTranslatedNorDispatched) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    Drain();
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 1, 2));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessageQueue, ThreadsHaveTheirOwnQueues) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    Drain();
    SetLastError(kMarker);
    // Nothing posted here shows in another thread and the reverse.
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 0, 0));
    bool otherSawIt = true;
    DWORD other = 0;
    auto peekInOtherThread = [&] {
        MSG seen;
        PeekMessageA(&seen, nullptr, 0, 0, PM_NOREMOVE);
        other = GetCurrentThreadId();
        otherSawIt = PeekMessageA(&seen, nullptr, 0, 0, PM_REMOVE) != FALSE;
    };
    std::thread(peekInOtherThread).join();
    EXPECT_FALSE(otherSawIt);
    EXPECT_NE(other, GetCurrentThreadId());
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 7));
}

} // namespace
