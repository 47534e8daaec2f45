// The log stops at its first failed write: lines after a lost one would
// read as a whole account.
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "temp_tree.h"
#include "update_log.h"

namespace {

TEST(UpdateLog, WritesNothingMoreAfterAFailedWrite) {
    TempTree tree;
    UpdateLog log;
    log.Open(tree.Path("update.log").c_str());
    ASSERT_FALSE(log.Failed());
    // The first line goes in part only: the file may not grow past 10 bytes.
    rlimit saved, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    small = saved;
    small.rlim_cur = 10;
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    log.Started("/S", nullptr);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_TRUE(log.Failed());

    log.Finished(TextString("done"), 0);
    struct stat info = {};
    ASSERT_EQ(stat((tree.Root() + "/update.log").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 10);
}

} // namespace
