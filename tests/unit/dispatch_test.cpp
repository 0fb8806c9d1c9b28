// The entry point as a host sees it: the library loaded by path, QelMain
// called with requests.
#include <climits>
#include <cstring>

#include "driver_library.h"
#include "host_fixture.h"

namespace {

// A host starts an instance before anything else: the driver binds the host
// library at that start.
class DispatchTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        PortConfig disabled = MakePortConfig("NUL", 0);
        ASSERT_EQ(CallDriver(REQ_LOAD, &disabled), 0);
        MoxReset();
    }
};

TEST_F(DispatchTest, CodesWithoutHandlerAreRefused) {
    for (int32_t code : {0, 8, 9, 16, 17, 255, 65536, -1, -16, INT_MIN, INT_MAX}) {
        EXPECT_EQ(CallDriver(code), 1) << "code " << code;
    }
    EXPECT_EQ(MoxLogCount(), 0);
}

TEST_F(DispatchTest, NullRequestIsRefused) {
    EXPECT_EQ(LoadedQelMain()(nullptr), 1);
}

TEST_F(DispatchTest, NopAnswersOne) {
    EXPECT_EQ(CallDriver(REQ_NOP), 1);
}

TEST_F(DispatchTest, ReadGateUpperCasesTheAddressInPlaceAndLogsIt) {
    GateValueArea value;
    GateAccessRecord gate("r0a-x", GATE_FORMAT_STRING, value.bytes);
    EXPECT_EQ(CallDriver(REQ_READ_GATE, &gate.access), 1);
    EXPECT_STREQ(gate.address, "R0A-X");
    ASSERT_EQ(MoxLogCount(), 1);
    EXPECT_STREQ(MoxLogLine(0), "QELPA: QEL does not support read. Gate= R0A-X");
    EXPECT_EQ(MoxLogLevel(0), 32);
}

TEST_F(DispatchTest, BlockWriteIsRefusedWithALogLine) {
    EXPECT_EQ(CallDriver(REQ_BLOCK_WRITE), 1);
    ASSERT_EQ(MoxLogCount(), 1);
    EXPECT_STREQ(MoxLogLine(0), "QELPAX: Block Write not supported!");
    EXPECT_EQ(MoxLogLevel(0), 32);
}

// What each code answers with no context, with no data, and with a record
// whose address word is null (all zero): the host's slips, never a crash.
struct NullRecordCase {
    int32_t code;
    int32_t noContext;
    int32_t noData;
    int32_t noAddress;
};

TEST_F(DispatchTest, EveryCodeAnswersWithoutItsRecords) {
    const NullRecordCase cases[] = {
        {0, 1, 1, 1},
        {REQ_LOAD, 1, 1, 0},  // all zero: a disabled instance
        {REQ_WARM_START, 0, 0, 0},
        {REQ_REGISTER_GATE, 1, 1, 1},
        {REQ_NOP, 1, 1, 1},
        {REQ_UPDATE_GATE, 1, 1, 1},
        {REQ_READ_GATE, 1, 1, 1},
        {REQ_WRITE_GATE, 1, 1, 1},
        {8, 1, 1, 1},
        {9, 1, 1, 1},
        {REQ_BLOCK_WRITE, 1, 1, 1},
        {REQ_STOP, 1, 0, 0},
        {REQ_CLOSE_PORT, 1, 0, 0},
        {REQ_OPEN_PORT, 1, 2, 2},  // the context names no port
        {REQ_GET_INFO, 0, 1, 0},
        {REQ_RECONFIGURE_PORT, 1, 1, 2},  // the change names no port
    };
    for (const NullRecordCase& c : cases) {
        SCOPED_TRACE(c.code);
        alignas(8) unsigned char record[128] = {};
        DriverRequest noContext = MakeRequest(nullptr, c.code, record);
        EXPECT_EQ(LoadedQelMain()(&noContext), c.noContext);
        EXPECT_EQ(CallDriver(c.code, nullptr), c.noData);
        std::memset(record, 0, sizeof record);
        EXPECT_EQ(CallDriver(c.code, record), c.noAddress);
        EXPECT_EQ(context->port, kNoPort);
    }
}

TEST_F(DispatchTest, StopAndCloseBehaveAlikeWithNoPortOpen) {
    EXPECT_EQ(CallDriver(REQ_STOP), 0);
    EXPECT_EQ(CallDriver(REQ_CLOSE_PORT), 0);
    EXPECT_EQ(CallDriver(REQ_CLOSE_PORT), 0);
}

}  // namespace
