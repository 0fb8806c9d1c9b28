// The entry point as a host sees it: the library loaded by path, QelMain
// called with requests.
#include <climits>

#include "driver_library.h"
#include "host_fixture.h"

namespace {

using DispatchTest = HostTest;

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

TEST_F(DispatchTest, StopAndCloseBehaveAlikeWithNoPortOpen) {
    EXPECT_EQ(CallDriver(REQ_STOP), 0);
    EXPECT_EQ(CallDriver(REQ_CLOSE_PORT), 0);
    EXPECT_EQ(CallDriver(REQ_CLOSE_PORT), 0);
}

}  // namespace
