// Times the walk that adds up a package for the space check and the progress
// window:
//
//   measure_package <package-dir> [rounds]
//
// prints the total and the median time of the rounds in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "package_size.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: measure_package <package-dir> [rounds]\n");
        return 1;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const TextString package(argv[1]);
    std::vector<double> times;
    std::uint64_t total = 0;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        // No target: nothing is left out as leading into an installation.
        total = MeasurePackage(package, TextString(), "*.*").bytes;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(times.begin(), times.end());
    std::printf("total %llu bytes; walk %.1f ms (median of %d)\n",
                static_cast<unsigned long long>(total), times[times.size() / 2], rounds);
    return 0;
}
