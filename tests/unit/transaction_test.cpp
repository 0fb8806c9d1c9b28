// The exchange of every command kind against every kind of reply, on a real
// serial line: the bytes on the wire in their order, the waits and reads of
// the driver, how often it tries, and what the request is told.
#include "protocol/transaction.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cmdlist/command_list.h"
#include "link/port.h"
#include "protocol/gate_requests.h"
#include "scripted_switcher.h"
#include "trace_variable.h"

namespace fs = std::filesystem;

namespace {

struct ClassCase {
    std::string reply;
    ReplyClass expected;
};

const ClassCase kClasses[] = {
    {std::string("*3F\r\n\0", 6), REPLY_ACCEPTED},
    {"*09\r\n0", REPLY_ACCEPTED},
    {"*3F\r\n\x02", REPLY_ACCEPTED_STX},
    {"*3f\r\n0", REPLY_UNRECOGNISED},
    {"*3G\r\n0", REPLY_UNRECOGNISED},
    {"*3F\n\r0", REPLY_UNRECOGNISED},
    {"*3F\r00", REPLY_UNRECOGNISED},
    {"?00000", REPLY_REFUSED},
    {"?*3F\r\n", REPLY_REFUSED},
    {"000000", REPLY_UNRECOGNISED},
    {std::string(6, '\0'), REPLY_UNRECOGNISED},
    {"#01025", REPLY_UNRECOGNISED},
};

TEST(ReplyClassTest, JudgesTheFirstSixBytes) {
    for (const ClassCase& c : kClasses) {
        EXPECT_EQ(ClassifyReply(c.reply.data()), c.expected) << Visible(c.reply);
    }
}

// Replies as the switcher sends them.
const std::string kAccepted = "*3F\r\n";
const std::string kRefused = "?3F\r\n";
const std::string kUnrecognised = "*3f\r\n";
const std::string kAcceptedStx = "*3F\r\n\x02";
const std::string kSilent;
const std::string kTextReply = "ABC7\r\n";

// Messages as the wire carries them.
const char* const kPreamble = "P<CR><CR>";
const char* const kHash5 = "#010259<CR><CR>";
const char* const kHash18 = "#01022E<CR><CR>";
const char* const kPreface18 = "#0102D1<CR><CR>";
const char* const kTrailer18 = "#0102F3<CR><CR>";
const char* const kByte10 = "!010200120A14<CR><CR>";
const char* const kBits1010 = "!01020010102E<CR><CR>";
const char* const kLevel5 = "M001201058<CR><CR>";
const char* const kLoadAB = "L0502AB9<CR><CR>";
const char* const kRead05 = "R05A<CR><CR>";
const char* const kListEntry3 = "XYZ<LF><CR>";

// The driver's own order of events per step.
const char* const kHashTry = "send 80 read";
const char* const kBankTwoTry = "send 80 read send 80 read";

std::string Repeat(const std::string& steps, int times) {
    std::string joined;
    for (int i = 0; i < times; ++i) {
        joined += (i == 0 ? "" : " ") + steps;
    }
    return joined;
}

std::vector<std::string> Times(std::vector<std::string> messages, int times) {
    std::vector<std::string> all;
    for (int i = 0; i < times; ++i) {
        all.insert(all.end(), messages.begin(), messages.end());
    }
    return all;
}

// The gate a case writes or updates, and its value.
struct Gate {
    const char* address;
    uint32_t format;
    uint16_t number;
    const char* text;
    int32_t code;  // REQ_WRITE_GATE or REQ_UPDATE_GATE
};

constexpr uint32_t kNumeric = GATE_FORMAT_NUMERIC;
constexpr uint32_t kString = GATE_FORMAT_STRING;

const Gate kHash{"0102", kNumeric, 5, "", REQ_WRITE_GATE};
const Gate kHashBankTwo{"0102", kNumeric, 18, "", REQ_WRITE_GATE};
const Gate kMarked{"X0102", kNumeric, 5, "", REQ_WRITE_GATE};
const Gate kMarkedBankTwo{"X0102", kNumeric, 18, "", REQ_WRITE_GATE};
const Gate kByte{"BP01020012", kNumeric, 10, "", REQ_WRITE_GATE};
const Gate kBits{"X0102", kString, 0, "1010", REQ_WRITE_GATE};
const Gate kLevel{"M0012", kNumeric, 5, "", REQ_WRITE_GATE};
const Gate kLoad{"L05", kString, 0, "AB", REQ_WRITE_GATE};
const Gate kRead{"R05", kString, 0, "old", REQ_UPDATE_GATE};
const Gate kReadByWrite{"R05", kString, 0, "old", REQ_WRITE_GATE};
const Gate kList{"GET_STR_FROM_FILE", kNumeric, 3, "", REQ_WRITE_GATE};
const Gate kEmptyList{"GET_STR_FROM_FILE", kNumeric, 4, "", REQ_WRITE_GATE};
const Gate kText{"SEND_STR", kString, 0, "hello", REQ_WRITE_GATE};
const Gate kEmptyText{"SEND_STR", kString, 0, "", REQ_WRITE_GATE};

using Lines = std::vector<std::string>;

struct ExchangeCase {
    const char* name;
    Gate gate;
    Lines replies;
    int32_t result;
    Lines wire;
    std::string trace;
    const char* gateText = nullptr;  // the "R" gate's text afterwards
    int32_t readyLevel = kReadyLevel;
    bool echoingLine = false;
};

// A failing row names itself instead of dumping its bytes.
void PrintTo(const ExchangeCase& c, std::ostream* out) {
    *out << c.name;
}

// One letter a reply, so that each row reads as a line of the results table.
const std::string A = kAccepted;
const std::string R = kRefused;
const std::string U = kUnrecognised;
const std::string X = kAcceptedStx;
const std::string S = kSilent;
const std::string kBankTwoTrailed = std::string(kBankTwoTry) + " send 80";
const std::string kPreambled = "send read send 1000 read";
const std::string kPreambledSilent = "send read send 1000";

// Five bytes are read after a '#' or '!' message, so the STX behind an
// accepted reply is never seen there: such a reply counts as accepted.
const ExchangeCase kExchanges[] = {
    // '#', bank 1: up to three tries.
    {"HashAccepted", kHash, {A}, 0, {kHash5}, kHashTry},
    {"HashRefusedThrice", kHash, {R, R, R}, 1, Times({kHash5}, 3), Repeat(kHashTry, 3)},
    {"HashUnrecognisedThriceSucceeds", kHash, {U, U, U}, 0, Times({kHash5}, 3), Repeat(kHashTry, 3)},
    {"HashAcceptedStxReadAsAccepted", kHash, {X}, 0, {kHash5}, kHashTry},
    {"HashSilentSucceedsAfterThreeTries", kHash, {}, 0, Times({kHash5}, 3), Repeat(kHashTry, 3)},
    {"HashRefusedRefusedUnrecognised", kHash, {R, R, U}, 0, Times({kHash5}, 3), Repeat(kHashTry, 3)},
    {"HashUnrecognisedUnrecognisedRefused", kHash, {U, U, R}, 1, Times({kHash5}, 3), Repeat(kHashTry, 3)},
    {"HashAcceptedOnSecondTry", kHash, {R, A}, 0, Times({kHash5}, 2), Repeat(kHashTry, 2)},
    {"HashBeforeLoadSendsNothing", kHash, {A}, 1, {}, "", nullptr, 0},

    // Marked '#', bank 1: the whole run twice, the second only after a success.
    {"MarkedAcceptedRunsTwice", kMarked, {A, A}, 0, Times({kHash5}, 2), Repeat(kHashTry, 2)},
    {"MarkedRefusedRunsOnce", kMarked, {R, R, R}, 1, Times({kHash5}, 3), Repeat(kHashTry, 3)},
    {"MarkedUnrecognisedRunsTwice", kMarked, Lines(6, U), 0, Times({kHash5}, 6), Repeat(kHashTry, 6)},
    {"MarkedSilentRunsTwice", kMarked, {}, 0, Times({kHash5}, 6), Repeat(kHashTry, 6)},
    {"MarkedBeforeLoadSendsNothing", kMarked, {A}, 1, {}, "", nullptr, 0},

    // '#', bank 2: preface, then the message; a refusal is final.
    {"BankTwoAccepted", kHashBankTwo, {A, A}, 0, {kPreface18, kHash18}, kBankTwoTry},
    {"BankTwoRefused", kHashBankTwo, {A, R}, 1, {kPreface18, kHash18}, kBankTwoTry},
    {"BankTwoUnrecognisedThriceSucceeds", kHashBankTwo, Times({A, U}, 3), 0, Times({kPreface18, kHash18}, 3),
     Repeat(kBankTwoTry, 3)},
    {"BankTwoAcceptedStxReadAsAccepted", kHashBankTwo, {A, X}, 0, {kPreface18, kHash18}, kBankTwoTry},
    {"BankTwoSilentSucceedsAfterThreeTries",
     kHashBankTwo,
     {},
     0,
     Times({kPreface18, kHash18}, 3),
     Repeat(kBankTwoTry, 3)},
    {"BankTwoPrefaceReplyNotJudged", kHashBankTwo, {R, A}, 0, {kPreface18, kHash18}, kBankTwoTry},
    {"BankTwoBeforeLoadSendsNothing", kHashBankTwo, {A}, 1, {}, "", nullptr, 0},

    // Marked '#', bank 2: an unrecognised reply is closed by the trailer.
    {"MarkedBankTwoAccepted", kMarkedBankTwo, {A, A, A, A}, 0, Times({kPreface18, kHash18}, 2), Repeat(kBankTwoTry, 2)},
    {"MarkedBankTwoRefusedRunsOnce", kMarkedBankTwo, {A, R}, 1, {kPreface18, kHash18}, kBankTwoTry},
    {"MarkedBankTwoUnrecognisedSendsTrailer",
     kMarkedBankTwo,
     {A, U, S, A, U},
     0,
     Times({kPreface18, kHash18, kTrailer18}, 2),
     Repeat(kBankTwoTrailed, 2)},
    {"MarkedBankTwoAcceptedStxReadAsAccepted",
     kMarkedBankTwo,
     {A, X, A, X},
     0,
     Times({kPreface18, kHash18}, 2),
     Repeat(kBankTwoTry, 2)},
    {"MarkedBankTwoSilentSendsTrailer",
     kMarkedBankTwo,
     {},
     0,
     Times({kPreface18, kHash18, kTrailer18}, 2),
     Repeat(kBankTwoTrailed, 2)},

    // '!' byte: the wait comes first; only an accepted reply succeeds.
    {"ByteAccepted", kByte, {A}, 0, {kByte10}, "80 send read"},
    {"ByteRefused", kByte, {R}, 1, {kByte10}, "80 send read"},
    {"ByteUnrecognised", kByte, {U}, 1, {kByte10}, "80 send read"},
    {"ByteAcceptedStxReadAsAccepted", kByte, {X}, 0, {kByte10}, "80 send read"},
    {"ByteSilent", kByte, {}, 1, {kByte10}, "80 send read"},

    // '!' bits: an unrecognised reply succeeds.
    {"BitsAccepted", kBits, {A}, 0, {kBits1010}, "send read"},
    {"BitsRefused", kBits, {R}, 1, {kBits1010}, "send read"},
    {"BitsUnrecognised", kBits, {U}, 0, {kBits1010}, "send read"},
    {"BitsAcceptedStxReadAsAccepted", kBits, {X}, 0, {kBits1010}, "send read"},
    {"BitsSilent", kBits, {}, 0, {kBits1010}, "send read"},

    // A line that sends back what it receives: the five bytes read are the
    // message itself, which the kinds that take an unrecognised reply accept.
    {"HashOnEchoingLine", kHash, {R, R, R}, 0, Times({kHash5}, 3), Repeat(kHashTry, 3), nullptr, kReadyLevel, true},
    {"BitsOnEchoingLine", kBits, {R}, 0, {kBits1010}, "send read", nullptr, kReadyLevel, true},
    {"ByteOnEchoingLine", kByte, {A}, 1, {kByte10}, "80 send read", nullptr, kReadyLevel, true},

    // "M": the preamble's reply is judged for a refusal only.
    {"LevelPreambleRefused", kLevel, {R}, 1, {kPreamble}, "send read"},
    {"LevelPreambleUnrecognised", kLevel, {U, A}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LevelPreambleAcceptedStx", kLevel, {X, A}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LevelPreambleSilent", kLevel, {S, A}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LevelAccepted", kLevel, {A, A}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LevelRefused", kLevel, {A, R}, 1, {kPreamble, kLevel5}, kPreambled},
    {"LevelUnrecognised", kLevel, {A, U}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LevelAcceptedStx", kLevel, {A, X}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LevelSilent", kLevel, {A}, 0, {kPreamble, kLevel5}, kPreambledSilent},

    // "L" as "M".
    {"LoadPreambleRefused", kLoad, {R}, 1, {kPreamble}, "send read"},
    {"LoadAccepted", kLoad, {A, A}, 0, {kPreamble, kLoadAB}, kPreambled},
    {"LoadRefused", kLoad, {A, R}, 1, {kPreamble, kLoadAB}, kPreambled},
    {"LoadUnrecognised", kLoad, {A, U}, 0, {kPreamble, kLoadAB}, kPreambled},
    {"LoadAcceptedStx", kLoad, {A, X}, 0, {kPreamble, kLoadAB}, kPreambled},
    {"LoadSilent", kLoad, {A}, 0, {kPreamble, kLoadAB}, kPreambledSilent},

    // "R": the reply up to the character before its CR becomes the text.
    {"ReadPreambleRefused", kRead, {R}, 1, {kPreamble}, "send read", "old"},
    {"ReadAccepted", kRead, {A, A}, 0, {kPreamble, kRead05}, kPreambled, "*3"},
    {"ReadRefusedStoresNothing", kRead, {A, R}, 1, {kPreamble, kRead05}, kPreambled, "old"},
    {"ReadUnrecognisedIsTheText", kRead, {A, kTextReply}, 0, {kPreamble, kRead05}, kPreambled, "ABC"},
    {"ReadAcceptedStx", kRead, {A, X}, 0, {kPreamble, kRead05}, kPreambled, "*3"},
    {"ReadSilentStoresEmptyText", kRead, {A}, 0, {kPreamble, kRead05}, kPreambledSilent, ""},
    {"ReadLeadingCrStoresEmptyText", kRead, {A, "\r\nABC"}, 0, {kPreamble, kRead05}, kPreambled, ""},
    {"ReadWithoutCrStoredWhole", kRead, {A, "ABCD"}, 0, {kPreamble, kRead05}, kPreambled, "ABCD"},
    {"ReadByWriteAsByUpdate", kReadByWrite, {A, kTextReply}, 0, {kPreamble, kRead05}, kPreambled, "ABC"},

    // A preamble answered late: its acceptance comes ahead of the reply. It
    // is dropped only when the preamble's own read saw no whole acceptance.
    {"ReadLateAnswerSkipped", kRead, {S, A + kTextReply}, 0, {kPreamble, kRead05}, kPreambled, "ABC"},
    {"ReadLateAnswerAloneIsNoText", kRead, {S, A}, 0, {kPreamble, kRead05}, kPreambled, ""},
    {"ReadLateAnswerAfterUnrecognised", kRead, {U, A + kTextReply}, 0, {kPreamble, kRead05}, kPreambled, "ABC"},
    {"ReadLateAnswerThenRefused", kRead, {S, A + R}, 1, {kPreamble, kRead05}, kPreambled, "old"},
    {"ReadAnsweredPreambleKeepsLeadingLine", kRead, {A, A + kTextReply}, 0, {kPreamble, kRead05}, kPreambled, "*3"},
    {"ReadSplitAnswerLeftAsItIs", kRead, {"*3", "F\r\n" + kTextReply}, 0, {kPreamble, kRead05}, kPreambled, ""},
    {"LevelLateAnswerThenRefused", kLevel, {S, A + R}, 1, {kPreamble, kLevel5}, kPreambled},
    {"LevelLateAnswerAlone", kLevel, {S, A}, 0, {kPreamble, kLevel5}, kPreambled},
    {"LoadLateAnswerThenRefused", kLoad, {U, A + R}, 1, {kPreamble, kLoadAB}, kPreambled},

    // A list command: its text and the link's CR; the reply is not judged.
    {"ListAccepted", kList, {A}, 0, {kListEntry3}, "send read"},
    {"ListRefused", kList, {R}, 0, {kListEntry3}, "send read"},
    {"ListSilent", kList, {}, 0, {kListEntry3}, "send read"},
    {"ListEmptyCommandSendsCr", kEmptyList, {}, 0, {"<CR>"}, "send read"},

    // A text sent as it stands; the reply is not judged.
    {"TextRefused", kText, {R}, 0, {"hello<CR>"}, "send read"},
    {"TextSilent", kText, {}, 0, {"hello<CR>"}, "send read"},
    {"EmptyTextSendsCr", kEmptyText, {}, 0, {"<CR>"}, "send read"},
};

class ExchangeTest : public SwitcherTest, public ::testing::WithParamInterface<ExchangeCase> {
  protected:
    void SetUp() override {
        SwitcherTest::SetUp();
        previous_ = fs::current_path();
        directory_ = fs::temp_directory_path() /
                     ("qel_exchange_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(directory_);
        fs::current_path(directory_);
        std::ofstream list(kCommandListFile, std::ios::binary);
        list << "StartOfCommandList\n3, XYZ\n4,;\nEndOfCommandList\n";
    }
    void TearDown() override {
        SwitcherTest::TearDown();
        fs::current_path(previous_);
        std::error_code ignored;
        fs::remove_all(directory_, ignored);
    }

  private:
    fs::path previous_;
    fs::path directory_;
};

TEST_P(ExchangeTest, WireTriesAndResult) {
    const ExchangeCase& c = GetParam();
    SCOPED_TRACE(c.name);
    const Gate& gate = c.gate;
    MoxAddGate("R05", "READ", kString);
    g_readyLevel = c.readyLevel;
    GateValueArea value = gate.format == kString ? GateValueArea(gate.text) : GateValueArea(gate.number);
    GateAccessRecord record(gate.address, gate.format, value.bytes);
    DriverRequest request = MakeRequest(context, gate.code, &record.access);

    Answer(c.replies, c.echoingLine);
    const int32_t result = gate.code == REQ_WRITE_GATE ? WriteGate(&request) : UpdateGate(&request);

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Wire(), c.wire);
    EXPECT_EQ(Trace(), c.trace);
    // With the line recovery built in, a line that only fell silent or
    // refused keeps its port.
    EXPECT_FALSE(PortIsLost(context));
    EXPECT_NE(context->port, kNoPort);
    if (c.gateText != nullptr) {
        EXPECT_STREQ(value.Text(), c.gateText);
    }
    if (gate.format == kNumeric) {
        EXPECT_EQ(value.Number(), gate.number);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKindAndReply, ExchangeTest, ::testing::ValuesIn(kExchanges),
                         [](const ::testing::TestParamInfo<ExchangeCase>& row) { return row.param.name; });

}  // namespace

namespace {

class LateAnswerTraceTest : public SwitcherTest {};

// The trace says that the reply's opening line was taken for the preamble's
// late answer, and how much of the read is the reply.
TEST_F(LateAnswerTraceTest, SkipIsTraced) {
    const fs::path trace =
        fs::temp_directory_path() /
        ("qel_late_answer_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".log");
    SetTraceVariable(trace.string().c_str());
    ASSERT_TRUE(TraceOpen(&context->trace, 1, nullptr));
    MoxAddGate("R05", "READ", kString);
    Answer({kSilent, kAccepted + kTextReply});
    GateValueArea value("old");
    GateAccessRecord record("R05", kString, value.bytes);
    DriverRequest request = MakeRequest(context, REQ_UPDATE_GATE, &record.access);
    EXPECT_EQ(UpdateGate(&request), kOk);
    TraceClose(&context->trace);
    SetTraceVariable(nullptr);
    std::stringstream lines;
    lines << std::ifstream(trace).rdbuf();
    fs::remove(trace);
    EXPECT_NE(lines.str().find("RX unrecognised"), std::string::npos) << lines.str();
    EXPECT_NE(lines.str().find("SKIP 5 bytes: the late answer to the preamble P; the reply is what follows (6 bytes)"),
              std::string::npos)
        << lines.str();
    EXPECT_STREQ(value.Text(), "ABC");
}

}  // namespace
