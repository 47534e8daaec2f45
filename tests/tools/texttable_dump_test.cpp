// texttable dump holds one text at a time: its memory follows the largest
// text, not the sum of all texts. The peak resident size of a dumping
// process is measured (Linux: the tool runs as a child process).
#ifdef TEXTTABLE_TOOL
#include <cstdint>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_bytes.h"

namespace {

TEST(TexttableDump, MemoryFollowsTheLargestTextNotTheSum) {
    // 200 entries name one text of 1 MiB: a table of 1 MiB, a listing of
    // 200 MiB.
    const std::uint32_t entries = 200, textSize = 1 << 20;
    const std::uint32_t textOffset = 16 + 12 * entries;
    std::string table = Field(0) + Field(16) + Field(0) + Field(entries);
    for (std::uint32_t i = 0; i < entries; ++i)
        table += Field(textOffset) + Field(textSize) + Field(0);
    table += std::string(textSize, 'a');
    ScratchFile file("texttable_dump_shared.tbl", table);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl(TEXTTABLE_TOOL, "texttable", "dump", file.Name(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // In KiB. A few MiB for the text and its line, with room for the
    // sanitizers' own; holding all texts would take 200 MiB and more.
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);
}

} // namespace
#endif
