// MeasurePackage counts what the copy copies, and nothing else: no dot
// name, no Update.exe, no name that cannot exist on Windows, no file the
// filter leaves out, and nothing twice through a link back to a folder
// above (two such links would make a walk that follows them endless).
#include <string>
#include <sys/statvfs.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "package_size.h"
#include "temp_tree.h"
#include "volume_space.h"
#include "watchdog.h"

namespace {

bool SkipsTheLog(void*, const char* name, const TextString&) {
    return std::string(name) == "run.log";
}

TEST(MeasurePackage, CountsTheFilesTheCopyCopiesAndEachOnce) {
    TempTree tree;
    const std::string package = tree.Root() + "/package";
    tree.WriteFile("package\\a.txt", std::string(10, 'a'));
    tree.WriteFile("package\\Sub\\Deep\\b.txt", std::string(20, 'b'));
    tree.WriteFile("outside\\c.txt", std::string(40, 'c'));
    tree.WriteFile("install\\old.txt", std::string(5000, 'o'));
    struct {
        const char* name;
        std::size_t size;
    } leftOut[] = {{".hidden", 100},         {"Sub\\.git\\x", 200}, {"Update.exe", 400},
                   {"Sub\\UPDATE.EXE", 800}, {"Sub\\a:b", 1600},    {"run.log", 3200}};
    for (const auto& file : leftOut)
        tree.WriteFile(std::string("package\\") + file.name, std::string(file.size, 'x'));
    for (const auto& link : {std::pair<std::string, std::string>{"..", "/Sub/Up"},
                             {"../..", "/Sub/Deep/Top"},
                             {"..", "/Sub/Deep/Back"},
                             {"../install", "/Target"},
                             {"../outside", "/Outside"}})
        ASSERT_EQ(symlink(link.first.c_str(), (package + link.second).c_str()), 0);
    const PackageFilter filter{nullptr, SkipsTheLog};
    const Watchdog watchdog("the package measure", 10);
    const TextString source(tree.Path("package").c_str()), target(tree.Path("install").c_str());
    EXPECT_EQ(MeasurePackage(source, target, "*.*", &filter).bytes, 10u + 20u + 40u);
    // Staged, each file takes whole clusters, and the journal 64 bytes and
    // a line for each of a.txt, Sub, Sub\Deep, its b.txt, Outside, its c.txt.
    const std::uint64_t journal = 64 + (5 + 3 + 8 + 14 + 7 + 13) + 6 * 4;
    EXPECT_EQ(MeasurePackage(source, target, "*.*", &filter, 1).staged, 70 + journal);
    EXPECT_EQ(MeasurePackage(source, target, "*.*", &filter, 4096).staged, 4 * 4096u);
    // With a manifest, only what it lists: a.txt and Outside\c.txt here.
    const std::string listed = std::string(64, '0') + "  a.txt\n" + std::string(64, '0') +
                               "  Outside/c.txt\n" + std::string(64, '0') + "  gone.txt\n";
    PackageManifest manifest;
    ASSERT_TRUE(manifest.Parse(listed.data(), static_cast<std::uint32_t>(listed.size())));
    EXPECT_EQ(MeasurePackage(source, target, "*.*", &filter, 1, &manifest).bytes, 10u + 40u);
    EXPECT_EQ(MeasurePackage(source, target, "*.*", &filter, 4096, &manifest).staged, 3 * 4096u);
}

// The room read for the check: a cluster is the file system's fragment, not
// one sector of it.
TEST(ReadVolumeSpace, TellsTheClusterOfTheVolume) {
    TempTree tree;
    struct statvfs volume = {};
    ASSERT_EQ(statvfs(tree.Root().c_str(), &volume), 0);
    const VolumeSpace space = ReadVolumeSpace(TextString(tree.Root().c_str()));
    ASSERT_TRUE(space.known);
    EXPECT_EQ(space.clusterBytes, volume.f_frsize);
}

} // namespace
