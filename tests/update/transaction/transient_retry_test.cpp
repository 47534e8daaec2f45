// The waits for a file held for a moment: bounded per step and for a run,
// ended by a cancel, with pauses that never exceed their cap. Each step here
// fails as a holder makes it fail, and counts its tries; a step tried far
// more often than its limit allows stops failing, so that a wait that does
// not end fails the test instead of hanging it.
#include <cstdlib>

#include <gtest/gtest.h>

#include "transient_retry.h"

namespace {

const unsigned kRunaway = 10000;

struct HeldStep {
    unsigned tries = 0;
    bool operator()() {
        if (++tries > kRunaway)
            return true;
        SetLastError(ERROR_SHARING_VIOLATION);
        return false;
    }
};

struct Waits {
    unsigned told = 0;
    DWORD milliseconds = 0;
    static void Waited(void* context, const TextString&, DWORD milliseconds, DWORD) {
        Waits& self = *static_cast<Waits*>(context);
        ++self.told;
        self.milliseconds += milliseconds;
    }
};

// A step held for longer than its limit gives up with the holder's error
// once it has waited exactly that limit; the pauses, as long as the wait so
// far from 10 ms on, stop at 250 ms: 10, 10, 20, 40, 80, 160, 250, 250 and the
// 80 ms left of the 900, ten tries in all.
TEST(RetryBudget, AStepGivesUpAtItsLimitWithPausesOfAtMostTheCap) {
    Waits waits;
    CopyReporter reporter{&waits, nullptr, nullptr, nullptr, nullptr, nullptr, Waits::Waited};
    RetryBudget budget(900, 60000, &reporter);
    HeldStep step;
    EXPECT_FALSE(budget.Run(TextString("held.dat"), [&step] { return step(); }));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(waits.told, 1u);
    EXPECT_EQ(waits.milliseconds, 900u);
    EXPECT_EQ(step.tries, 10u);
}

// Lasting holders on many files cost the run its budget once, not the step
// limit for each: once it is spent, a held step is tried once and not waited
// for.
TEST(RetryBudget, ARunSpendsItsTotalOnceOverAllSteps) {
    Waits waits;
    CopyReporter reporter{&waits, nullptr, nullptr, nullptr, nullptr, nullptr, Waits::Waited};
    RetryBudget budget(100, 250, &reporter);
    unsigned tries[4] = {};
    for (unsigned& count : tries) {
        HeldStep step;
        EXPECT_FALSE(budget.Run(TextString("held.dat"), [&step] { return step(); }));
        count = step.tries;
    }
    EXPECT_EQ(waits.milliseconds, 250u);
    EXPECT_EQ(tries[3], 1u);
    // A step that is not held is not waited for, budget or none.
    bool done = false;
    EXPECT_TRUE(budget.Run(TextString("free.dat"), [&done] { return done = true; }));
}

// A stop asked for ends the wait at once: the held step is tried once more
// at most.
TEST(RetryBudget, ACancelEndsTheWait) {
    bool stopAsked = true;
    const auto asked = [](void* context) { return *static_cast<bool*>(context); };
    const CopyWatcher watcher{
        &stopAsked, nullptr, nullptr,
        [](void* context, std::uint64_t) { return *static_cast<bool*>(context); }, asked};
    RetryBudget budget(3000, 3000, nullptr);
    budget.SetProgress(&watcher);
    HeldStep step;
    EXPECT_FALSE(budget.Run(TextString("held.dat"), [&step] { return step(); }));
    EXPECT_LE(step.tries, 2u);
}

// Only a wait for a holder is told: a step that then fails with another
// error (the file is gone) was never held by anyone, and no wait is told.
TEST(RetryBudget, AWaitIsToldOnlyForAHeldFile) {
    Waits waits;
    CopyReporter reporter{&waits, nullptr, nullptr, nullptr, nullptr, nullptr, Waits::Waited};
    RetryBudget budget(1000, 60000, &reporter);
    unsigned tries = 0;
    const auto goneAfterTwoTries = [&tries] {
        SetLastError(++tries < 3 ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return false;
    };
    EXPECT_FALSE(budget.Run(TextString("gone.dat"), goneAfterTwoTries));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(waits.told, 0u);
    // One held for a moment, and then free, is told.
    tries = 0;
    const auto freeAfterTwoTries = [&tries] {
        SetLastError(ERROR_SHARING_VIOLATION);
        return ++tries >= 3;
    };
    EXPECT_TRUE(budget.Run(TextString("held.dat"), freeAfterTwoTries));
    EXPECT_EQ(waits.told, 1u);
}

} // namespace
