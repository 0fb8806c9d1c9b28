// The trace file: its lines by pattern, the roll-over at the limit, a file the
// system refuses, the trace switched off, and the cut of a long line. The
// files are real, in the test's working directory.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qel_version.h"
#include "trace/trace.h"
#include "trace_variable.h"

namespace {

constexpr const char* kTraceName = "qel_trace_test.txt";
constexpr const char* kOlderName = "qel_trace_test.txt.1";

std::vector<std::string> g_logLines;

void CaptureLog(int32_t level, const char* text) {
    g_logLines.push_back(std::to_string(level) + " " + text);
}

std::atomic<int> g_threadLogLines{0};

void CaptureLogFromThread(int32_t, const char*) {
    ++g_threadLogLines;
}

bool FileExists(const char* name) {
    return std::ifstream(name, std::ios::binary).good();
}

std::string FileBytes(const char* name) {
    std::ifstream file(name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// The file's lines without their line ends (LF, or CR LF on Windows).
std::vector<std::string> AllLines(const char* name) {
    std::vector<std::string> lines;
    std::istringstream bytes(FileBytes(name));
    for (std::string line; std::getline(bytes, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

const std::string kFormatLine = std::string("] TRACE format 2 QELKOPHV ") + QELKOPHV_VERSION;

// The lines the test wrote: those of the file without the format line that
// opens it (which a test of its own looks at).
std::vector<std::string> FileLines(const char* name) {
    std::vector<std::string> lines = AllLines(name);
    if (!lines.empty() && lines[0].find(kFormatLine) != std::string::npos) {
        lines.erase(lines.begin());
    }
    return lines;
}

class TraceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::remove(kTraceName);
        std::remove(kOlderName);
        g_logLines.clear();
        std::memset(&trace, 0, sizeof trace);
    }
    void TearDown() override {
        TraceClose(&trace);
        SetTraceVariable(nullptr);
        SetTraceFileLimitForTest(0);
        std::remove(kTraceName);
        std::remove(kOlderName);
    }
    void OpenFresh() {
        TraceClose(&trace);
        std::remove(kTraceName);
        SetTraceVariable(kTraceName);
        ASSERT_TRUE(TraceOpen(&trace, 3, CaptureLog));
    }

    TraceFile trace;
};

struct LineCase {
    const char* name;
    std::function<void(TraceFile*)> write;
    const char* pattern;  // the line after its time stamp and instance
};

TEST_F(TraceTest, EachEventWritesOneLineOfItsPattern) {
    struct UnterminatedPort {
        char name[12];
        char after[4];
    };
    static const UnterminatedPort longPort = {{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L'}, "XYZ"};
    const LineCase cases[] = {
        {"Transmission", [](TraceFile* t) { TraceTransmission(t, "#010259\r\r", 9); },
         "TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>"},
        {"OtherControlBytes",
         [](TraceFile* t) {
             TraceTransmission(t,
                               "\x02"
                               "A\xFC\n",
                               4);
         },
         "TX 4 bytes 02 41 FC 0A  <02>A<FC><LF>"},
        {"ReadAccepted",
         [](TraceFile* t) {
             TraceTransmission(t, "P\r\r", 3);
             TraceRead(t, "*3F\r\n", 5, TraceReply::kAccepted);
         },
         "RX accepted \\d+ ms after TX: 5 bytes 2A 33 46 0D 0A  \\*3F<CR><LF>"},
        {"ReadRefused", [](TraceFile* t) { TraceRead(t, "?", 1, TraceReply::kRefused); }, "RX refused: 1 byte 3F  \\?"},
        {"ReadNothing",
         [](TraceFile* t) {
             TraceTransmission(t, "P\r\r", 3);
             TraceRead(t, "", 0, TraceReply::kNone);
         },
         "RX none \\d+ ms after TX: 0 bytes"},
        {"ReadUnrecognised", [](TraceFile* t) { TraceRead(t, "xx", 2, TraceReply::kUnrecognised); },
         "RX unrecognised: 2 bytes 78 78  xx"},
        {"ReadNotJudged", [](TraceFile* t) { TraceRead(t, "*", 1, TraceReply::kNotJudged); },
         "RX not judged: 1 byte 2A  \\*"},
        {"RequestWithNumber", [](TraceFile* t) { TraceRequestNumber(t, "WRITE_GATE", "0102", 5); },
         "WRITE_GATE 0102 value 5"},
        {"RequestWithLeastNumber", [](TraceFile* t) { TraceRequestNumber(t, "WRITE_GATE", "0102", INT32_MIN); },
         "WRITE_GATE 0102 value -2147483648"},
        {"RequestWithText", [](TraceFile* t) { TraceRequest(t, "WRITE_GATE", "SEND_STR", "CAM 1\r"); },
         "WRITE_GATE SEND_STR text \"CAM 1<CR>\""},
        {"RequestAlone", [](TraceFile* t) { TraceRequest(t, "LOAD", nullptr, nullptr); }, "LOAD"},
        {"RequestEnd",
         [](TraceFile* t) {
             TraceRequestNumber(t, "WRITE_GATE", "0102", 31);
             TraceRequestEnd(t, 1);
         },
         "END WRITE_GATE result 1 after \\d+ ms"},
        {"Reason", [](TraceFile* t) { TraceReason(t, "value %d out of range 0-%d", 31, 30); },
         "REASON value 31 out of range 0-30"},
        {"Try", [](TraceFile* t) { TraceTry(t, 2, 3); }, "TRY 2 of 3"},
        {"Wait", [](TraceFile* t) { TraceWait(t, 1000, "before reading"); }, "WAIT 1000 ms before reading"},
        {"WaitLongest", [](TraceFile* t) { TraceWait(t, UINT32_MAX, nullptr); }, "WAIT 4294967295 ms"},
        {"ListFound", [](TraceFile* t) { TraceListLookup(t, "qelkophv01.ini", 1, "#010259"); },
         "LIST qelkophv01.ini entry 1: #010259"},
        {"ListNotFound", [](TraceFile* t) { TraceListLookup(t, "qelkophv01.ini", 9, nullptr); },
         "LIST qelkophv01.ini entry 9 not found"},
        {"PortOpened", [](TraceFile* t) { TracePort(t, TracePortEvent::kOpened, "COM1", 0); }, "PORT COM1 opened"},
        {"PortLost", [](TraceFile* t) { TracePort(t, TracePortEvent::kLost, "COM1", 5); },
         "PORT COM1 lost \\(OS error 5: [^.()]+\\)"},
        {"PortNameOfTwelve", [](TraceFile* t) { TracePort(t, TracePortEvent::kReopenFailed, longPort.name, 0); },
         "PORT ABCDEFGHIJKL reopen failed"},
        {"LineSettings", [](TraceFile* t) { TraceLineSettings(t, 9600, 8, 0, 2, 20); },
         "LINE 9600 baud, 8 data bits, stop bits code 0, parity code 2, read time-out 20 x 10 ms"},
        {"Skip", [](TraceFile* t) { TraceSkip(t, 5, 3); },
         "SKIP 5 bytes: the late answer to the preamble P; the reply is what follows \\(3 bytes\\)"},
        {"Run", [](TraceFile* t) { TraceRun(t, 2, 2); }, "RUN 2 of 2: a marked \"#\" gate runs its exchange twice"},
        {"Note", [](TraceFile* t) { TraceNoteLine(t, TraceNote::kNotConfirmed); },
         "NOTE result 0 not confirmed by the switcher"},
        {"Stats",
         [](TraceFile* t) {
             TraceStats(t, "NO ANSWER", {25, 18, 1, 7, 4, 0, 2});
         },
         "STATS line NO ANSWER since the start: 25 transmissions, 18 reads answered \\(1 refusals\\), 7 reads with "
         "nothing, 4 tries beyond the first, lost 0 times, reopened 2 times"},
    };
    const std::string stamp = "\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}[+-]\\d{2}:\\d{2} \\[3\\] ";
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFresh();
        c.write(&trace);
        const std::vector<std::string> lines = FileLines(kTraceName);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(std::regex_match(lines.back(), std::regex(stamp + c.pattern))) << lines.back();
    }
    EXPECT_TRUE(g_logLines.empty());
}

// Each file the driver begins opens with one line naming its format and
// the driver's version, whichever instance writes first; a file that holds
// lines already gets none.
TEST_F(TraceTest, EachFileBegunOpensWithOneFormatLine) {
    const struct {
        const char* name;
        std::function<void(TraceFile*, TraceFile*)> write;
        const char* file;
        size_t formatLines;
    } cases[] = {
        {"Open",
         [](TraceFile* a, TraceFile* b) {
             TraceTry(b, 1, 3);
             TraceTry(a, 2, 3);
         },
         kTraceName, 1},
        {"RollOver",
         [](TraceFile* a, TraceFile* b) {
             SetTraceFileLimitForTest(300);
             for (int n = 0; n < 8; ++n) {
                 TraceTry(n % 2 == 0 ? a : b, n, 8);
             }
         },
         kOlderName, 1},
        {"AfterRollOver", [](TraceFile*, TraceFile*) {}, kTraceName, 1},
        {"Appended",
         [](TraceFile* a, TraceFile*) {
             TraceClose(a);
             ASSERT_TRUE(TraceOpen(a, 3, CaptureLog));
             TraceTry(a, 1, 3);
         },
         kTraceName, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (std::string(c.name) != "AfterRollOver") {
            OpenFresh();
        }
        TraceFile second{};
        ASSERT_TRUE(TraceOpen(&second, 4, CaptureLog));
        c.write(&trace, &second);
        TraceClose(&second);
        const std::vector<std::string> lines = AllLines(c.file);
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(
            std::regex_match(lines[0], std::regex("\\d{4}-\\d{2}-\\d{2}T[0-9:.+-]+ \\[0\\] TRACE format 2 QELKOPHV " +
                                                  std::string(QELKOPHV_VERSION))))
            << lines[0];
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) { return line.find(kFormatLine) != std::string::npos; }),
                  c.formatLines);
    }
    EXPECT_TRUE(g_logLines.empty());
}

TEST_F(TraceTest, LongLinesAreCutVisibly) {
    const std::string longText(3000, 'x');
    const std::function<void(TraceFile*)> cases[] = {
        [&](TraceFile* t) { TraceTransmission(t, longText.data(), static_cast<int32_t>(longText.size())); },
        [&](TraceFile* t) { TraceReason(t, "%s", longText.c_str()); },
        [&](TraceFile* t) { TraceRequest(t, "WRITE_GATE", "SEND_STR", longText.c_str()); },
    };
    for (const auto& write : cases) {
        OpenFresh();
        write(&trace);
        const std::vector<std::string> lines = FileLines(kTraceName);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].size(), kTraceLineSize - 3);
        EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "...");
    }
}

// Line numbers written into the trace, in the order they stand in the file.
std::vector<int> Numbers(const char* name) {
    std::vector<int> numbers;
    for (const std::string& line : FileLines(name)) {
        const size_t at = line.find("line ");
        numbers.push_back(at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 5));
    }
    return numbers;
}

TEST_F(TraceTest, FullFileRollsOverAndANewOneBegins) {
    constexpr uint32_t kLimit = 400;
    SetTraceFileLimitForTest(kLimit);
    OpenFresh();
    // Two instances of one process share the variable, so the file: the
    // second notices the first's roll-over instead of rolling again.
    TraceFile second{};
    ASSERT_TRUE(TraceOpen(&second, 4, CaptureLog));
    // Lines of one length: one a little longer than the line that filled the
    // file may still land at the end of FILE.1, after the roll-over.
    constexpr int kLines = 40;  // about five files' worth
    for (int n = 0; n < kLines; ++n) {
        TraceReason(n % 2 == 0 ? &trace : &second, "line %03d", n);
    }
    TraceClose(&second);

    EXPECT_LE(FileBytes(kTraceName).size(), kLimit);
    EXPECT_LE(FileBytes(kOlderName).size(), kLimit);
    std::vector<int> numbers = Numbers(kOlderName);
    const std::vector<int> newest = Numbers(kTraceName);
    numbers.insert(numbers.end(), newest.begin(), newest.end());
    ASSERT_GT(numbers.size(), 2u);
    EXPECT_EQ(numbers.back(), kLines - 1);
    for (size_t i = 1; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], numbers[i - 1] + 1) << "a line went missing at the roll-over";
    }
    EXPECT_TRUE(g_logLines.empty());
}

// The calling thread's last system error, which a trace write leaves alone.
void SetSystemError(unsigned code) {
#if defined(_WIN32)
    SetLastError(code);
#else
    errno = static_cast<int>(code);
#endif
}

unsigned SystemError() {
#if defined(_WIN32)
    return GetLastError();
#else
    return static_cast<unsigned>(errno);
#endif
}

struct RefusedCase {
    const char* name;
    const char* variable;
    bool opens;  // the system takes the name but not the writes
};

constexpr const char* kFifoName = "qel_trace_fifo";

// Nothing but a regular file is ever opened: a device or a FIFO without a
// reader would take the trace onto a line or hold the start for good.
TEST_F(TraceTest, FileTheSystemRefusesTurnsTheTraceOffWithOneLogLine) {
    std::vector<RefusedCase> cases = {
        {"MissingFolder", "qel_no_such_folder/trace.txt", false},
        {"Folder", ".", false},
        {"TooLong", nullptr, false},
    };
#if defined(_WIN32)
    for (const char* device :
         {"NUL", "com1", "sub\\Con.txt", "LPT9.log", "CONOUT$", "\\\\.\\COM1", "\\\\?\\C:\\x.txt"}) {
        cases.push_back({device, device, false});
    }
#else
    std::remove(kFifoName);
    ASSERT_EQ(mkfifo(kFifoName, 0600), 0);
    cases.push_back({"DeviceFull", "/dev/full", false});
    cases.push_back({"Terminal", "/dev/tty", false});
    cases.push_back({"FifoWithoutReader", kFifoName, false});
#endif
    const std::string tooLong(kTracePathSize + 10, 'a');
    constexpr unsigned kSomeError = 11;
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_logLines.clear();
        TraceClose(&trace);
        SetTraceVariable(c.variable == nullptr ? tooLong.c_str() : c.variable);
        EXPECT_EQ(TraceOpen(&trace, 1, CaptureLog), c.opens);
        SetSystemError(kSomeError);
        for (int n = 0; n < 3; ++n) {
            TraceTransmission(&trace, "P\r\r", 3);
        }
        EXPECT_EQ(SystemError(), kSomeError);
        EXPECT_FALSE(TraceIsOn(&trace));
        ASSERT_EQ(g_logLines.size(), 1u);
        EXPECT_EQ(g_logLines[0].rfind("32 QELPA : Cannot write trace ", 0), 0u) << g_logLines[0];
    }
    std::remove(kFifoName);
}

// Instances on threads of their own share one file: it rolls over once
// between them and every line of every instance is kept, in its order.
TEST_F(TraceTest, InstancesOnThreadsRollTheSharedFileOnceAndLoseNoLine) {
    constexpr int kThreads = 4;
    constexpr int kLines = 25;
    SetTraceFileLimitForTest(4000);  // the lines take about 1.5 files
    SetTraceVariable(kTraceName);
    const uint32_t rollsBefore = TraceRollCountForTest();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            TraceFile own{};
            ASSERT_TRUE(TraceOpen(&own, 10 + t, CaptureLogFromThread));
            for (int n = 0; n < kLines; ++n) {
                TraceReason(&own, "thread %d line %03d", t, n);
            }
            TraceClose(&own);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(TraceRollCountForTest(), rollsBefore + 1);
    std::vector<std::string> lines = FileLines(kOlderName);
    const std::vector<std::string> newest = FileLines(kTraceName);
    lines.insert(lines.end(), newest.begin(), newest.end());
    int next[kThreads] = {};
    for (const std::string& line : lines) {
        int thread = -1;
        int number = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + line.find("thread "), "thread %d line %d", &thread, &number), 2) << line;
        ASSERT_TRUE(thread >= 0 && thread < kThreads);
        EXPECT_EQ(number, next[thread]++) << "thread " << thread;
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(next[t], kLines);
    }
    EXPECT_EQ(g_threadLogLines.load(), 0);
}

// Another process that shares the file rolled it over already: the full
// file is no longer under the name, so it is not renamed over FILE.1 again.
TEST_F(TraceTest, FileRolledByAnotherProcessIsReopenedNotRenamedAgain) {
    SetTraceFileLimitForTest(200);
    OpenFresh();
    TraceReason(&trace, "%s", std::string(150, 'a').c_str());
    ASSERT_EQ(std::rename(kTraceName, kOlderName), 0);  // the other process's roll-over
    TraceReason(&trace, "%s", std::string(150, 'b').c_str());
    EXPECT_TRUE(TraceIsOn(&trace));
    EXPECT_NE(FileBytes(kOlderName).find("aaa"), std::string::npos);
    EXPECT_NE(FileBytes(kTraceName).find("bbb"), std::string::npos);
    EXPECT_TRUE(g_logLines.empty());
}

// The trace file deleted or renamed away under a running instance: within a
// second the next line finds the name gone, and it and every later line go
// into a new file under the name, behind one line that says so.
TEST_F(TraceTest, TraceFollowsItsNameWhenTheFileGoesAway) {
    const struct {
        const char* name;
        std::function<void()> takeAway;
    } cases[] = {
#if !defined(_WIN32)
        // Windows keeps a deleted name until its last handle closes, and
        // Wine still opens it meanwhile: only the rename is followed there.
        {"deleted", [] { ASSERT_EQ(std::remove(kTraceName), 0); }},
#endif
        {"renamed", [] { ASSERT_EQ(std::rename(kTraceName, kOlderName), 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFresh();
        TraceReason(&trace, "before");
        c.takeAway();
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        TraceReason(&trace, "after 1");
        TraceReason(&trace, "after 2");
        EXPECT_TRUE(TraceIsOn(&trace));
        const std::vector<std::string> lines = FileLines(kTraceName);
        ASSERT_EQ(lines.size(), 3u) << FileBytes(kTraceName);
        EXPECT_NE(lines[0].find("] TRACE the previous file went away"), std::string::npos) << lines[0];
        EXPECT_NE(lines[1].find("] REASON after 1"), std::string::npos) << lines[1];
        EXPECT_NE(lines[2].find("] REASON after 2"), std::string::npos) << lines[2];
        EXPECT_TRUE(g_logLines.empty());
        std::remove(kOlderName);
    }
}

#if !defined(_WIN32)
// Stamps are formatted once a second, yet stay exact when the clock is set
// to another time or daylight saving begins or ends: each row moves the
// trace's clock to a UTC moment in a zone with daylight saving.
TEST_F(TraceTest, StampsFollowAChangeOfTheClockAndOfDaylightSaving) {
    const char* savedZone = std::getenv("TZ");
    const std::string zone = savedZone != nullptr ? savedZone : "";
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    const struct {
        int64_t utc;         // seconds since 1970, 30 s into a minute
        const char* stamp;   // the line's date and time to the minute ...
        const char* offset;  // ... and its offset
    } cases[] = {
        {1774745970, "2026-03-29T01:59:3", "+01:00"},  // 00:59:30 UTC, before summer time
        {1774746030, "2026-03-29T03:00:3", "+02:00"},  // 01:00:30 UTC, summer time
        {1792889970, "2026-10-25T02:59:3", "+02:00"},  // 00:59:30 UTC, summer time still
        {1792890030, "2026-10-25T02:00:3", "+01:00"},  // 01:00:30 UTC, winter time again
        {1774745970, "2026-03-29T01:59:3", "+01:00"},  // the clock set back by months
    };
    OpenFresh();
    for (const auto& c : cases) {
        SetTraceClockShiftForTest(static_cast<int32_t>(c.utc - std::time(nullptr)));
        TraceReason(&trace, "at %lld", static_cast<long long>(c.utc));
    }
    SetTraceClockShiftForTest(0);
    const std::vector<std::string> lines = FileLines(kTraceName);
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i]);
        // The second may have turned between the shift and the line.
        const std::regex stamp(std::string(cases[i].stamp) + "[0-2]\\.\\d{3}\\" + cases[i].offset + " .*");
        EXPECT_TRUE(std::regex_match(lines[i], stamp));
    }
    if (savedZone != nullptr) {
        setenv("TZ", zone.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
#endif

// The milliseconds come from the monotonic clock between the system
// clock's readings: over more than a second of lines the stamps never go
// back and the second turns.
TEST_F(TraceTest, StampsRunOnAcrossTheSecond) {
    OpenFresh();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1100);
    while (std::chrono::steady_clock::now() < end) {
        TraceReason(&trace, "tick");
        std::this_thread::sleep_for(std::chrono::milliseconds(7));
    }
    const std::vector<std::string> lines = FileLines(kTraceName);
    ASSERT_GT(lines.size(), 2u);
    // Up to the milliseconds, a stamp's text sorts as its time does.
    const size_t stampLength = std::string("2026-12-08T01:30:34.425").size();
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(lines[i - 1].substr(0, stampLength), lines[i].substr(0, stampLength)) << "line " << i;
    }
    EXPECT_NE(lines.front().substr(0, stampLength - 4), lines.back().substr(0, stampLength - 4));
}

TEST_F(TraceTest, TraceSwitchedOffTouchesNoFile) {
    const char* const variables[] = {nullptr, ""};
    for (const char* variable : variables) {
        SetTraceVariable(variable);
        EXPECT_FALSE(TraceOpen(&trace, 1, CaptureLog));
        SetTraceVariable(kTraceName);
        TraceRequestNumber(&trace, "WRITE_GATE", "0102", 5);
        TraceTransmission(&trace, "P\r\r", 3);
        TraceRequestEnd(&trace, 0);
        EXPECT_FALSE(FileExists(kTraceName));
    }
    // A record the host never cleared reads as off.
    TraceFile uncleared;
    std::memset(&uncleared, 0xA5, sizeof uncleared);
    EXPECT_FALSE(TraceIsOn(&uncleared));
    TraceReason(&uncleared, "nothing");
    EXPECT_FALSE(FileExists(kTraceName));
    EXPECT_TRUE(g_logLines.empty());
}

}  // namespace
