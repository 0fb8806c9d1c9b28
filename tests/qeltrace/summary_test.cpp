// The summary's rules on small traces written for each: what a field
// engineer reads from them must be exactly what happened.
#include "summary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "inputs.h"
#include "options.h"
#include "report.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace qeltrace {
namespace {

// "10:00:00.000 [1] LOAD COM3" -> a trace line of 2026-12-07 at +01:00; a
// line that begins with "20" is taken as it stands.
std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) {
        text += std::string_view(line).substr(0, 2) == "20" ? "" : "2026-12-07T";
        const std::string_view rest(line);
        const size_t space = rest.find(' ');
        text += std::string(rest.substr(0, space));
        if (std::string_view(line).substr(0, 2) != "20") {
            text += "+01:00";
        }
        text += std::string(rest.substr(space)) + "\n";
    }
    return text;
}

struct Expected {
    size_t instances;
    uint64_t requests, failed, retries, refusals, silentReads, unconfirmed, unfinished;
    uint64_t malformed, unknown;
    std::string outages;  // "STATE ms" of each NO ANSWER and LOST period, in order
    std::string reopens;  // "ms" of each reopen after its loss
    std::string reason;   // the first reason group: "COUNT text"
    std::string gates;    // the first reason group's gates named, and how many more ("" not checked)
};

struct Case {
    const char* name;
    // File name -> contents; the summary is asked for the last file's name.
    std::vector<std::pair<std::string, std::string>> files;
    Expected expected;
};

const std::string kLoad = Lines({
    "10:00:00.000 [1] LOAD COM3",
    "10:00:00.000 [1] LINE 9600 baud, 8 data bits, stop bits code 0, parity code 0, read time-out 20 x 10 ms",
    "10:00:00.001 [1] PORT COM3 opened",
    "10:00:00.001 [1] STATS line OPEN since the start: 0 transmissions",
    "10:00:00.001 [1] END LOAD result 0 after 1 ms",
});

const Case kCases[] = {
    {"a refused write and values out of range, one reason row for both values",
     {{"t", kLoad + Lines({
                        "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                        "10:00:01.000 [1] TRY 1 of 3",
                        "10:00:01.000 [1] TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>",
                        "10:00:01.280 [1] RX refused 280 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>",
                        "10:00:01.280 [1] TRY 2 of 3",
                        "10:00:01.560 [1] RX refused 280 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>",
                        "10:00:01.560 [1] TRY 3 of 3",
                        "10:00:01.840 [1] RX refused 280 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>",
                        "10:00:01.840 [1] REASON switcher refused all three tries (?<CR><LF>)",
                        "10:00:01.840 [1] STATS line OK since the start: 3 transmissions",
                        "10:00:01.840 [1] END WRITE_GATE result 1 after 842 ms",
                        "10:00:02.000 [1] WRITE_GATE 0102 value 31",
                        "10:00:02.000 [1] REASON value 31 out of range 0-30",
                        "10:00:02.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:03.000 [1] WRITE_GATE 0103 value 40",
                        "10:00:03.000 [1] REASON value 40 out of range 0-30",
                        "10:00:03.000 [1] END WRITE_GATE result 1 after 0 ms",
                    })}},
     {1, 4, 3, 2, 3, 0, 0, 0, 0, 0, "", "", "1 switcher refused all three tries (?<CR><LF>)"}},
    {"a silent switcher: the period runs from the first read with nothing to the first answer",
     {{"t", kLoad + Lines({
                        "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                        "10:00:01.200 [1] RX none 200 ms after TX: 0 bytes",
                        "10:00:01.400 [1] RX none 200 ms after TX: 0 bytes",
                        "10:00:01.600 [1] RX none 200 ms after TX: 0 bytes",
                        "10:00:01.600 [1] NOTE result 0 not confirmed by the switcher",
                        "10:00:01.600 [1] STATS line NO ANSWER since the start: 3 transmissions",
                        "10:00:01.600 [1] END WRITE_GATE result 0 after 600 ms",
                        "10:02:01.000 [1] WRITE_GATE 0102 value 6",
                        "10:02:01.200 [1] RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
                        "10:02:01.200 [1] STATS line OK since the start: 4 transmissions",
                        "10:02:01.200 [1] END WRITE_GATE result 0 after 200 ms",
                    })}},
     {1, 3, 0, 0, 0, 3, 1, 0, 0, 0, "NO ANSWER 120000", "", ""}},
    {"a lost port, a failed reopen and the reopen",
     {{"t", kLoad + Lines({
                        "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                        "10:00:01.000 [1] PORT COM3 lost (OS error 5: Input/output error)",
                        "10:00:01.000 [1] REASON line write failed on COM3 after 0 of 9 bytes (OS error 5: I/O)",
                        "10:00:01.000 [1] STATS line LOST since the start: 0 transmissions",
                        "10:00:01.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:03.000 [1] WRITE_GATE 0102 value 6",
                        "10:00:03.000 [1] PORT COM3 reopen failed (OS error 2: No such file)",
                        "10:00:03.000 [1] REASON port COM3 lost, next reopen try in 2.0 s",
                        "10:00:03.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:05.500 [1] WRITE_GATE 0102 value 7",
                        "10:00:05.500 [1] PORT COM3 reopened",
                        "10:00:05.580 [1] RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
                        "10:00:05.580 [1] STATS line OK since the start: 1 transmissions",
                        "10:00:05.580 [1] END WRITE_GATE result 0 after 80 ms",
                    })}},
     {1, 4, 2, 0, 0, 0, 0, 0, 0, 0, "LOST 4500", "4500",
      "1 line write failed on COM3 after 0 of 9 bytes (OS error 5: I/O)"}},
    {"after a loss the line is silent: the loss ends at the reopen; the silence at the trace's end is still so",
     {{"t", kLoad + Lines({
                        "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                        "10:00:01.000 [1] PORT COM3 lost (OS error 5: Input/output error)",
                        "10:00:01.000 [1] STATS line LOST since the start: 0 transmissions",
                        "10:00:01.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:03.000 [1] WRITE_GATE 0102 value 6",
                        "10:00:03.000 [1] PORT COM3 reopened",
                        "10:00:03.280 [1] RX none 280 ms after TX: 0 bytes",
                        "10:00:03.280 [1] STATS line NO ANSWER since the start: 1 transmissions",
                        "10:00:03.280 [1] END WRITE_GATE result 0 after 280 ms",
                    })}},
     {1, 3, 1, 0, 0, 1, 0, 0, 0, 0, "LOST 2000; NO ANSWER 280 (still no answer at the end of the trace)", "2000", ""}},
    {"a loss that the stop ends did not recover",
     {{"t", kLoad + Lines({
                        "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                        "10:00:01.000 [1] PORT COM3 lost (OS error 5: Input/output error)",
                        "10:00:01.000 [1] STATS line LOST since the start: 0 transmissions",
                        "10:00:01.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:02.000 [1] STOP",
                        "10:00:02.000 [1] STATS line CLOSED since the start: 0 transmissions",
                        "10:00:02.000 [1] END STOP result 0 after 0 ms",
                    })}},
     {1, 3, 1, 0, 0, 0, 0, 0, 0, 0, "LOST 1000 (ended by the stop)", "", ""}},
    {"a reason given three times for each of 9 gates names 5 of them and 4 more",
     {{"t", kLoad + Lines({
                        "10:00:10.100 [1] WRITE_GATE S0104 text \"1\"",
                        "10:00:10.100 [1] REASON no list file",
                        "10:00:10.100 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.200 [1] WRITE_GATE S0204 text \"1\"",
                        "10:00:10.200 [1] REASON no list file",
                        "10:00:10.200 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.300 [1] WRITE_GATE S0304 text \"1\"",
                        "10:00:10.300 [1] REASON no list file",
                        "10:00:10.300 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.400 [1] WRITE_GATE S0404 text \"1\"",
                        "10:00:10.400 [1] REASON no list file",
                        "10:00:10.400 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.500 [1] WRITE_GATE S0504 text \"1\"",
                        "10:00:10.500 [1] REASON no list file",
                        "10:00:10.500 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.600 [1] WRITE_GATE S0604 text \"1\"",
                        "10:00:10.600 [1] REASON no list file",
                        "10:00:10.600 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.700 [1] WRITE_GATE S0704 text \"1\"",
                        "10:00:10.700 [1] REASON no list file",
                        "10:00:10.700 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.800 [1] WRITE_GATE S0804 text \"1\"",
                        "10:00:10.800 [1] REASON no list file",
                        "10:00:10.800 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:10.900 [1] WRITE_GATE S0904 text \"1\"",
                        "10:00:10.900 [1] REASON no list file",
                        "10:00:10.900 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.000 [1] WRITE_GATE S0104 text \"1\"",
                        "10:00:11.000 [1] REASON no list file",
                        "10:00:11.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.100 [1] WRITE_GATE S0204 text \"1\"",
                        "10:00:11.100 [1] REASON no list file",
                        "10:00:11.100 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.200 [1] WRITE_GATE S0304 text \"1\"",
                        "10:00:11.200 [1] REASON no list file",
                        "10:00:11.200 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.300 [1] WRITE_GATE S0404 text \"1\"",
                        "10:00:11.300 [1] REASON no list file",
                        "10:00:11.300 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.400 [1] WRITE_GATE S0504 text \"1\"",
                        "10:00:11.400 [1] REASON no list file",
                        "10:00:11.400 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.500 [1] WRITE_GATE S0604 text \"1\"",
                        "10:00:11.500 [1] REASON no list file",
                        "10:00:11.500 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.600 [1] WRITE_GATE S0704 text \"1\"",
                        "10:00:11.600 [1] REASON no list file",
                        "10:00:11.600 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.700 [1] WRITE_GATE S0804 text \"1\"",
                        "10:00:11.700 [1] REASON no list file",
                        "10:00:11.700 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.800 [1] WRITE_GATE S0904 text \"1\"",
                        "10:00:11.800 [1] REASON no list file",
                        "10:00:11.800 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:11.900 [1] WRITE_GATE S0104 text \"1\"",
                        "10:00:11.900 [1] REASON no list file",
                        "10:00:11.900 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.000 [1] WRITE_GATE S0204 text \"1\"",
                        "10:00:12.000 [1] REASON no list file",
                        "10:00:12.000 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.100 [1] WRITE_GATE S0304 text \"1\"",
                        "10:00:12.100 [1] REASON no list file",
                        "10:00:12.100 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.200 [1] WRITE_GATE S0404 text \"1\"",
                        "10:00:12.200 [1] REASON no list file",
                        "10:00:12.200 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.300 [1] WRITE_GATE S0504 text \"1\"",
                        "10:00:12.300 [1] REASON no list file",
                        "10:00:12.300 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.400 [1] WRITE_GATE S0604 text \"1\"",
                        "10:00:12.400 [1] REASON no list file",
                        "10:00:12.400 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.500 [1] WRITE_GATE S0704 text \"1\"",
                        "10:00:12.500 [1] REASON no list file",
                        "10:00:12.500 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.600 [1] WRITE_GATE S0804 text \"1\"",
                        "10:00:12.600 [1] REASON no list file",
                        "10:00:12.600 [1] END WRITE_GATE result 1 after 0 ms",
                        "10:00:12.700 [1] WRITE_GATE S0904 text \"1\"",
                        "10:00:12.700 [1] REASON no list file",
                        "10:00:12.700 [1] END WRITE_GATE result 1 after 0 ms",
                    })}},
     {1, 28, 27, 0, 0, 0, 0, 0, 0, 0, "", "", "27 no list file", "S0104, S0204, S0304, S0404, S0504 and 4 more"}},
    {"two instances interleaved in one file, each request with its own end",
     {{"t", Lines({
                "10:00:00.000 [1] LOAD COM3",
                "10:00:00.000 [2] LOAD COM4",
                "10:00:00.001 [1] END LOAD result 0 after 1 ms",
                "10:00:00.001 [2] END LOAD result 0 after 1 ms",
                "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                "10:00:01.000 [2] WRITE_GATE 0304 value 7",
                "10:00:01.080 [2] RX refused 80 ms after TX: 3 bytes 3F 0D 0A  ?<CR><LF>",
                "10:00:01.080 [1] RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
                "10:00:01.080 [1] END WRITE_GATE result 0 after 80 ms",
                "10:00:01.160 [2] REASON switcher refused (?<CR><LF>)",
                "10:00:01.160 [2] END WRITE_GATE result 1 after 160 ms",
            })}},
     {2, 4, 1, 0, 1, 0, 0, 0, 0, 0, "", "", "1 switcher refused (?<CR><LF>)"}},
    {"a roll-over pair: FILE.1 is read first, and a request spanning both counts once",
     {{"t.1", kLoad + Lines({
                          "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                          "10:00:01.000 [1] TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>",
                      })},
      {"t", Lines({
                "10:00:01.080 [1] RX none 80 ms after TX: 0 bytes",
                "10:00:01.080 [1] END WRITE_GATE result 0 after 80 ms",
                "10:00:02.000 [1] STOP",
                "10:00:02.000 [1] END STOP result 0 after 0 ms",
            })}},
     {1, 3, 0, 0, 0, 1, 0, 0, 0, 0, "", "", ""}},
    {"cut and malformed lines are counted, lines of an unknown kind too, and the rest is read",
     {{"t", kLoad +
                Lines({
                    "10:00:01.000 [1] WRITE_GATE 0102 value 5",
                    "10:00:01.080 [1] END WRITE_GATE result 1 af",
                    "10:00:02.000 [1] FUTURE a word of a later driver",
                }) +
                "2026-12-07T10:00:0\nnot a trace line\n" + Lines({"10:00:03.000 [1] WRITE_GATE 0102 value 6"})}},
     {1, 3, 0, 0, 0, 0, 0, 2, 3, 1, "", "", ""}},
    {"a clock change seen in the offset: the silence lasts 2 minutes, not 58 backwards",
     {{"t", Lines({
                "2026-10-25T02:58:00.000+02:00 [1] LOAD COM3",
                "2026-10-25T02:58:00.000+02:00 [1] END LOAD result 0 after 0 ms",
                "2026-10-25T02:59:00.000+02:00 [1] WRITE_GATE 0102 value 5",
                "2026-10-25T02:59:00.200+02:00 [1] RX none 200 ms after TX: 0 bytes",
                "2026-10-25T02:59:00.400+02:00 [1] RX none 200 ms after TX: 0 bytes",
                "2026-10-25T02:59:00.600+02:00 [1] RX none 200 ms after TX: 0 bytes",
                "2026-10-25T02:59:00.600+02:00 [1] STATS line NO ANSWER since the start: 3 transmissions",
                "2026-10-25T02:59:00.600+02:00 [1] END WRITE_GATE result 0 after 600 ms",
                "2026-10-25T02:01:00.000+01:00 [1] WRITE_GATE 0102 value 6",
                "2026-10-25T02:01:00.200+01:00 [1] RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
                "2026-10-25T02:01:00.200+01:00 [1] STATS line OK since the start: 4 transmissions",
                "2026-10-25T02:01:00.200+01:00 [1] END WRITE_GATE result 0 after 200 ms",
            })}},
     {1, 3, 0, 0, 0, 3, 0, 0, 0, 0, "NO ANSWER 120000", "", ""}},
};

class SummaryRules : public ::testing::TestWithParam<Case> {};

TEST_P(SummaryRules, GivesTheFiguresOfWhatHappened) {
    const Case& c = GetParam();
    const auto folder = std::filesystem::temp_directory_path() /
                        ("qeltrace-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                         std::to_string(reinterpret_cast<uintptr_t>(&c)));
    std::filesystem::create_directories(folder);
    for (const auto& [name, text] : c.files) {
        std::ofstream(folder / name, std::ios::binary) << text;
    }
    std::vector<std::string> files;
    std::string error;
    ASSERT_TRUE(OrderInputs({(folder / c.files.back().first).string()}, &files, &error)) << error;
    ASSERT_EQ(files.size(), c.files.size());
    Summary summary;
    for (const std::string& file : files) {
        ASSERT_TRUE(ReadLines(
            file,
            [&](std::string_view line, const std::string& name, uint64_t number) {
                summary.Feed(line, name, number);
                return true;
            },
            &error));
    }
    summary.Finish();
    std::filesystem::remove_all(folder);

    const Expected& e = c.expected;
    const Figures total = summary.Total();
    EXPECT_EQ(summary.Instances().size(), e.instances);
    EXPECT_EQ(total.all.requests, e.requests);
    EXPECT_EQ(total.all.results[1], e.failed);
    EXPECT_EQ(total.all.retries, e.retries);
    EXPECT_EQ(total.all.refusals, e.refusals);
    EXPECT_EQ(total.all.silentReads, e.silentReads);
    EXPECT_EQ(total.all.unconfirmed, e.unconfirmed);
    EXPECT_EQ(total.all.unfinished, e.unfinished);
    EXPECT_EQ(summary.Malformed(), e.malformed);
    EXPECT_EQ(summary.UnknownKinds(), e.unknown);
    std::string outages, reopens;
    for (const Period& period : summary.Outages()) {
        outages +=
            (outages.empty() ? "" : "; ") + period.state + " " + std::to_string(period.LengthMs()) + period.EndNote();
    }
    for (const Reopen& reopen : summary.Reopens()) {
        reopens += (reopens.empty() ? "" : "; ") + std::to_string(reopen.reopened.utcMs - reopen.lost.utcMs);
    }
    EXPECT_EQ(outages, e.outages);
    EXPECT_EQ(reopens, e.reopens);
    EXPECT_EQ(total.reasons.empty() ? "" : std::to_string(total.reasons[0].count) + " " + total.reasons[0].Text(),
              e.reason);
    if (!e.gates.empty()) {
        std::string gates;
        for (const std::string& gate : total.reasons[0].gates) {
            gates += (gates.empty() ? "" : ", ") + gate;
        }
        EXPECT_EQ(gates + " and " + std::to_string(total.reasons[0].moreGates) + " more", e.gates);
    }
}

INSTANTIATE_TEST_SUITE_P(Traces, SummaryRules, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return "case" + std::to_string(param.index); });

}  // namespace
}  // namespace qeltrace

namespace qeltrace {
namespace {

// One instance on COM3 with a silence at 10:05, one on COM4.
const std::string kTwoLines = Lines({
    "10:00:00.000 [1] LOAD COM3",
    "10:00:00.000 [1] END LOAD result 0 after 0 ms",
    "10:00:00.000 [2] LOAD COM4",
    "10:00:00.000 [2] END LOAD result 0 after 0 ms",
    "10:01:00.000 [1] WRITE_GATE 0102 value 5",
    "10:01:00.000 [1] END WRITE_GATE result 0 after 80 ms",
    "10:01:00.000 [2] WRITE_GATE 0102 value 5",
    "10:01:00.000 [2] END WRITE_GATE result 0 after 80 ms",
    "10:05:00.000 [1] WRITE_GATE 0103 value 5",
    "10:05:00.200 [1] RX none 200 ms after TX: 0 bytes",
    "10:05:00.200 [1] STATS line NO ANSWER since the start: 1 transmissions",
    "10:05:00.600 [1] END WRITE_GATE result 0 after 600 ms",
    "10:09:00.000 [1] WRITE_GATE 0102 value 6",
    "10:09:00.080 [1] RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
    "10:09:00.080 [1] STATS line OK since the start: 2 transmissions",
    "10:09:00.080 [1] END WRITE_GATE result 0 after 80 ms",
});

struct FilterCase {
    std::vector<std::string> args;
    uint64_t requests;
    size_t outages;
};

const FilterCase kFilterCases[] = {
    {{}, 6, 1},
    {{"--instance", "2"}, 2, 0},
    {{"--gate", "0102"}, 3, 1},  // the line's state is the instance's, whatever the gate
    {{"--from", "10:04", "--to", "10:06"}, 1, 1},
    {{"--from", "2026-12-07T10:04:00+01:00", "--to", "2026-12-07T09:06+00:00"}, 1, 1},
    {{"--from", "10:10"}, 0, 0},
};

class SummaryFilters : public ::testing::TestWithParam<FilterCase> {};

TEST_P(SummaryFilters, CountOnlyWhatTheyLetThrough) {
    Options options;
    std::vector<std::string> args = GetParam().args;
    args.push_back("t");
    std::string error;
    ASSERT_TRUE(ParseOptions(args, &options, &error)) << error;
    qeltools::TimeStamp first{};
    ASSERT_TRUE(qeltools::ParseStamp(kTwoLines, &first));
    ASSERT_TRUE(ResolveTimes(&options, first.localMs, &error)) << error;
    Summary summary(options.filter);
    uint64_t number = 0;
    for (size_t at = 0, end = 0; (end = kTwoLines.find('\n', at)) != std::string::npos; at = end + 1) {
        summary.Feed(std::string_view(kTwoLines).substr(at, end - at), "t", ++number);
    }
    summary.Finish();
    EXPECT_EQ(summary.Total().all.requests, GetParam().requests);
    EXPECT_EQ(summary.Outages().size(), GetParam().outages);
}

INSTANTIATE_TEST_SUITE_P(Options, SummaryFilters, ::testing::ValuesIn(kFilterCases));

}  // namespace
}  // namespace qeltrace

namespace qeltrace {
namespace {

// A day of requests, more than the timeline has slots: every request is
// still counted in some mark, and each mark shows its worst request.
TEST(Timeline, MergesMarksButLosesNoRequestNorTheWorstOfThem) {
    Timeline timeline;
    constexpr int kRequests = 20000;
    for (int i = 0; i < kRequests; ++i) {
        const int resultClass = i == 7 ? 2 : 0;
        timeline.Add(int64_t{i} * 4000, resultClass, static_cast<uint32_t>(i % 100), "request " + std::to_string(i),
                     {"line of " + std::to_string(i)});
    }
    uint64_t counted = 0;
    size_t marks = 0;
    for (const Mark& mark : timeline.slots) {
        if (mark.rank < 0) {
            continue;
        }
        ++marks;
        counted += mark.counts[0] + mark.counts[1] + mark.counts[2] + mark.counts[3];
        EXPECT_FALSE(mark.title.empty());
        ASSERT_EQ(mark.lines.size(), 1u);
    }
    EXPECT_EQ(counted, static_cast<uint64_t>(kRequests));
    EXPECT_LE(marks, Timeline::kSlots);
    EXPECT_EQ(timeline.slots[0].title, "request 7");
    EXPECT_EQ(timeline.slots[0].counts[2], 1u);
}

// A damaged trace quotes bytes a terminal acts on (ESC, CR): the text
// summary shows them as the trace shows bytes, and sends none.
TEST(TextSummary, SendsTheTerminalNoControlByteOfTheTrace) {
    Summary summary;
    const std::string trace = Lines({
        "10:00:00.000 [1] LOAD CO\x1b[2JM3",
        "10:00:00.001 [1] REASON port gone\r\x07 (OS error 5)",
        "10:00:00.001 [1] END LOAD result 2 after 1 ms",
    });
    uint64_t number = 0;
    for (size_t at = 0, end = 0; at < trace.size(); at = end + 1) {
        end = trace.find('\n', at);
        summary.Feed(std::string_view(trace).substr(at, end - at), "t", ++number);
    }
    summary.Finish();
    std::ostringstream text;
    WriteText(summary, {"t"}, text);
    EXPECT_EQ(text.str().find_first_of("\x1b\r\x07"), std::string::npos);
    EXPECT_NE(text.str().find("CO<1B>[2JM3"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("port gone<CR><07>"), std::string::npos) << text.str();
}

#ifndef _WIN32
// What a site hands qeltrace: only regular files are read (nothing waits on
// a FIFO or reads /dev/zero forever), and FILE.1 alone is read as FILE.
TEST(Inputs, ReadOnlyRegularFilesAndFindTheOlderFileAlone) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("qeltrace-inputs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(folder);
    const std::string fifo = (folder / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(folder / "rolled.1") << "x\n";
    struct Given {
        std::string given;
        std::string found;  // the files read, or the error's start
    } cases[] = {
        {fifo, fifo + " is not a regular file"},
        {"/dev/zero", "/dev/zero is not a regular file"},
        {(folder / "rolled").string(), (folder / "rolled.1").string()},
        {(folder / "none").string(), "cannot open"},
    };
    for (const Given& c : cases) {
        std::vector<std::string> files;
        std::string error;
        const bool read = OrderInputs({c.given}, &files, &error);
        const std::string found = read ? (files.size() == 1 ? files[0] : "several files") : error;
        EXPECT_EQ(found.substr(0, c.found.size()), c.found) << c.given;
    }
    std::filesystem::remove_all(folder);
}
#endif

}  // namespace
}  // namespace qeltrace
