// Reading one key out of a registry file that holds many values in that
// key: the time per value should not grow with the number of values. Run
// side by side, the 20,000, 40,000 and 200,000 value files (about 1, 2 and
// 10 MB) show it as items per second.
//
// Run: reg_file_bench [--benchmark_...]
#include <string>

#include <benchmark/benchmark.h>

#include "platform/standin/advapi32/reg_file_parser.h"

namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvane Software\\Brenvolt\\1.0";

std::string FileWith(int values) {
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n[" + std::string(kKey) + "]\r\n";
    for (int i = 0; i < values; ++i)
        text += "\"Value" + std::to_string(1000000 + i) +
                "\"=\"C:\\\\Program Files\\\\Brenvolt\\\\x\"\r\n";
    return text;
}

void ParseManyValues(benchmark::State& state) {
    const std::string text = FileWith(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RegistryKeyContents contents;
        RegFileError error;
        if (!ParseRegFile(text.data(), text.size(), kKey, &contents, &error))
            state.SkipWithError(error.reason);
        FreeRegistryValues(&contents);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

BENCHMARK(ParseManyValues)->Arg(20000)->Arg(40000)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
