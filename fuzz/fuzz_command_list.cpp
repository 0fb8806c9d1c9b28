// The command list file as anyone might write it: the entry looked up is
// delivered whole and terminated within 255 characters, or not at all, and
// nothing is written outside the destination.
//
// Input: the entry number in decimal, an LF, then the file's bytes.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cmdlist/command_list.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kDestinationSize = 1000;
constexpr char kUntouched = '\x7E';
constexpr size_t kLongestCommand = 255;

std::string g_directory;

void RemoveScratchDirectory() {
    std::remove((g_directory + "/" + kCommandListFile).c_str());
    rmdir(g_directory.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The list is read from the working directory, so the run gets one of
    // its own; libFuzzer's own paths must therefore be absolute.
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/qel_fuzz_XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr && chdir(pattern.c_str()) == 0, "a scratch directory");
    g_directory = pattern;
    std::atexit(RemoveScratchDirectory);
    AddHostGates();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string head;
    std::string file;
    SplitFirstLine(data, size, &head, &file);
    const int32_t number = static_cast<int32_t>(HeadNumber(head, INT32_MIN, INT32_MAX));

    FILE* list = std::fopen(kCommandListFile, "wb");
    Require(list != nullptr, "the command list can be written");
    Require(std::fwrite(file.data(), 1, file.size(), list) == file.size() && std::fclose(list) == 0,
            "the command list is written whole");

    GuardedBuffer destination(kDestinationSize, kUntouched);
    const int32_t result = FindCommand(number, destination.data(), destination.size());
    Require(destination.GuardsIntact(), "nothing is written outside the destination");
    Require(result == 0 || result == 1, "the lookup answers 0 or 1");

    const char* text = destination.data();
    if (result == 1) {
        for (size_t i = 0; i < kDestinationSize; ++i) {
            Require(text[i] == kUntouched, "a failed lookup leaves the destination untouched");
        }
        return 0;
    }
    const void* end = std::memchr(text, '\0', kDestinationSize);
    Require(end != nullptr, "a delivered command is terminated");
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - text);
    Require(length <= kLongestCommand, "a delivered command holds at most 255 characters");
    for (size_t i = length + 1; i < kDestinationSize; ++i) {
        Require(text[i] == kUntouched, "nothing is written behind the command's NUL");
    }
    return 0;
}
