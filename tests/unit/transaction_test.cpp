// The exchange of every command kind against every kind of reply, on a real
// serial line: the bytes on the wire in their order, the waits and reads of
// the driver, how often it tries, and what the request is told.
#include "protocol/transaction.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cmdlist/command_list.h"
#include "protocol/gate_requests.h"
#include "scripted_switcher.h"

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

struct ExchangeCase {
    const char* name;
    const char* address;
    uint32_t format;
    uint16_t number;
    const char* text;
    int32_t code;  // REQ_WRITE_GATE or REQ_UPDATE_GATE
    std::vector<std::string> replies;
    int32_t result;
    std::vector<std::string> wire;
    std::string trace;
    const char* gateText = nullptr;  // the "R" gate's text afterwards
    int32_t readyLevel = kReadyLevel;
};

constexpr uint32_t kNumeric = GATE_FORMAT_NUMERIC;
constexpr uint32_t kString = GATE_FORMAT_STRING;
constexpr int32_t kWrite = REQ_WRITE_GATE;
constexpr int32_t kUpdate = REQ_UPDATE_GATE;

// Five bytes are read after a '#' or '!' message, so the STX behind an
// accepted reply is never seen there: such a reply counts as accepted.
const ExchangeCase kExchanges[] = {
    // '#', bank 1: up to three tries.
    {"HashAccepted", "0102", kNumeric, 5, "", kWrite, {kAccepted}, 0, {kHash5}, kHashTry},
    {"HashRefusedThrice",
     "0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kRefused, kRefused, kRefused},
     1,
     Times({kHash5}, 3),
     Repeat(kHashTry, 3)},
    {"HashUnrecognisedThriceSucceeds",
     "0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kUnrecognised, kUnrecognised, kUnrecognised},
     0,
     Times({kHash5}, 3),
     Repeat(kHashTry, 3)},
    {"HashAcceptedStxReadAsAccepted", "0102", kNumeric, 5, "", kWrite, {kAcceptedStx}, 0, {kHash5}, kHashTry},
    {"HashSilentSucceedsAfterThreeTries",
     "0102",
     kNumeric,
     5,
     "",
     kWrite,
     {},
     0,
     Times({kHash5}, 3),
     Repeat(kHashTry, 3)},
    {"HashRefusedRefusedUnrecognised",
     "0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kRefused, kRefused, kUnrecognised},
     0,
     Times({kHash5}, 3),
     Repeat(kHashTry, 3)},
    {"HashUnrecognisedUnrecognisedRefused",
     "0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kUnrecognised, kUnrecognised, kRefused},
     1,
     Times({kHash5}, 3),
     Repeat(kHashTry, 3)},
    {"HashAcceptedOnSecondTry",
     "0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kRefused, kAccepted},
     0,
     Times({kHash5}, 2),
     Repeat(kHashTry, 2)},
    {"HashBeforeLoadSendsNothing", "0102", kNumeric, 5, "", kWrite, {kAccepted}, 1, {}, "", nullptr, 0},

    // Marked '#', bank 1: the whole run twice, the second only after a success.
    {"MarkedAcceptedRunsTwice",
     "X0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kAccepted, kAccepted},
     0,
     Times({kHash5}, 2),
     Repeat(kHashTry, 2)},
    {"MarkedRefusedRunsOnce",
     "X0102",
     kNumeric,
     5,
     "",
     kWrite,
     {kRefused, kRefused, kRefused},
     1,
     Times({kHash5}, 3),
     Repeat(kHashTry, 3)},
    {"MarkedUnrecognisedRunsTwice", "X0102", kNumeric, 5, "", kWrite, std::vector<std::string>(6, kUnrecognised), 0,
     Times({kHash5}, 6), Repeat(kHashTry, 6)},
    {"MarkedSilentRunsTwice", "X0102", kNumeric, 5, "", kWrite, {}, 0, Times({kHash5}, 6), Repeat(kHashTry, 6)},
    {"MarkedBeforeLoadSendsNothing", "X0102", kNumeric, 5, "", kWrite, {kAccepted}, 1, {}, "", nullptr, 0},

    // '#', bank 2: preface, then the message; a refusal is final.
    {"BankTwoAccepted",
     "0102",
     kNumeric,
     18,
     "",
     kWrite,
     {kAccepted, kAccepted},
     0,
     {kPreface18, kHash18},
     kBankTwoTry},
    {"BankTwoRefused", "0102", kNumeric, 18, "", kWrite, {kAccepted, kRefused}, 1, {kPreface18, kHash18}, kBankTwoTry},
    {"BankTwoUnrecognisedThriceSucceeds", "0102", kNumeric, 18, "", kWrite, Times({kAccepted, kUnrecognised}, 3), 0,
     Times({kPreface18, kHash18}, 3), Repeat(kBankTwoTry, 3)},
    {"BankTwoAcceptedStxReadAsAccepted",
     "0102",
     kNumeric,
     18,
     "",
     kWrite,
     {kAccepted, kAcceptedStx},
     0,
     {kPreface18, kHash18},
     kBankTwoTry},
    {"BankTwoSilentSucceedsAfterThreeTries",
     "0102",
     kNumeric,
     18,
     "",
     kWrite,
     {},
     0,
     Times({kPreface18, kHash18}, 3),
     Repeat(kBankTwoTry, 3)},
    {"BankTwoPrefaceReplyNotJudged",
     "0102",
     kNumeric,
     18,
     "",
     kWrite,
     {kRefused, kAccepted},
     0,
     {kPreface18, kHash18},
     kBankTwoTry},
    {"BankTwoBeforeLoadSendsNothing", "0102", kNumeric, 18, "", kWrite, {kAccepted}, 1, {}, "", nullptr, 0},

    // Marked '#', bank 2: an unrecognised reply is closed by the trailer.
    {"MarkedBankTwoAccepted", "X0102", kNumeric, 18, "", kWrite, Times({kAccepted}, 4), 0,
     Times({kPreface18, kHash18}, 2), Repeat(kBankTwoTry, 2)},
    {"MarkedBankTwoRefusedRunsOnce",
     "X0102",
     kNumeric,
     18,
     "",
     kWrite,
     {kAccepted, kRefused},
     1,
     {kPreface18, kHash18},
     kBankTwoTry},
    {"MarkedBankTwoUnrecognisedSendsTrailer",
     "X0102",
     kNumeric,
     18,
     "",
     kWrite,
     {kAccepted, kUnrecognised, kSilent, kAccepted, kUnrecognised},
     0,
     Times({kPreface18, kHash18, kTrailer18}, 2),
     Repeat(std::string(kBankTwoTry) + " send 80", 2)},
    {"MarkedBankTwoAcceptedStxReadAsAccepted",
     "X0102",
     kNumeric,
     18,
     "",
     kWrite,
     {kAccepted, kAcceptedStx, kAccepted, kAcceptedStx},
     0,
     Times({kPreface18, kHash18}, 2),
     Repeat(kBankTwoTry, 2)},
    {"MarkedBankTwoSilentSendsTrailer",
     "X0102",
     kNumeric,
     18,
     "",
     kWrite,
     {},
     0,
     Times({kPreface18, kHash18, kTrailer18}, 2),
     Repeat(std::string(kBankTwoTry) + " send 80", 2)},

    // '!' byte: the wait comes first; only an accepted reply succeeds.
    {"ByteAccepted", "BP01020012", kNumeric, 10, "", kWrite, {kAccepted}, 0, {kByte10}, "80 send read"},
    {"ByteRefused", "BP01020012", kNumeric, 10, "", kWrite, {kRefused}, 1, {kByte10}, "80 send read"},
    {"ByteUnrecognised", "BP01020012", kNumeric, 10, "", kWrite, {kUnrecognised}, 1, {kByte10}, "80 send read"},
    {"ByteAcceptedStxReadAsAccepted",
     "BP01020012",
     kNumeric,
     10,
     "",
     kWrite,
     {kAcceptedStx},
     0,
     {kByte10},
     "80 send read"},
    {"ByteSilent", "BP01020012", kNumeric, 10, "", kWrite, {}, 1, {kByte10}, "80 send read"},

    // '!' bits: an unrecognised reply succeeds.
    {"BitsAccepted", "X0102", kString, 0, "1010", kWrite, {kAccepted}, 0, {kBits1010}, "send read"},
    {"BitsRefused", "X0102", kString, 0, "1010", kWrite, {kRefused}, 1, {kBits1010}, "send read"},
    {"BitsUnrecognised", "X0102", kString, 0, "1010", kWrite, {kUnrecognised}, 0, {kBits1010}, "send read"},
    {"BitsAcceptedStxReadAsAccepted", "X0102", kString, 0, "1010", kWrite, {kAcceptedStx}, 0, {kBits1010}, "send read"},
    {"BitsSilent", "X0102", kString, 0, "1010", kWrite, {}, 0, {kBits1010}, "send read"},

    // "M": the preamble's reply is judged for a refusal only.
    {"LevelPreambleRefused", "M0012", kNumeric, 5, "", kWrite, {kRefused}, 1, {kPreamble}, "send read"},
    {"LevelPreambleUnrecognised",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kUnrecognised, kAccepted},
     0,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelPreambleAcceptedStx",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kAcceptedStx, kAccepted},
     0,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelPreambleSilent",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kSilent, kAccepted},
     0,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelAccepted",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kAccepted, kAccepted},
     0,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelRefused",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kAccepted, kRefused},
     1,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelUnrecognised",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kAccepted, kUnrecognised},
     0,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelAcceptedStx",
     "M0012",
     kNumeric,
     5,
     "",
     kWrite,
     {kAccepted, kAcceptedStx},
     0,
     {kPreamble, kLevel5},
     "send read send 1000 read"},
    {"LevelSilent", "M0012", kNumeric, 5, "", kWrite, {kAccepted}, 0, {kPreamble, kLevel5}, "send read send 1000"},

    // "L" as "M".
    {"LoadPreambleRefused", "L05", kString, 0, "AB", kWrite, {kRefused}, 1, {kPreamble}, "send read"},
    {"LoadAccepted",
     "L05",
     kString,
     0,
     "AB",
     kWrite,
     {kAccepted, kAccepted},
     0,
     {kPreamble, kLoadAB},
     "send read send 1000 read"},
    {"LoadRefused",
     "L05",
     kString,
     0,
     "AB",
     kWrite,
     {kAccepted, kRefused},
     1,
     {kPreamble, kLoadAB},
     "send read send 1000 read"},
    {"LoadUnrecognised",
     "L05",
     kString,
     0,
     "AB",
     kWrite,
     {kAccepted, kUnrecognised},
     0,
     {kPreamble, kLoadAB},
     "send read send 1000 read"},
    {"LoadAcceptedStx",
     "L05",
     kString,
     0,
     "AB",
     kWrite,
     {kAccepted, kAcceptedStx},
     0,
     {kPreamble, kLoadAB},
     "send read send 1000 read"},
    {"LoadSilent", "L05", kString, 0, "AB", kWrite, {kAccepted}, 0, {kPreamble, kLoadAB}, "send read send 1000"},

    // "R": the reply up to the character before its CR becomes the text.
    {"ReadPreambleRefused", "R05", kString, 0, "old", kUpdate, {kRefused}, 1, {kPreamble}, "send read", "old"},
    {"ReadAccepted",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted, kAccepted},
     0,
     {kPreamble, kRead05},
     "send read send 1000 read",
     "*3"},
    {"ReadRefusedStoresNothing",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted, kRefused},
     1,
     {kPreamble, kRead05},
     "send read send 1000 read",
     "old"},
    {"ReadUnrecognisedIsTheText",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted, kTextReply},
     0,
     {kPreamble, kRead05},
     "send read send 1000 read",
     "ABC"},
    {"ReadAcceptedStx",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted, kAcceptedStx},
     0,
     {kPreamble, kRead05},
     "send read send 1000 read",
     "*3"},
    {"ReadSilentStoresEmptyText",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted},
     0,
     {kPreamble, kRead05},
     "send read send 1000",
     ""},
    {"ReadLeadingCrStoresEmptyText",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted, "\r\nABC"},
     0,
     {kPreamble, kRead05},
     "send read send 1000 read",
     ""},
    {"ReadWithoutCrStoredWhole",
     "R05",
     kString,
     0,
     "old",
     kUpdate,
     {kAccepted, "ABCD"},
     0,
     {kPreamble, kRead05},
     "send read send 1000 read",
     "ABCD"},
    {"ReadByWriteAsByUpdate",
     "R05",
     kString,
     0,
     "old",
     kWrite,
     {kAccepted, kTextReply},
     0,
     {kPreamble, kRead05},
     "send read send 1000 read",
     "ABC"},

    // A list command: its text and the link's CR; the reply is not judged.
    {"ListAccepted", "GET_STR_FROM_FILE", kNumeric, 3, "", kWrite, {kAccepted}, 0, {kListEntry3}, "send read"},
    {"ListRefused", "GET_STR_FROM_FILE", kNumeric, 3, "", kWrite, {kRefused}, 0, {kListEntry3}, "send read"},
    {"ListSilent", "GET_STR_FROM_FILE", kNumeric, 3, "", kWrite, {}, 0, {kListEntry3}, "send read"},
    {"ListEmptyCommandSendsCr", "GET_STR_FROM_FILE", kNumeric, 4, "", kWrite, {}, 0, {"<CR>"}, "send read"},

    // A text sent as it stands; the reply is not judged.
    {"TextRefused", "SEND_STR", kString, 0, "hello", kWrite, {kRefused}, 0, {"hello<CR>"}, "send read"},
    {"TextSilent", "SEND_STR", kString, 0, "hello", kWrite, {}, 0, {"hello<CR>"}, "send read"},
    {"EmptyTextSendsCr", "SEND_STR", kString, 0, "", kWrite, {}, 0, {"<CR>"}, "send read"},
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
    MoxAddGate("R05", "READ", kString);
    g_readyLevel = c.readyLevel;
    GateValueArea value = c.format == kString ? GateValueArea(c.text) : GateValueArea(c.number);
    GateAccessRecord record(c.address, c.format, value.bytes);
    DriverRequest request = MakeRequest(context, c.code, &record.access);

    Answer(c.replies);
    const int32_t result = c.code == kWrite ? WriteGate(&request) : UpdateGate(&request);

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Wire(), c.wire);
    EXPECT_EQ(Trace(), c.trace);
    if (c.gateText != nullptr) {
        EXPECT_STREQ(value.Text(), c.gateText);
    }
    if (c.format == kNumeric) {
        EXPECT_EQ(value.Number(), c.number);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKindAndReply, ExchangeTest, ::testing::ValuesIn(kExchanges),
                         [](const ::testing::TestParamInfo<ExchangeCase>& row) { return row.param.name; });

}  // namespace
