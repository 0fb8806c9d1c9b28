// The meaning of messages and replies, and which writes count as the
// switcher's state: a wrong bank, a missed checksum fault or a refused write
// taken for the state would send a field engineer the wrong way.
#include <gtest/gtest.h>

#include "decode.h"
#include "gate_log.h"
#include "state_at.h"

namespace qeltrace {
namespace {

TEST(Decode, EveryMessageTheDriverSendsAndEveryReplyForm) {
    struct Case {
        const char* bytes;
        bool tx, list, freeText, afterPreface, readsText;
        const char* meaning;
    };
    const Case cases[] = {
        {"#010259\r\r", true, false, false, false, false, "crosspoint 0102, bank 1 = 5"},
        {"#0A1FC7\r\r", true, false, false, false, false, "crosspoint 0A1F, bank 1 = 12"},
        {"#0102D1\r\r", true, false, false, false, false, "bank 2 preface for crosspoint 0102"},
        {"#01022E\r\r", true, false, false, true, false, "crosspoint 0102, bank 2 = 2 (value 18)"},
        {"#0A1FF4\r", true, false, false, true, false, "bank 2 trailer for crosspoint 0A1F"},
        {"!03040010102A\r\r", true, false, false, false, false, "\"!\" bits 0304 = 1010"},
        {"!0506000A0A1D\r\r", true, false, false, false, false, "\"!\" byte 0506 000A = 0A (10)"},
        {"M00120142B\r\r", true, false, false, false, false, "\"M\" 0012 = 42"},
        {"L0510Camera one5\r\r", true, false, false, false, false, "display 05 text \"Camera one\""},
        {"L0500A\r", true, false, false, false, false, "display 05 text \"\""},
        {"R05A\r\r", true, false, false, false, false, "read display 05"},
        {"P\r\r", true, false, false, false, false, "preamble: will the switcher take a command?"},
        {"#010258\r", true, false, false, false, false, "crosspoint 0102, bank 1 = 5, checksum 8 where 9 is due"},
        {"#0A1F38\r", true, true, false, false, false, "list command \"#0A1F38\": crosspoint 0A1F, bank 1 = 3"},
        {"PAN LEFT\r", true, true, false, false, false, "list command \"PAN LEFT\""},
        {"L05Camera\r", true, false, true, false, false, "free text \"L05Camera\""},
        {"hello\r", true, false, false, false, false, "text \"hello\", no message of the driver's"},
        {"*01\r\n", false, false, false, false, false, "accepted (01)"},
        {"*01\r\n\x02", false, false, false, false, false, "accepted (01), with an STX behind it"},
        {"?", false, false, false, false, false, "refused"},
        {"", false, false, false, false, false, "nothing came"},
        {"Camera one1\r\n", false, false, false, false, true, "display text \"Camera one\""},
        {"*00\r\nStudio AD\r\n", false, false, false, false, true, "accepted (00), then display text \"Studio A\""},
        {"x1\r\n", false, false, false, false, false, "not an answer the driver knows"},
    };
    for (const Case& c : cases) {
        ExchangeState state;
        state.listCommand = c.list;
        state.freeText = c.freeText;
        state.afterPreface = c.afterPreface;
        state.readsText = c.readsText;
        const std::string meaning =
            c.tx ? DecodeTransmission(c.bytes, &state) : DecodeReply(c.bytes, "accepted", &state);
        EXPECT_EQ(meaning, c.meaning) << c.bytes;
    }
}

std::string Stamp(int second) {
    return "2026-12-07T10:00:" + std::string(second < 10 ? "0" : "") + std::to_string(second) + ".000+01:00 [1] ";
}

// Each request as a few lines at one second each; the state at second 30.
TEST(GateLog, OutcomesAndTheStateTheyLeave) {
    struct Case {
        std::vector<const char*> lines;  // the lines of the requests, in order
        const char* outcomes;            // of each request, by OutcomeName, joined by ","
        const char* state;  // at the moment: "VALUE later-count", "- later-count" when nothing is confirmed
        int at = 30;        // the moment's second
    };
    const Case cases[] = {
        {{"WRITE_GATE 0102 value 5", "TX 9 bytes 23 30 31 30 32 35 39 0D 0D  #010259<CR><CR>",
          "RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>", "END WRITE_GATE result 0 after 80 ms"},
         "confirmed",
         "5 0"},
        {{"WRITE_GATE 0102 value 5", "RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
          "END WRITE_GATE result 0 after 80 ms", "WRITE_GATE 0102 value 6", "RX refused 80 ms after TX: 1 bytes 3F  ?",
          "REASON switcher refused", "END WRITE_GATE result 1 after 9 ms"},
         "confirmed,failed",
         "5 1"},
        {{"WRITE_GATE 0102 value 7", "RX none: 0 bytes", "NOTE result 0 not confirmed by the switcher",
          "END WRITE_GATE result 0 after 240 ms"},
         "not confirmed",
         "- 1"},
        {{"WRITE_GATE M0012 value 42", "TX 3 bytes 50 0D 0D  P<CR><CR>",
          "RX accepted 0 ms after TX: 5 bytes 2A 30 30 0D 0A  *00<CR><LF>",
          "TX 12 bytes 4D 30 30 31 32 30 31 34 32 42 0D 0D  M00120142B<CR><CR>", "RX none: 0 bytes",
          "END WRITE_GATE result 0 after 1000 ms"},
         "not confirmed",
         "- 1"},
        {{"WRITE_GATE GET_STR_FROM_FILE value 1", "LIST qelkophv01.ini entry 1: #010259",
          "RX not judged 200 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>", "END WRITE_GATE result 0 after 200 ms"},
         "not judged",
         "- 1"},
        {{"UPDATE_GATE R05", "TX 6 bytes 52 30 35 41 0D 0D  R05A<CR><CR>",
          "RX unrecognised 1203 ms after TX: 13 bytes 43 61 6D 65 72 61 20 6F 6E 65 31 0D 0A  Camera one1<CR><LF>",
          "END UPDATE_GATE result 0 after 1207 ms"},
         "confirmed",
         "\"Camera one\" 0"},
        {{"WRITE_GATE 0102 value 5", "RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>"},
         "unfinished",
         "- 1"},
        // The second write begins after the moment (second 4): not in the state.
        {{"WRITE_GATE 0102 value 5", "RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>",
          "END WRITE_GATE result 0 after 80 ms", "STATS line OK", "STATS line OK", "WRITE_GATE 0102 value 9",
          "RX accepted 80 ms after TX: 5 bytes 2A 30 31 0D 0A  *01<CR><LF>", "END WRITE_GATE result 0 after 80 ms"},
         "confirmed,confirmed",
         "5 0",
         4},
    };
    for (const Case& c : cases) {
        GateLog log(Filter{}, false, false);
        int second = 0;
        for (const char* line : c.lines) {
            log.Feed(Stamp(second++) + line);
        }
        log.Finish();
        std::string outcomes;
        for (const GateRequest& request : log.Requests()) {
            outcomes += (outcomes.empty() ? "" : ",") + std::string(OutcomeName(request.outcome));
        }
        EXPECT_EQ(outcomes, c.outcomes) << c.lines.front();
        qeltools::TimeStamp moment{};
        ASSERT_TRUE(qeltools::ParseStamp(Stamp(c.at), &moment));
        const std::vector<GateState> states = StateAt(log.Requests(), moment.utcMs, false);
        ASSERT_EQ(states.size(), 1u) << c.lines.front();
        const GateState& state = states.front();
        EXPECT_EQ(
            (state.confirmed != nullptr ? state.confirmed->value : "-") + " " + std::to_string(state.later.size()),
            c.state)
            << c.lines.front();
    }
}

}  // namespace
}  // namespace qeltrace
