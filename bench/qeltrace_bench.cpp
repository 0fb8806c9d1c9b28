// qeltrace on a full trace pair: FILE.1 and FILE of 8 MB each (a site's day:
// two instances interleaved, "#" writes every few seconds with refusals, a
// silence of two minutes and a lost port), summarised as text and written
// as the page with every gate's history; each gate's history and the state
// at a moment. The goal on one core: the summary, the history and the state
// under 1 s each, the page under 2 s.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "gate_log.h"
#include "inputs.h"
#include "report.h"
#include "summary.h"
#include "views.h"

namespace {

constexpr uint64_t kFileBytes = 8u * 1024u * 1024u;

std::string Stamp(int64_t ms) {
    const int64_t day = ms / 1000 % 86400;
    char text[40];
    std::snprintf(text, sizeof text, "2026-12-07T%02d:%02d:%02d.%03d+01:00", static_cast<int>(day / 3600),
                  static_cast<int>(day / 60 % 60), static_cast<int>(day % 60), static_cast<int>(ms % 1000));
    return text;
}

// Writes one file of at most kFileBytes from *ms on; returns the time reached.
int64_t WriteDay(const std::string& path, int64_t ms, uint64_t* requests) {
    std::ofstream out(path, std::ios::binary);
    uint64_t written = 0;
    auto line = [&](int instance, int64_t at, const std::string& body) {
        const std::string text = Stamp(at) + " [" + std::to_string(instance) + "] " + body + "\n";
        out << text;
        written += text.size();
    };
    while (written < kFileBytes - 4096) {
        for (int instance = 1; instance <= 2; ++instance) {
            const uint64_t n = ++*requests;
            const bool silent = n % 5000 > 4900;  // two minutes and more of silence now and then
            const bool refused = n % 97 == 0;
            line(instance, ms, "WRITE_GATE 0102 value " + std::to_string(n % 31));
            line(instance, ms, "TRY 1 of 3");
            line(instance, ms, "TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>");
            line(instance, ms, "WAIT 80 ms before reading the reply");
            if (silent) {
                line(instance, ms + 280, "RX none 280 ms after TX: 0 bytes");
                line(instance, ms + 280, "STATS line NO ANSWER since the start: 3 transmissions");
                line(instance, ms + 280, "NOTE result 0 not confirmed by the switcher");
                line(instance, ms + 280, "END WRITE_GATE result 0 after 280 ms");
            } else if (refused) {
                line(instance, ms + 80, "RX refused 80 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>");
                line(instance, ms + 80, "REASON switcher refused all three tries (?<CR><LF>)");
                line(instance, ms + 80, "STATS line OK since the start: 3 transmissions");
                line(instance, ms + 80, "END WRITE_GATE result 1 after 842 ms");
            } else {
                line(instance, ms + 80, "RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>");
                line(instance, ms + 80, "STATS line OK since the start: 4 transmissions");
                line(instance, ms + 81, "END WRITE_GATE result 0 after 81 ms");
            }
        }
        ms += 1500;
    }
    return ms;
}

struct Pair {
    std::filesystem::path folder;
    std::string file;
    uint64_t bytes = 0;
    Pair() {
        folder = std::filesystem::temp_directory_path() / "qeltrace-bench";
        std::filesystem::create_directories(folder);
        file = (folder / "qelkophv-trace.txt").string();
        uint64_t requests = 0;
        const int64_t ms = WriteDay(file + ".1", 0, &requests);
        WriteDay(file, ms, &requests);
        bytes = std::filesystem::file_size(file) + std::filesystem::file_size(file + ".1");
    }
    ~Pair() { std::filesystem::remove_all(folder); }
};

const Pair& ThePair() {
    static const Pair pair;
    return pair;
}

void Read(const std::vector<std::string>& files, qeltrace::Summary* summary) {
    std::string error;
    for (const std::string& file : files) {
        qeltrace::ReadLines(
            file,
            [&](std::string_view line, const std::string& name, uint64_t number) {
                summary->Feed(line, name, number);
                return true;
            },
            &error);
    }
    summary->Finish();
}

void TextSummary(benchmark::State& state) {
    const Pair& pair = ThePair();
    for (auto _ : state) {
        std::vector<std::string> files;
        std::string error;
        qeltrace::OrderInputs({pair.file}, &files, &error);
        qeltrace::Summary summary;
        Read(files, &summary);
        std::ostringstream out;
        qeltrace::WriteText(summary, files, out);
        benchmark::DoNotOptimize(out.str().size());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pair.bytes));
}
BENCHMARK(TextSummary)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReadGates(const std::vector<std::string>& files, qeltrace::GateLog* log) {
    std::string error;
    for (const std::string& file : files) {
        qeltrace::ReadLines(
            file,
            [&](std::string_view line, const std::string&, uint64_t) {
                log->Feed(line);
                return true;
            },
            &error);
    }
    log->Finish();
}

void Page(benchmark::State& state) {
    const Pair& pair = ThePair();
    for (auto _ : state) {
        std::vector<std::string> files;
        std::string error;
        qeltrace::OrderInputs({pair.file}, &files, &error);
        qeltrace::Summary summary({}, true);
        qeltrace::GateLog gates({}, false, false);
        std::string err;
        for (const std::string& file : files) {
            qeltrace::ReadLines(
                file,
                [&](std::string_view line, const std::string& name, uint64_t number) {
                    summary.Feed(line, name, number);
                    gates.Feed(line);
                    return true;
                },
                &err);
        }
        summary.Finish();
        gates.Finish();
        std::ofstream page(pair.folder / "page.html", std::ios::binary);
        qeltrace::WriteHtml(summary, files, page, &gates.Requests());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pair.bytes));
}
BENCHMARK(Page)->Unit(benchmark::kMillisecond)->UseRealTime();

// --history of one gate, and --at a moment halfway.
void GateView(benchmark::State& state) {
    const Pair& pair = ThePair();
    const bool history = state.range(0) == 1;
    for (auto _ : state) {
        std::vector<std::string> files;
        std::string error;
        qeltrace::OrderInputs({pair.file}, &files, &error);
        qeltrace::Filter filter;
        if (history) {
            filter.gate = "0102";
        }
        qeltrace::GateLog log(filter, false, false);
        ReadGates(files, &log);
        std::ostringstream out;
        if (history) {
            qeltrace::WriteHistory(log.Requests(), false, out);
        } else {
            const auto& requests = log.Requests();
            qeltrace::WriteStateAt(requests, requests[requests.size() / 2].time.utcMs, false, "", false, out);
        }
        benchmark::DoNotOptimize(out.str().size());
    }
    state.SetLabel(history ? "--history" : "--at");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pair.bytes));
}
BENCHMARK(GateView)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
