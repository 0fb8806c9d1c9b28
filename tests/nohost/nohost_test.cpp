// A host process without the host library: the driver must neither crash
// nor claim success for what needs the host.
#include <gtest/gtest.h>

#include <cstring>

#include "context/context.h"
#include "driver_library.h"

namespace {

struct NoHostTest : ::testing::Test {
    DriverContext context{};
    int32_t Call(int32_t code, void* data = nullptr) {
        DriverRequest request{};
        request.context = &context;
        request.code = code;
        request.data = data;
        return LoadedQelMain()(&request);
    }
};

TEST_F(NoHostTest, LogCallsAreSkipped) {
    char address[] = "abc";
    GateAccess gate{};
    gate.address = address;
    EXPECT_EQ(Call(REQ_READ_GATE, &gate), 1);
    EXPECT_STREQ(address, "ABC");
    EXPECT_EQ(Call(REQ_BLOCK_WRITE), 1);
}

TEST_F(NoHostTest, LoadCannotRegisterAndFails) {
    PortConfig config{};
    std::strcpy(config.portName, "NUL");
    config.enabled = 1;
    config.timeout = 100;
    config.line = LineSettings{9600, 8, 0, 0};
    EXPECT_EQ(Call(REQ_LOAD, &config), 1);
    EXPECT_EQ(Call(REQ_CLOSE_PORT), 0);
}

}  // namespace
