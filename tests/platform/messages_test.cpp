// The thread's message queue, drained without waiting.
#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

TEST(MessageQueue, PeekHonoursRemovalAndFiltersInOrder) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // makes the queue, as Windows wants
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    DWORD self = GetCurrentThreadId();
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 1, 11, 111));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 2, 22, 222));
    ASSERT_TRUE(PostThreadMessageA(self, WM_USER + 3, 33, 333));

    // Looking does not take.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(msg.message, UINT(WM_USER + 1));
    }
    // A range takes the first message inside it and leaves the others.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER + 2, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 2));
    EXPECT_EQ(msg.wParam, WPARAM(22));
    EXPECT_EQ(msg.lParam, LPARAM(222));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_USER + 4, WM_USER + 9, PM_REMOVE));

    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 1));
    // A thread message is neither translated nor dispatched.
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 3));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

} // namespace
