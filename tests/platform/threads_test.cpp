// Threads and semaphores as the package check uses them: a hand-over
// through two semaphores, waits that time out, a thread's end.
#include <gtest/gtest.h>

#include "platform/win32_api.h"

namespace {

struct Relay {
    HANDLE asked, answered;
    int value;
};

DWORD WINAPI Doubler(LPVOID parameter) {
    Relay& relay = *static_cast<Relay*>(parameter);
    for (int i = 0; i < 3; ++i) {
        WaitForSingleObject(relay.asked, INFINITE);
        relay.value *= 2;
        ReleaseSemaphore(relay.answered, 1, nullptr);
    }
    return 0;
}

TEST(Threads, HandOverThroughSemaphoresAndWaitForTheEnd) {
    Relay relay{CreateSemaphoreA(nullptr, 0, 1, nullptr), CreateSemaphoreA(nullptr, 0, 1, nullptr),
                1};
    ASSERT_NE(relay.asked, nullptr);
    ASSERT_NE(relay.answered, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, Doubler, &relay, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(relay.answered, 50), DWORD(WAIT_TIMEOUT));
    for (int expected : {2, 4, 8}) {
        EXPECT_TRUE(ReleaseSemaphore(relay.asked, 1, nullptr));
        EXPECT_EQ(WaitForSingleObject(relay.answered, INFINITE), DWORD(WAIT_OBJECT_0));
        EXPECT_EQ(relay.value, expected);
    }
    EXPECT_EQ(WaitForSingleObject(thread, 10000), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(thread));

    // A count beyond the limit is refused and changes nothing.
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(relay.asked, 1, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(relay.asked, 1, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_TOO_MANY_POSTS));
    EXPECT_EQ(WaitForSingleObject(relay.asked, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(relay.asked, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(CloseHandle(relay.asked));
    EXPECT_TRUE(CloseHandle(relay.answered));
}

} // namespace
