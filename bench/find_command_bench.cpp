// The worst case an operator can set up within the limits: the requested
// entry is the last line of a 10,000-line list, so every call reads the
// whole file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "cmdlist/command_list.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFileLines = 10000;

// Marker line, entries 1 to 9998, end marker.
void WriteList() {
    std::ofstream file(kCommandListFile, std::ios::binary | std::ios::trunc);
    file << "StartOfCommandList\n";
    for (int number = 1; number <= kFileLines - 2; ++number) {
        file << number << ",   #01025" << number % 10 << " ; route camera " << number << " to monitor 2\n";
    }
    file << "EndOfCommandList\n";
}

void FindLastEntry(benchmark::State& state) {
    const fs::path previous = fs::current_path();
    const fs::path directory = fs::temp_directory_path() / "qel_find_command_bench";
    fs::create_directories(directory);
    fs::current_path(directory);
    WriteList();

    char commandBuffer[1000];
    for (auto _ : state) {
        int32_t result = FindCommand(kFileLines - 2, commandBuffer, sizeof commandBuffer);
        benchmark::DoNotOptimize(result);
        if (result != 0) {
            state.SkipWithError("last entry not found");
            break;
        }
    }

    fs::current_path(previous);
    fs::remove_all(directory);
}

}  // namespace

BENCHMARK(FindLastEntry)->Unit(benchmark::kMicrosecond);
