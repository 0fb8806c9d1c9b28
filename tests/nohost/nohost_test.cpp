// A host process without the host library: the driver must neither crash
// nor claim success for what needs the host.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "context/context.h"
#include "driver_library.h"
#include "trace_variable.h"

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

// A start on the null device, which always opens.
PortConfig NulPortConfig() {
    PortConfig config{};
    std::strcpy(config.portName, "NUL");
    config.enabled = 1;
    config.timeout = 100;
    config.line = LineSettings{9600, 8, 0, 0};
    return config;
}

TEST_F(NoHostTest, LoadCannotRegisterAndFails) {
    PortConfig config = NulPortConfig();
    EXPECT_EQ(Call(REQ_LOAD, &config), 1);
    EXPECT_EQ(Call(REQ_CLOSE_PORT), 0);
}

// The start that finds no host library says in the trace where it looked:
// on Windows only beside the host's program, never the working directory.
TEST_F(NoHostTest, FailedStartNamesWhereItLookedForTheLibrary) {
    constexpr const char* kTraceName = "nohost_trace.txt";
    std::remove(kTraceName);
    SetTraceVariable(kTraceName);
    PortConfig config = NulPortConfig();
    EXPECT_EQ(Call(REQ_LOAD, &config), 1);
    EXPECT_EQ(Call(REQ_STOP), 0);
    SetTraceVariable(nullptr);
    std::stringstream text;
    text << std::ifstream(kTraceName).rdbuf();
    std::remove(kTraceName);
#if defined(_WIN32)
    const char* looked = "no host process library: MOXPRO.DLL is not loaded in the host process, and ";
    const char* beside = "\\MOXPRO.DLL cannot be loaded";
#else
    const char* looked = "no host process library: libmoxpro.so is neither loaded nor found by the dynamic loader";
    const char* beside = "libmoxpro.so";
#endif
    EXPECT_NE(text.str().find(looked), std::string::npos) << text.str();
    EXPECT_NE(text.str().find(beside), std::string::npos) << text.str();
}

}  // namespace
