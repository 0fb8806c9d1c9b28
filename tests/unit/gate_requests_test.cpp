// Gate writes and updates as the host makes them: which gates reach the
// switcher at all, and the value the host reads back afterwards.
#include "protocol/gate_requests.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver_library.h"
#include "link/link_io.h"
#include "protocol/gate_kinds.h"
#include "protocol/transaction.h"
#include "scripted_switcher.h"
#include "trace_variable.h"

namespace {

const std::string kAccepted = "*3F\r\n";
const std::string kRefused = "?3F\r\n";

class GateRequestTest : public SwitcherTest {
  protected:
    int32_t Write(const char* address, uint32_t format, GateValueArea& value) {
        GateAccessRecord record(address, format, value.bytes);
        DriverRequest request = MakeRequest(context, REQ_WRITE_GATE, &record.access);
        return WriteGate(&request);
    }
    int32_t Update(const char* address, uint32_t format, GateValueArea& value) {
        GateAccessRecord record(address, format, value.bytes);
        DriverRequest request = MakeRequest(context, REQ_UPDATE_GATE, &record.access);
        return UpdateGate(&request);
    }
};

struct NumberCase {
    uint16_t number;
    std::vector<std::string> replies;
    int32_t result;
    std::vector<std::string> wire;
};

const NumberCase kNumbers[] = {
    {15, {kAccepted}, 0, {"#0102F3<CR><CR>"}},
    {16, {kAccepted, kAccepted}, 0, {"#0102D1<CR><CR>", "#01020C<CR><CR>"}},
    {20, {kAccepted, kAccepted}, 0, {"#0102D1<CR><CR>", "#010248<CR><CR>"}},
    {20, {kAccepted, kRefused}, 1, {"#0102D1<CR><CR>", "#010248<CR><CR>"}},
    {30, {kAccepted, kAccepted}, 0, {"#0102D1<CR><CR>", "#0102E2<CR><CR>"}},
    {31, {kAccepted}, 1, {}},
};

TEST_F(GateRequestTest, HostReadsBackTheNumberItWrote) {
    for (const NumberCase& c : kNumbers) {
        SCOPED_TRACE(c.number);
        Answer(c.replies);
        GateValueArea value(c.number);
        EXPECT_EQ(Write("0102", GATE_FORMAT_NUMERIC, value), c.result);
        EXPECT_EQ(value.Number(), c.number);
        EXPECT_EQ(Wire(), c.wire);
    }
}

TEST_F(GateRequestTest, RefusedValueAfterBankTwoIsNotRaised) {
    Answer({kAccepted, kAccepted});
    GateValueArea bankTwo(20);
    EXPECT_EQ(Write("0102", GATE_FORMAT_NUMERIC, bankTwo), kOk);
    EXPECT_EQ(bankTwo.Number(), 20);
    ASSERT_EQ(context->bank, 2u);

    GateValueArea tooLarge(31);
    EXPECT_EQ(Write("0102", GATE_FORMAT_NUMERIC, tooLarge), kFailed);
    EXPECT_EQ(tooLarge.Number(), 31);
    GateValueArea huge(65535);
    EXPECT_EQ(Write("0102", GATE_FORMAT_NUMERIC, huge), kFailed);
    EXPECT_EQ(huge.Number(), 65535);
}

struct AddressCase {
    const char* address;
    uint32_t format;
};

// Rejected, or accepted without a kind: neither describes a command.
const AddressCase kNoCommand[] = {
    {"01g2", GATE_FORMAT_NUMERIC},
    {"M0123456789", GATE_FORMAT_NUMERIC},
    {"B0123456789", GATE_FORMAT_NUMERIC},
    {"B01234567", GATE_FORMAT_NUMERIC},
    {"ACK", GATE_FORMAT_STRING},
    {"R05", GATE_FORMAT_NUMERIC},
    {"", GATE_FORMAT_NUMERIC},
    {"0102", 3},
};

TEST_F(GateRequestTest, AddressWithoutCommandRunsNoEarlierGatesCommand) {
    Answer({kAccepted});
    GateValueArea first(5);
    ASSERT_EQ(Write("0304", GATE_FORMAT_NUMERIC, first), kOk);
    for (const AddressCase& c : kNoCommand) {
        SCOPED_TRACE(c.address);
        GateValueArea value(7);
        EXPECT_EQ(Write(c.address, c.format, value), kFailed);
        EXPECT_EQ(Update(c.address, c.format, value), kFailed);
        EXPECT_EQ(value.Number(), 7);
        EXPECT_EQ(context->commandKind, static_cast<uint32_t>(KIND_HASH));
        EXPECT_STREQ(context->addrA, "03");
    }
    EXPECT_EQ(Wire(), std::vector<std::string>{"#03045D<CR><CR>"});
}

TEST_F(GateRequestTest, OnlyReadGatesCanBeUpdated) {
    const AddressCase notReadable[] = {
        {"0102", GATE_FORMAT_NUMERIC},    {"M0012", GATE_FORMAT_NUMERIC},   {"L05", GATE_FORMAT_STRING},
        {"SEND_STR", GATE_FORMAT_STRING}, {"OUTGOING", GATE_FORMAT_STRING}, {"ACK", GATE_FORMAT_NUMERIC},
    };
    for (const AddressCase& c : notReadable) {
        SCOPED_TRACE(c.address);
        GateValueArea value(5);
        EXPECT_EQ(Update(c.address, c.format, value), kFailed);
    }
    EXPECT_EQ(Wire(), std::vector<std::string>{});
}

TEST_F(GateRequestTest, GatesWithoutMessageSendNothing) {
    const AddressCase silent[] = {
        {"OUTGOING", GATE_FORMAT_STRING},
        {"INCOMING", GATE_FORMAT_STRING},
        {"ACK", GATE_FORMAT_NUMERIC},
    };
    for (const AddressCase& c : silent) {
        SCOPED_TRACE(c.address);
        GateValueArea value(5);
        EXPECT_EQ(Write(c.address, c.format, value), kOk);
    }
    EXPECT_EQ(Wire(), std::vector<std::string>{});
    EXPECT_EQ(Trace(), "");
}

TEST_F(GateRequestTest, TextIsSentFromTheDriversOwnBuffer) {
    GateValueArea value("hello");
    value.bytes[6] = 'Z';
    EXPECT_EQ(Write("SEND_STR", GATE_FORMAT_STRING, value), kOk);
    EXPECT_EQ(value.bytes[5], '\0');
    EXPECT_EQ(value.bytes[6], 'Z');
    EXPECT_EQ(Wire(), std::vector<std::string>{"hello<CR>"});
}

TEST_F(GateRequestTest, TextTooLongForTheLinkIsRefused) {
    static unsigned char area[kLinkMessageLimit + 8];
    std::memset(area, 'x', sizeof area);
    area[kLinkMessageLimit + 1] = '\0';
    GateAccessRecord record("SEND_STR", GATE_FORMAT_STRING, area);
    DriverRequest request = MakeRequest(context, REQ_WRITE_GATE, &record.access);
    EXPECT_EQ(WriteGate(&request), kFailed);
    EXPECT_EQ(Wire(), std::vector<std::string>{});

    area[kLinkMessageLimit] = '\0';
    EXPECT_EQ(WriteGate(&request), kOk);
    EXPECT_EQ(peer.Receive(kLinkMessageLimit + 1, 1000).size(), static_cast<size_t>(kLinkMessageLimit + 1));
}

TEST_F(GateRequestTest, FailedTransmissionFailsTheWrite) {
    const PortHandle port = context->port;
    context->port = kNoPort;
    const AddressCase gates[] = {
        {"0102", GATE_FORMAT_NUMERIC},  {"X0102", GATE_FORMAT_NUMERIC},   {"BP01020012", GATE_FORMAT_NUMERIC},
        {"M0012", GATE_FORMAT_NUMERIC}, {"SEND_STR", GATE_FORMAT_STRING}, {"L05", GATE_FORMAT_STRING},
    };
    for (const AddressCase& c : gates) {
        SCOPED_TRACE(c.address);
        GateValueArea value = c.format == GATE_FORMAT_STRING ? GateValueArea("AB") : GateValueArea(uint16_t{18});
        EXPECT_EQ(Write(c.address, c.format, value), kFailed);
    }
    GateValueArea text("old");
    EXPECT_EQ(Update("R05", GATE_FORMAT_STRING, text), kFailed);
    // Nothing went out, so nothing was waited for but the wait that comes
    // before a byte message.
    EXPECT_EQ(Waits(), std::vector<uint32_t>{kShortWaitMs});
    context->port = port;
}

struct NullValueCase {
    const char* address;
    uint32_t format;
    int32_t code;
    int32_t result;
};

// Every gate that reads its value, or for "R" writes it, refuses a request
// without a value area and says why; those that never touch it answer 0.
const NullValueCase kNullValues[] = {
    {"0102", GATE_FORMAT_NUMERIC, REQ_WRITE_GATE, kFailed},
    {"X0102", GATE_FORMAT_NUMERIC, REQ_WRITE_GATE, kFailed},
    {"BP01020012", GATE_FORMAT_NUMERIC, REQ_WRITE_GATE, kFailed},
    {"X0102", GATE_FORMAT_STRING, REQ_WRITE_GATE, kFailed},
    {"M0012", GATE_FORMAT_NUMERIC, REQ_WRITE_GATE, kFailed},
    {"L05", GATE_FORMAT_STRING, REQ_WRITE_GATE, kFailed},
    {"R05", GATE_FORMAT_STRING, REQ_WRITE_GATE, kFailed},
    {"R05", GATE_FORMAT_STRING, REQ_UPDATE_GATE, kFailed},
    {"SEND_STR", GATE_FORMAT_STRING, REQ_WRITE_GATE, kFailed},
    {"GET_STR_FROM_FILE", GATE_FORMAT_NUMERIC, REQ_WRITE_GATE, kFailed},
    {"ACK", GATE_FORMAT_NUMERIC, REQ_WRITE_GATE, kOk},
    {"OUTGOING", GATE_FORMAT_STRING, REQ_WRITE_GATE, kOk},
    {"INCOMING", GATE_FORMAT_STRING, REQ_WRITE_GATE, kOk},
};

TEST_F(GateRequestTest, NullValueAreaSendsNothing) {
    const std::filesystem::path trace =
        std::filesystem::temp_directory_path() /
        ("qel_null_value_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".log");
    SetTraceVariable(trace.string().c_str());
    ASSERT_TRUE(TraceOpen(&context->trace, 1, nullptr));
    Answer({kAccepted, kAccepted, kAccepted});
    size_t reasons = 0;
    for (const NullValueCase& c : kNullValues) {
        SCOPED_TRACE(std::string(c.address) + (c.code == REQ_UPDATE_GATE ? " update" : " write"));
        GateAccessRecord record(c.address, c.format, nullptr);
        DriverRequest request = MakeRequest(context, c.code, &record.access);
        EXPECT_EQ(c.code == REQ_WRITE_GATE ? WriteGate(&request) : UpdateGate(&request), c.result);
        std::stringstream text;
        text << std::ifstream(trace).rdbuf();
        const std::string lines = text.str();
        size_t found = 0;
        for (size_t at = lines.find("REASON the host gave the gate no value area"); at != std::string::npos;
             at = lines.find("REASON the host gave the gate no value area", at + 1)) {
            ++found;
        }
        EXPECT_EQ(found, reasons + (c.result == kFailed ? 1 : 0));
        reasons = found;
    }
    TraceClose(&context->trace);
    SetTraceVariable(nullptr);
    std::filesystem::remove(trace);
    EXPECT_EQ(Wire(), std::vector<std::string>{});
    EXPECT_EQ(Waits(), std::vector<uint32_t>{});
}

TEST_F(GateRequestTest, ListEntryMissingSendsNothing) {
    GateValueArea value(9);
    EXPECT_EQ(Write("GET_STR_FROM_FILE", GATE_FORMAT_NUMERIC, value), kFailed);
    EXPECT_EQ(Wire(), std::vector<std::string>{});
}

TEST_F(GateRequestTest, ReadTextIsKeptToOneHundredCharacters) {
    MoxAddGate("R05", "READ", GATE_FORMAT_STRING);
    Answer({kAccepted, std::string(150, 'r') + "\r\n"});
    GateValueArea value("old");
    std::memset(value.bytes + 4, 'Z', sizeof value.bytes - 4);
    EXPECT_EQ(Update("R05", GATE_FORMAT_STRING, value), kOk);
    EXPECT_EQ(std::string(value.Text()), std::string(100, 'r'));
    EXPECT_EQ(value.bytes[101], 'Z');
}

TEST_F(GateRequestTest, ReadWithoutHostGateStoresNothing) {
    Answer({kAccepted, "ABC7\r\n"});
    GateValueArea value("old");
    EXPECT_EQ(Update("R05", GATE_FORMAT_STRING, value), kOk);
    EXPECT_STREQ(value.Text(), "old");
    EXPECT_STREQ(context->replyBuffer, "ABC");
}

// The driver as a host loads it, on a line, with its real waits.
class LoadedDriverTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        if (!peer.Open()) {
            FAIL() << "no serial line here (under Wine: source scripts/wine-serial)";
        }
        MoxAddGate("OUTGOING", "OUT", GATE_FORMAT_STRING);
        MoxAddGate("INCOMING", "IN", GATE_FORMAT_STRING);
        MoxAddGate("R05", "READ", GATE_FORMAT_STRING);
        PortConfig config = MakePortConfig(peer.DriverPortName(), 1, kTestReadTimeoutUnits);
        ASSERT_EQ(CallDriver(REQ_LOAD, &config), kOk);
    }
    void TearDown() override {
        if (switcher) {
            switcher->Stop();
        }
        CallDriver(REQ_CLOSE_PORT);
    }
    std::vector<std::string> Wire() {
        switcher->Stop();
        std::vector<std::string> shown;
        for (const std::string& transmission : switcher->Transmissions()) {
            shown.push_back(Visible(transmission));
        }
        return shown;
    }

    SerialPeer peer;
    std::unique_ptr<ScriptedSwitcher> switcher;
};

using Clock = std::chrono::steady_clock;

TEST_F(LoadedDriverTest, BankTwoWriteWaitsAfterEachMessage) {
    switcher = std::make_unique<ScriptedSwitcher>(peer, std::vector<std::string>{kAccepted, kAccepted});
    GateValueArea value(18);
    GateAccessRecord record("0102", GATE_FORMAT_NUMERIC, value.bytes);
    const auto start = Clock::now();
    EXPECT_EQ(CallDriver(REQ_WRITE_GATE, &record.access), kOk);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2 * kShortWaitMs));
    EXPECT_EQ(value.Number(), 18);
    EXPECT_EQ(Wire(), (std::vector<std::string>{"#0102D1<CR><CR>", "#01022E<CR><CR>"}));
    EXPECT_STREQ(MoxText("OUTGOING"), "#01022E\r\r");
}

TEST_F(LoadedDriverTest, ReadGateTakesTheSwitchersText) {
    switcher = std::make_unique<ScriptedSwitcher>(peer, std::vector<std::string>{kAccepted, "ABC7\r\n"});
    GateValueArea value("old");
    GateAccessRecord record("R05", GATE_FORMAT_STRING, value.bytes);
    const auto start = Clock::now();
    EXPECT_EQ(CallDriver(REQ_UPDATE_GATE, &record.access), kOk);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(kLongWaitMs));
    EXPECT_STREQ(value.Text(), "ABC");
    EXPECT_STREQ(MoxText("INCOMING"), "ABC7<CR><LF>");
    EXPECT_EQ(Wire(), (std::vector<std::string>{"P<CR><CR>", "R05A<CR><CR>"}));
}

TEST_F(LoadedDriverTest, SilentSwitcherStillTakesAHashWrite) {
    switcher = std::make_unique<ScriptedSwitcher>(peer, std::vector<std::string>{});
    GateValueArea value(5);
    GateAccessRecord record("0102", GATE_FORMAT_NUMERIC, value.bytes);
    EXPECT_EQ(CallDriver(REQ_WRITE_GATE, &record.access), kOk);
    EXPECT_EQ(Wire(), std::vector<std::string>(3, "#010259<CR><CR>"));
}

}  // namespace
