// The one reader of trace lines: each event's fields as the driver wrote
// them, and the format a file names.
#include "trace_reader.h"

#include <gtest/gtest.h>

namespace qeltools {
namespace {

constexpr const char* kStamp = "2026-12-07T10:00:00.000+01:00 ";

struct FieldCase {
    const char* line;  // after the stamp
    TraceEvent event;
    std::string shown;  // the fields as the reader gives them, or "" where it refuses them
};

std::string Shown(const TraceLine& line) {
    EndFields end{};
    RequestFields request{};
    ReadFields read{};
    int64_t attempt = 0;
    std::string_view state;
    FormatFields format{};
    if (ReadEnd(line, &end)) {
        return std::string(end.request) + " " + std::to_string(end.result) + " " + std::to_string(end.ms);
    }
    if (ReadRequest(line, &request)) {
        return std::to_string(line.request) + " " + std::string(request.subject) + "|" +
               std::to_string(static_cast<int>(request.value)) + "|" + std::string(request.valueText);
    }
    if (ReadRead(line, &read)) {
        return std::string(read.judgement) + " " + std::to_string(read.afterMs) + " " + std::to_string(read.count) +
               " " + HexBytes(read.data);
    }
    if (ReadTry(line, &attempt)) {
        return std::to_string(attempt);
    }
    if (ReadStats(line, &state)) {
        return std::string(state);
    }
    if (ReadFormat(line, &format)) {
        return std::to_string(format.number) + " " + std::string(format.version);
    }
    if (line.event == TraceEvent::kPort) {
        return std::to_string(static_cast<int>(ReadPort(line)));
    }
    return IsUnconfirmedNote(line) ? "unconfirmed" : "";
}

TEST(TraceReader, ReadsEachEventsFields) {
    const FieldCase cases[] = {
        {"[1] WRITE_GATE S0102 value -5", TraceEvent::kRequest, "7 S0102|1|-5"},
        {"[1] WRITE_GATE SEND_STR text \"A B\"", TraceEvent::kRequest, "7 SEND_STR|2|A B"},
        {"[2] LOAD NUL", TraceEvent::kRequest, "1 NUL|0|"},
        {"[1] CODE_77", TraceEvent::kRequest, "-1 |0|"},
        {"[1] END WRITE_GATE result 1 after 312 ms", TraceEvent::kEnd, "WRITE_GATE 1 312"},
        {"[1] END WRITE_GATE result x after 3 ms", TraceEvent::kEnd, ""},
        {"[1] RX refused 80 ms after TX: 2 bytes 23 0D  #<CR>", TraceEvent::kRead, "refused 80 2 #\r"},
        {"[1] RX not judged: 0 bytes", TraceEvent::kRead, "not judged -1 0 "},
        {"[1] RX none -8 ms after TX: 0 bytes", TraceEvent::kRead, ""},
        {"[1] TRY 2 of 3", TraceEvent::kTry, "2"},
        {"[1] PORT COM3 reopen failed (OS error 2: gone)", TraceEvent::kPort, "3"},
        {"[1] PORT COM3 lost (OS error 5: I/O)", TraceEvent::kPort, "1"},
        {"[1] STATS line NO ANSWER since the start: 3 transmissions", TraceEvent::kStats, "NO ANSWER"},
        {"[1] NOTE result 0 not confirmed by the switcher", TraceEvent::kNote, "unconfirmed"},
        {"[0] TRACE format 2 QELKOPHV 1.3.0", TraceEvent::kFormat, "2 QELKOPHV 1.3.0"},
        {"[1] TRACE the previous file went away", TraceEvent::kFormat, ""},
        {"[1] HANDSHAKE 3", TraceEvent::kUnknown, ""},
    };
    for (const FieldCase& c : cases) {
        const std::string text = std::string(kStamp) + c.line;
        TraceLine line{};
        ASSERT_TRUE(ParseTraceLine(text, &line)) << c.line;
        EXPECT_EQ(line.event, c.event) << c.line;
        EXPECT_EQ(Shown(line), c.shown) << c.line;
        TraceLine loose{};
        const std::string looseText = "12:00:00 " + std::string(c.line);
        ASSERT_TRUE(ParseLooseTraceLine(looseText, &loose)) << c.line;
        EXPECT_EQ(Shown(loose), c.shown) << "any stamp: " << c.line;
    }
}

// A damaged line is malformed, never read as another instance's or event's.
TEST(TraceReader, RefusesALineThatIsNone) {
    for (const char* damaged : {"[7777777777] RX none: 0 bytes", "[] LOAD COM3", "[1]LOAD COM3", "LOAD COM3"}) {
        TraceLine line{};
        EXPECT_FALSE(ParseTraceLine(std::string(kStamp) + damaged, &line)) << damaged;
    }
}

// Format 1 has no TRACE line; a format this reader does not know is refused
// by its number, never read as if it were known, its writer's bytes shown.
TEST(TraceReader, KnowsTheFormatsItReads) {
    struct Case {
        const char* first;
        int64_t format;
        const char* refusal;  // a part of the message, "" where none
    } cases[] = {
        {"[1] LOAD COM3", 1, ""},
        {"[0] TRACE format 2 QELKOPHV 1.3.0", 2, ""},
        {"[0] TRACE format 3 QELKOPHV 2.0.0", 1, "format 3 (written by QELKOPHV 2.0.0)"},
        {"[0] TRACE format 0 QELKOPHV 0.1", 1, "format 0"},
        {"[0] TRACE format 9 QEL\x1b[2J", 1, "(written by QEL<1B>[2J)"},
    };
    for (const Case& c : cases) {
        TraceFormat format;
        TraceLine line{};
        const std::string text = std::string(kStamp) + c.first;  // the line's views point into it
        ASSERT_TRUE(ParseTraceLine(text, &line));
        std::string error;
        EXPECT_EQ(format.Feed(line, &error), *c.refusal == '\0') << c.first;
        EXPECT_EQ(format.Number(), c.format) << c.first;
        EXPECT_NE(error.find(c.refusal), std::string::npos) << error;
    }
}

}  // namespace
}  // namespace qeltools
