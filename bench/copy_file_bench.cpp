// Overwriting many small existing files: in place (truncate and rewrite the
// same file, as CopyFileA does) against writing a new file and renaming it
// over the old one. Both variants copy with copy_file_range and keep the
// permissions and last-write time, so they differ only in how the target
// is replaced. CopyFileA itself runs alongside, with its share-mode locks.
//
// Run: copy_file_bench [--benchmark_...]; BENCH_DIR picks the file system
// (default: the temporary directory).
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "platform/win32_api.h"

namespace {

const int kFiles = 200;
const int kFileSize = 4096;

struct Tree {
    std::string source;
    std::string target;
};

std::string FileName(const std::string& directory, int i) {
    return directory + "/file" + std::to_string(i) + ".dat";
}

Tree& SharedTree() {
    static Tree tree = [] {
        const char* base = std::getenv("BENCH_DIR");
        std::string root = std::string(base != nullptr ? base : "/tmp") + "/copy-bench-XXXXXX";
        if (mkdtemp(&root[0]) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        Tree made{root + "/source", root + "/target"};
        mkdir(made.source.c_str(), 0777);
        mkdir(made.target.c_str(), 0777);
        std::string contents(kFileSize, 'x');
        for (int i = 0; i < kFiles; ++i) {
            for (const std::string& directory : {made.source, made.target}) {
                int fd = open(FileName(directory, i).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (write(fd, contents.data(), contents.size()) != kFileSize)
                    std::exit(1);
                close(fd);
            }
        }
        return made;
    }();
    return tree;
}

void CopyInto(int from, int to, const struct stat& info) {
    while (copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0) > 0) {
    }
    fchmod(to, info.st_mode & 07777);
    struct timespec times[2] = {{0, UTIME_NOW}, info.st_mtim};
    futimens(to, times);
}

void OverwriteInPlace(const std::string& from, const std::string& to) {
    int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    fstat(source, &info);
    int target = open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    CopyInto(source, target, info);
    close(target);
    close(source);
}

void WriteNewAndRename(const std::string& from, const std::string& to) {
    int source = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    fstat(source, &info);
    std::string temporary = to + ".new";
    int target = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    CopyInto(source, target, info);
    close(target);
    rename(temporary.c_str(), to.c_str());
    close(source);
}

void CopyFileWin32(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        std::exit(2);
}

template <void (*Replace)(const std::string&, const std::string&)>
void ReplaceAll(benchmark::State& state) {
    Tree& tree = SharedTree();
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i)
            Replace(FileName(tree.source, i), FileName(tree.target, i));
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

BENCHMARK(ReplaceAll<OverwriteInPlace>)->Name("InPlace")->Unit(benchmark::kMillisecond);
BENCHMARK(ReplaceAll<WriteNewAndRename>)->Name("NewAndRename")->Unit(benchmark::kMillisecond);
BENCHMARK(ReplaceAll<CopyFileWin32>)->Name("CopyFileA")->Unit(benchmark::kMillisecond);

// Prints the usual table, then how the two ways compare.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // The median of repetitions where there are some, else the one run.
        for (const Run& run : runs) {
            const std::string& name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                median_[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            else if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                single_[name] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        Times inPlace = TimesOf("InPlace"), renamed = TimesOf("NewAndRename");
        if (inPlace.wall > 0 && inPlace.cpu > 0)
            std::printf("new file and rename / in place: %.2f wall time, %.2f CPU time\n",
                        renamed.wall / inPlace.wall, renamed.cpu / inPlace.cpu);
    }

  private:
    struct Times {
        double wall = 0;
        double cpu = 0;
    };
    Times TimesOf(const std::string& name) {
        if (median_.count(name))
            return median_[name];
        return single_.count(name) ? single_[name] : Times{};
    }
    std::map<std::string, Times> median_;
    std::map<std::string, Times> single_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    Tree& tree = SharedTree();
    std::string root = tree.source.substr(0, tree.source.rfind('/'));
    std::string remove = "rm -rf '" + root + "'";
    return std::system(remove.c_str()) == 0 ? 0 : 1;
}
