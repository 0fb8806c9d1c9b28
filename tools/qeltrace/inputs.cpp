// Reading trace files as streams: a block at a time, so that memory stays
// the same for a small trace and for a full 8 MB pair.
#include "inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "trace_reader.h"

namespace qeltrace {
namespace {

constexpr size_t kBlock = 1 << 20;
// A line longer than this (the driver writes at most 1023 characters) is
// handed on cut: it is no trace line.
constexpr size_t kLongestLine = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool Open(const std::string& name, std::unique_ptr<std::FILE, FileCloser>* file, std::string* error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(name, ignored)) {
        *error = name + " is a folder, not a trace file";
        return false;
    }
    // Only a regular file is opened: a FIFO would wait for a writer, a
    // device such as /dev/zero never ends.
    const auto status = std::filesystem::status(name, ignored);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        *error = name + " is not a regular file (a FIFO, a device or a socket): give a trace file";
        return false;
    }
    file->reset(std::fopen(name.c_str(), "rb"));
    if (!*file) {
        *error = "cannot open " + name + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// The time of the file's first line that has one; files without any go last.
int64_t FirstTime(const std::string& name) {
    int64_t first = INT64_MAX;
    std::string ignored;
    ReadLines(
        name,
        [&](std::string_view line, const std::string&, uint64_t number) {
            qeltools::TimeStamp time{};
            if (qeltools::ParseStamp(line, &time)) {
                first = time.utcMs;
                return false;
            }
            return number < 1000;
        },
        &ignored);
    return first;
}

}  // namespace

bool ReadLines(const std::string& name, const LineSink& sink, std::string* error) {
    std::unique_ptr<std::FILE, FileCloser> file;
    if (!Open(name, &file, error)) {
        return false;
    }
    std::vector<char> block(kBlock);
    std::string carried;  // the start of a line that the last block cut
    uint64_t number = 0;
    size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file.get())) > 0) {
        std::string_view data(block.data(), got);
        size_t at = 0;
        while (at < data.size()) {
            const size_t end = data.find('\n', at);
            if (end == std::string_view::npos) {
                if (carried.size() < kLongestLine) {
                    carried.append(data.substr(at, kLongestLine - carried.size()));
                }
                break;
            }
            ++number;
            bool more = true;
            if (carried.empty()) {
                more = sink(data.substr(at, std::min(end - at, kLongestLine)), name, number);
            } else {
                if (carried.size() < kLongestLine) {
                    carried.append(data.substr(at, std::min(end - at, kLongestLine - carried.size())));
                }
                more = sink(carried, name, number);
                carried.clear();
            }
            if (!more) {
                return true;
            }
            at = end + 1;
        }
    }
    if (std::ferror(file.get())) {
        *error = "cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    if (!carried.empty()) {
        sink(carried, name, ++number);  // the last line, without its end: perhaps cut
    }
    return true;
}

bool OrderInputs(const std::vector<std::string>& names, std::vector<std::string>* files, std::string* error) {
    std::vector<std::string> all;
    auto add = [&](const std::string& name) {
        if (std::find(all.begin(), all.end(), name) == all.end()) {
            all.push_back(name);
        }
    };
    for (const std::string& name : names) {
        std::error_code ignored;
        const std::string older = name + ".1";
        const bool olderThere = std::filesystem::is_regular_file(older, ignored);
        if (olderThere) {
            add(older);
        }
        // Right after a roll-over only FILE.1 may be there.
        if (!olderThere || std::filesystem::exists(name, ignored)) {
            add(name);
        }
    }
    std::vector<std::pair<int64_t, std::string>> timed;
    for (const std::string& name : all) {
        std::unique_ptr<std::FILE, FileCloser> file;
        if (!Open(name, &file, error)) {
            return false;
        }
        timed.emplace_back(FirstTime(name), name);
    }
    // Files that begin at the same time keep the order given (FILE.1 first).
    std::stable_sort(timed.begin(), timed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    files->clear();
    for (auto& [time, name] : timed) {
        files->push_back(std::move(name));
    }
    return true;
}

}  // namespace qeltrace
