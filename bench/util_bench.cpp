// The utility library against what a C++ programmer would write with the
// standard library, doing the same work:
//   - building paths the way the copy builds them (a directory copied and
//     given its trailing separator once per level, then for every entry
//     the directory assigned and the name appended), TextString against
//     std::string;
//   - Format of the run's closing message, against snprintf into a
//     std::string;
//   - SplitPath of a full path into four new strings, against the same cut
//     with std::string's find and substr;
//   - TextTable::Lookup against std::unordered_map<uint32_t, string_view>
//     over the same texts;
//   - TextTable::Load of a 64 MiB table against open, read and close of the
//     same file into a block of its size.
// Heap blocks per operation are counted in a pass of their own, outside the
// timed loop, and shown as the counter "allocs".
//
// Run: util_bench [--benchmark_...]; BENCH_DIR picks where the 64 MiB table
// is written (default: the temporary directory). The summary at the end
// gives each pair's ratio (ours / standard library) and the goal.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "heap.h"
#include "text_string.h"
#include "text_table.h"

// Every operator new of the program is counted, so std::string's heap
// traffic can be compared with TextString's. Not inlined: GCC would see
// free() meet a pointer from operator new.
namespace {
std::atomic<long> g_newCalls{0};
} // namespace

__attribute__((noinline)) void* operator new(std::size_t size) {
    g_newCalls.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* block) noexcept {
    std::free(block);
}
__attribute__((noinline)) void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

// ---------------------------------------------------------------- counting

struct AllocationCount {
    long textString = 0; // blocks of the utility library's heap
    long standard = 0;   // operator new calls
};

void CountBlock(void*, std::size_t, void* context) {
    ++*static_cast<long*>(context);
}

// Runs `work` once and counts the blocks it makes.
template <typename Work> long CountAllocations(Work&& work) {
    long blocks = 0;
    HeapWatch watch{CountBlock, nullptr, &blocks, nullptr};
    const HeapWatch* previous = WatchHeap(&watch);
    const long newsBefore = g_newCalls.load();
    work();
    const long news = g_newCalls.load() - newsBefore;
    WatchHeap(previous);
    return blocks + news;
}

// ---------------------------------------------------------------- inputs

// Names as an update package holds them: lengths from 5 to about 40 bytes,
// in the order a directory listing gives them (not sorted by length).
std::vector<std::string> EntryNames(int count) {
    static const char* const kStems[] = {
        "a",        "map",         "BV",   "faq",    "readme",      "texture",
        "settings", "north-coast", "Data", "sounds", "translation", "configuration-defaults"};
    static const char* const kExtensions[] = {".dat", ".txt", ".ini", ".dll", ".EXE", ".bin", ""};
    std::vector<std::string> names;
    unsigned state = 12345;
    for (int i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        const char* stem = kStems[(state >> 8) % (sizeof(kStems) / sizeof(kStems[0]))];
        const char* extension =
            kExtensions[(state >> 20) % (sizeof(kExtensions) / sizeof(kExtensions[0]))];
        names.push_back(std::string(stem) + "_" + std::to_string(i) + extension);
    }
    return names;
}

const int kEntriesPerLevel = 100;
const char kSourceRoot[] = "C:\\Users\\Public\\Downloads\\Brenvolt-Update-1.01";
const char kTargetRoot[] = "C:\\Programme\\Quorvane Software\\Brenvolt";
const char kLevelName[] = "Data";
const char kPattern[] = "*.*";

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = EntryNames(kEntriesPerLevel);
    return names;
}

// ---------------------------------------------------------------- path building

// One directory level as the copy walks it: the level's two directories
// made from their parents' paths, then both paths built for every entry.
std::size_t BuildLevelTextString(const TextString& sourceParent, const TextString& targetParent,
                                 const std::vector<std::string>& names) {
    TextString source(sourceParent), target(targetParent);
    source.EnsureTrailingSeparator().Append(kLevelName);
    target.EnsureTrailingSeparator().Append(kLevelName);

    TextString sourceDirectory(source), targetDirectory(target);
    sourceDirectory.EnsureTrailingSeparator();
    targetDirectory.EnsureTrailingSeparator();
    TextString sourcePath(sourceDirectory), targetPath;
    sourcePath.Append(kPattern);
    std::size_t total = sourcePath.GetLength();
    for (const std::string& name : names) {
        sourcePath.Assign(sourceDirectory).Append(name.c_str());
        targetPath.Assign(targetDirectory).Append(name.c_str());
        benchmark::DoNotOptimize(sourcePath.GetText());
        benchmark::DoNotOptimize(targetPath.GetText());
        total += sourcePath.GetLength() + targetPath.GetLength();
    }
    return total;
}

void EnsureTrailingSeparator(std::string& path) {
    if (path.empty() || (path.back() != '\\' && path.back() != '/'))
        path.push_back('\\');
}

std::size_t BuildLevelStdString(const std::string& sourceParent, const std::string& targetParent,
                                const std::vector<std::string>& names) {
    std::string source(sourceParent), target(targetParent);
    EnsureTrailingSeparator(source);
    source.append(kLevelName);
    EnsureTrailingSeparator(target);
    target.append(kLevelName);

    std::string sourceDirectory(source), targetDirectory(target);
    EnsureTrailingSeparator(sourceDirectory);
    EnsureTrailingSeparator(targetDirectory);
    std::string sourcePath(sourceDirectory), targetPath;
    sourcePath.append(kPattern);
    std::size_t total = sourcePath.size();
    for (const std::string& name : names) {
        sourcePath.assign(sourceDirectory).append(name.c_str());
        targetPath.assign(targetDirectory).append(name.c_str());
        benchmark::DoNotOptimize(sourcePath.data());
        benchmark::DoNotOptimize(targetPath.data());
        total += sourcePath.size() + targetPath.size();
    }
    return total;
}

// Blocks made for a whole level, and for the entries alone (the level
// with its entries less the level without any), per entry.
template <typename String,
          std::size_t (*Build)(const String&, const String&, const std::vector<std::string>&)>
void PathBuild(benchmark::State& state) {
    const String sourceRoot(kSourceRoot), targetRoot(kTargetRoot);
    const std::vector<std::string> none;
    const long perLevel = CountAllocations([&] { Build(sourceRoot, targetRoot, Names()); });
    const long withoutEntries = CountAllocations([&] { Build(sourceRoot, targetRoot, none); });
    for (auto _ : state)
        benchmark::DoNotOptimize(Build(sourceRoot, targetRoot, Names()));
    state.SetItemsProcessed(state.iterations() * kEntriesPerLevel);
    state.counters["allocs"] = static_cast<double>(perLevel);
    state.counters["allocs/entry"] =
        static_cast<double>(perLevel - withoutEntries) / kEntriesPerLevel;
}

// ---------------------------------------------------------------- Format

const char kDoneFormat[] = "Es wurden %d Dateien kopiert.\r\nDas Update wurde korrekt installiert.";

void FormatTextString(benchmark::State& state) {
    TextString message;
    int copied = 0;
    const long blocks = CountAllocations([&] { TextString(message).Format(kDoneFormat, 10000); });
    for (auto _ : state) {
        message.Format(kDoneFormat, copied++);
        benchmark::DoNotOptimize(message.GetText());
    }
    state.counters["allocs"] = static_cast<double>(blocks);
}

// The usual way to printf into a std::string: measure, size, expand.
template <typename... Arguments>
void FormatInto(std::string& out, const char* format, Arguments... arguments) {
    const int needed = std::snprintf(nullptr, 0, format, arguments...);
    if (needed < 0) {
        out.clear();
        return;
    }
    out.resize(static_cast<std::size_t>(needed));
    std::snprintf(&out[0], out.size() + 1, format, arguments...);
}

void FormatStdString(benchmark::State& state) {
    std::string message;
    int copied = 0;
    const long blocks = CountAllocations([&] {
        std::string fresh;
        FormatInto(fresh, kDoneFormat, 10000);
    });
    for (auto _ : state) {
        FormatInto(message, kDoneFormat, copied++);
        benchmark::DoNotOptimize(message.data());
    }
    state.counters["allocs"] = static_cast<double>(blocks);
}

// ---------------------------------------------------------------- SplitPath

const char kFullPath[] = "C:\\Users\\Public\\Downloads\\Brenvolt-Update-1.01\\Update.exe";

void SplitPathTextString(benchmark::State& state) {
    const TextString path(kFullPath);
    auto split = [&] {
        TextString work(path), drive, directory, fileName, extension;
        work.SplitPath(&drive, &directory, &fileName, &extension);
        benchmark::DoNotOptimize(directory.GetText());
        return directory.GetLength() + fileName.GetLength() + extension.GetLength();
    };
    const long blocks = CountAllocations(split);
    for (auto _ : state)
        benchmark::DoNotOptimize(split());
    state.counters["allocs"] = static_cast<double>(blocks);
}

// The same cut: a drive "X:", the directory up to the last separator, the
// extension from the last dot after it.
void SplitStdString(const std::string& path, std::string& drive, std::string& directory,
                    std::string& fileName, std::string& extension) {
    std::size_t rest = 0;
    if (path.size() >= 2 && path[1] == ':') {
        drive = path.substr(0, 2);
        rest = 2;
    }
    const std::size_t lastSeparator = path.find_last_of("\\/");
    const std::size_t nameStart =
        lastSeparator == std::string::npos || lastSeparator < rest ? rest : lastSeparator + 1;
    directory = path.substr(rest, nameStart - rest);
    const std::size_t lastDot = path.rfind('.');
    if (lastDot != std::string::npos && lastDot >= nameStart) {
        fileName = path.substr(nameStart, lastDot - nameStart);
        extension = path.substr(lastDot);
    } else {
        fileName = path.substr(nameStart);
    }
}

void SplitPathStdString(benchmark::State& state) {
    const std::string path(kFullPath);
    auto split = [&] {
        std::string work(path), drive, directory, fileName, extension;
        SplitStdString(work, drive, directory, fileName, extension);
        benchmark::DoNotOptimize(directory.data());
        return directory.size() + fileName.size() + extension.size();
    };
    const long blocks = CountAllocations(split);
    for (auto _ : state)
        benchmark::DoNotOptimize(split());
    state.counters["allocs"] = static_cast<double>(blocks);
}

// ---------------------------------------------------------------- text tables

void PutField(std::string& file, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        file[at + i] = static_cast<char>(value >> (8 * i));
}

// A table of `count` texts of 8 to 247 bytes, or as many as fill a file of
// `fileSize` bytes: header, texts, the entry table, zero bytes up to the
// size.
std::string MakeTable(std::uint32_t count, std::size_t fileSize) {
    const std::size_t kLongestText = 247;
    std::string file(16, '\0');
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
    unsigned state = 99;
    while (entries.size() < count ||
           file.size() + kLongestText + (entries.size() + 1) * 12 <= fileSize) {
        state = state * 1103515245u + 12345u;
        const std::uint32_t length = 8 + (state >> 16) % 240;
        entries.emplace_back(static_cast<std::uint32_t>(file.size()), length);
        for (std::uint32_t i = 0; i < length; ++i)
            file.push_back(static_cast<char>('a' + (i + entries.size()) % 26));
    }
    const std::size_t tableOffset = file.size();
    file.resize(tableOffset + entries.size() * 12);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PutField(file, tableOffset + i * 12, entries[i].first);
        PutField(file, tableOffset + i * 12 + 4, entries[i].second);
    }
    PutField(file, 4, static_cast<std::uint32_t>(tableOffset));
    PutField(file, 12, static_cast<std::uint32_t>(entries.size()));
    if (file.size() < fileSize)
        file.resize(fileSize, '\0');
    return file;
}

std::string TemporaryPath(const char* name) {
    const char* base = std::getenv("BENCH_DIR");
    return std::string(base != nullptr ? base : "/tmp") + "/" + name + "-" +
           std::to_string(getpid()) + ".tbl";
}

void WriteFile(const std::string& path, const std::string& contents) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 ||
        write(fd, contents.data(), contents.size()) != static_cast<ssize_t>(contents.size()) ||
        close(fd) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

const std::uint32_t kLookupTexts = 5000;

// The ids looked up: every id of the table once, in a scattered order.
std::vector<std::uint32_t> LookupIds() {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t i = 0; i < kLookupTexts; ++i)
        ids.push_back(TextTable::FirstTextId + (i * 2654435761u) % kLookupTexts);
    return ids;
}

struct LookupTable {
    std::string path = TemporaryPath("lookup-bench");
    TextTable table;
    LookupTable() {
        WriteFile(path, MakeTable(kLookupTexts, 0));
        if (!table.Load(path.c_str()))
            std::exit(1);
        unlink(path.c_str());
    }
};

LookupTable& SharedLookupTable() {
    static LookupTable shared;
    return shared;
}

void LookupTextTable(benchmark::State& state) {
    const TextTable& table = SharedLookupTable().table;
    const std::vector<std::uint32_t> ids = LookupIds();
    auto lookAll = [&] {
        std::size_t total = 0;
        for (std::uint32_t id : ids) {
            std::uint32_t length = 0;
            benchmark::DoNotOptimize(table.Lookup(id, &length));
            total += length;
        }
        return total;
    };
    const long blocks = CountAllocations(lookAll);
    for (auto _ : state)
        benchmark::DoNotOptimize(lookAll());
    state.SetItemsProcessed(state.iterations() * ids.size());
    state.counters["allocs"] = static_cast<double>(blocks);
}

void LookupHashMap(benchmark::State& state) {
    const TextTable& table = SharedLookupTable().table;
    std::unordered_map<std::uint32_t, std::string_view> map;
    for (std::uint32_t id = TextTable::FirstTextId; id < TextTable::FirstTextId + kLookupTexts;
         ++id) {
        std::uint32_t length = 0;
        const char* text = table.Lookup(id, &length);
        map.emplace(id, std::string_view(text, length));
    }
    const std::vector<std::uint32_t> ids = LookupIds();
    auto lookAll = [&] {
        std::size_t total = 0;
        for (std::uint32_t id : ids) {
            auto found = map.find(id);
            if (found != map.end()) {
                benchmark::DoNotOptimize(found->second.data());
                total += found->second.size();
            }
        }
        return total;
    };
    const long blocks = CountAllocations(lookAll);
    for (auto _ : state)
        benchmark::DoNotOptimize(lookAll());
    state.SetItemsProcessed(state.iterations() * ids.size());
    state.counters["allocs"] = static_cast<double>(blocks);
}

const std::size_t kLoadSize = std::size_t{64} << 20;

const std::string& LoadFilePath() {
    static const std::string path = [] {
        std::string made = TemporaryPath("load-bench");
        WriteFile(made, MakeTable(0, kLoadSize));
        return made;
    }();
    return path;
}

void LoadTextTable(benchmark::State& state) {
    const std::string& path = LoadFilePath();
    TextTable table;
    const long blocks = CountAllocations([&] {
        table.Load(path.c_str());
        table.Reset();
    });
    state.counters["allocs"] = static_cast<double>(blocks);
    for (auto _ : state) {
        if (!table.Load(path.c_str()))
            state.SkipWithError("Load failed");
        benchmark::DoNotOptimize(table.Lookup(TextTable::FirstTextId, nullptr));
        table.Reset();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kLoadSize));
}

// What any reader of a whole file does at least: open, size, a block of
// that size, read it all, close.
void LoadBareRead(benchmark::State& state) {
    const std::string& path = LoadFilePath();
    for (auto _ : state) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info;
        if (fd < 0 || fstat(fd, &info) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        char* block = static_cast<char*>(std::malloc(static_cast<std::size_t>(info.st_size)));
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(info.st_size)) {
            ssize_t count = read(fd, block + done, static_cast<std::size_t>(info.st_size) - done);
            if (count <= 0)
                break;
            done += static_cast<std::size_t>(count);
        }
        close(fd);
        benchmark::DoNotOptimize(block[0]);
        std::free(block);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kLoadSize));
}

BENCHMARK(PathBuild<TextString, BuildLevelTextString>)->Name("PathBuildTextString");
BENCHMARK(PathBuild<std::string, BuildLevelStdString>)->Name("PathBuildStdString");
BENCHMARK(FormatTextString);
BENCHMARK(FormatStdString);
BENCHMARK(SplitPathTextString);
BENCHMARK(SplitPathStdString);
BENCHMARK(LookupTextTable);
BENCHMARK(LookupHashMap);
BENCHMARK(LoadTextTable)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadBareRead)->Unit(benchmark::kMillisecond);

// The pairs compared at the end: ours, the standard library's, the goal
// for ours / theirs (0: no goal, shown for context).
struct Pair {
    const char* title;
    const char* ours;
    const char* theirs;
    double goal;
};
const Pair kPairs[] = {
    {"path building (a level of 100 entries)", "PathBuildTextString", "PathBuildStdString", 1.5},
    {"Format", "FormatTextString", "FormatStdString", 0},
    {"SplitPath", "SplitPathTextString", "SplitPathStdString", 0},
    {"Lookup vs unordered_map", "LookupTextTable", "LookupHashMap", 1.0},
    {"Load 64 MiB vs bare read", "LoadTextTable", "LoadBareRead", 1.2},
};

// Prints the usual table, then each pair's ratio of real times (the median
// where there are repetitions) against its goal.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // Colours only for a terminal.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                median_[name] = run;
            else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && !run.error_occurred)
                single_[name] = run;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n%-42s %12s %12s %7s %6s %s\n", "pair", "ours (ns)", "std (ns)", "ratio",
                    "goal", "allocs ours/std");
        for (const Pair& pair : kPairs) {
            const Run* ours = Find(pair.ours);
            const Run* theirs = Find(pair.theirs);
            if (ours == nullptr || theirs == nullptr)
                continue;
            const double a = NanosecondsOf(*ours), b = NanosecondsOf(*theirs);
            const double ratio = a / b;
            char goal[32] = "-";
            if (pair.goal > 0)
                std::snprintf(goal, sizeof(goal), "%s%.1f",
                              pair.goal == 1.0 ? "<" : "<=", pair.goal);
            const char* verdict = "";
            if (pair.goal > 0)
                verdict =
                    (pair.goal == 1.0 ? ratio < 1.0 : ratio <= pair.goal) ? " met" : " MISSED";
            std::printf("%-42s %12.1f %12.1f %7.2f %6s %s/%s%s\n", pair.title, a, b, ratio, goal,
                        Allocations(*ours).c_str(), Allocations(*theirs).c_str(), verdict);
        }
    }

  private:
    const Run* Find(const std::string& name) const {
        auto found = median_.find(name);
        if (found != median_.end())
            return &found->second;
        found = single_.find(name);
        return found != single_.end() ? &found->second : nullptr;
    }
    static double NanosecondsOf(const Run& run) {
        return run.GetAdjustedRealTime() * 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    static std::string Allocations(const Run& run) {
        auto found = run.counters.find("allocs");
        if (found == run.counters.end())
            return "-";
        std::string text = std::to_string(static_cast<long>(found->second.value));
        auto perEntry = run.counters.find("allocs/entry");
        if (perEntry != run.counters.end()) {
            char entry[32];
            std::snprintf(entry, sizeof(entry), " (%.2f/entry)", perEntry->second.value);
            text += entry;
        }
        return text;
    }
    std::map<std::string, Run> median_;
    std::map<std::string, Run> single_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    unlink(TemporaryPath("load-bench").c_str());
    return 0;
}
