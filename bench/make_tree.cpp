// Writes a deterministic tree of files for the copy benchmarks:
//
//   make_tree <dir> <fanout> <depth> <files-per-leaf> <file-size> <seed> <mtime>
//
// <depth> levels of <fanout> directories each ("d0".."d<fanout-1>"), and
// in every directory of the last level (or in <dir> itself when <depth>
// is 0) <files-per-leaf> files "f000.dat"... of <file-size> bytes. The bytes
// come from a generator seeded with <seed> and the file's number, so the
// same arguments always make the same tree and another seed makes other
// contents under the same names. Every file gets the last-write time
// <mtime> (seconds since 1970).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Shape {
    long fanout;
    long depth;
    long files;
    long size;
    std::uint64_t seed;
    long mtime;
};

long fileNumber = 0;

void Fail(const std::string& what) {
    std::perror(what.c_str());
    std::exit(1);
}

void WriteFile(const std::string& path, const Shape& shape, std::vector<std::uint64_t>& buffer) {
    // xorshift64*: fast, and plenty for bytes that must not compress or repeat.
    std::uint64_t state = (shape.seed + 1) * 0x9E3779B97F4A7C15ull ^ (++fileNumber << 20);
    const std::size_t words = static_cast<std::size_t>((shape.size + 7) / 8);
    if (buffer.size() < words)
        buffer.resize(words);
    for (std::size_t i = 0; i < words; ++i) {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        buffer[i] = state * 0x2545F4914F6CDD1Dull;
    }
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        Fail(path);
    const char* bytes = reinterpret_cast<const char*>(buffer.data());
    for (long done = 0; done < shape.size;) {
        ssize_t count = write(fd, bytes + done, static_cast<std::size_t>(shape.size - done));
        if (count <= 0)
            Fail(path);
        done += count;
    }
    struct timespec times[2] = {{shape.mtime, 0}, {shape.mtime, 0}};
    if (futimens(fd, times) != 0 || close(fd) != 0)
        Fail(path);
}

void MakeLevel(const std::string& dir, long level, const Shape& shape,
               std::vector<std::uint64_t>& buffer) {
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        Fail(dir);
    if (level == shape.depth) {
        for (long i = 0; i < shape.files; ++i) {
            char name[32];
            std::snprintf(name, sizeof(name), "/f%03ld.dat", i);
            WriteFile(dir + name, shape, buffer);
        }
        return;
    }
    for (long i = 0; i < shape.fanout; ++i)
        MakeLevel(dir + "/d" + std::to_string(i), level + 1, shape, buffer);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: make_tree <dir> <fanout> <depth> <files-per-leaf> <file-size> "
                             "<seed> <mtime>\n");
        return 2;
    }
    Shape shape{std::atol(argv[2]),
                std::atol(argv[3]),
                std::atol(argv[4]),
                std::atol(argv[5]),
                std::strtoull(argv[6], nullptr, 10),
                std::atol(argv[7])};
    std::vector<std::uint64_t> buffer;
    MakeLevel(argv[1], 0, shape, buffer);
    return 0;
}
