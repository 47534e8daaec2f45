// The thread's message queue, drained without waiting.
#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

TEST(MessageQueue, ThreadMessagesComeInOrderAndAreNeitherTranslatedNorDispatched) {
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // makes the queue, as Windows wants
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    for (UINT i = 1; i <= 2; ++i)
        ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + i, i, 10 * i));
    // Looking does not take.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    for (UINT i = 1; i <= 2; ++i) {
        ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, WM_USER + i);
        EXPECT_EQ(msg.wParam, WPARAM(i));
        EXPECT_EQ(msg.lParam, LPARAM(10 * i));
        EXPECT_EQ(msg.hwnd, nullptr);
        EXPECT_FALSE(TranslateMessage(&msg));
        EXPECT_EQ(DispatchMessageA(&msg), 0);
    }
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

    // A drained queue takes new messages.
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 3, 3, 30));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER + 3));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

} // namespace
