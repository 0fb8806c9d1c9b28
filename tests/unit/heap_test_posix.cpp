// The driver takes no heap memory of its own: every allocation the calling
// thread makes is counted while requests run through the loaded library (a
// test's switcher thread allocates as it likes). The sanitizers own malloc
// themselves, so the count runs only without them.
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "driver_library.h"
#include "host_fixture.h"
#include "scripted_switcher.h"

#if !defined(__SANITIZE_ADDRESS__)

namespace {
thread_local bool g_counting = false;
thread_local int g_allocations = 0;
}  // namespace

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);

void* malloc(size_t size) {
    g_allocations += g_counting ? 1 : 0;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    g_allocations += g_counting ? 1 : 0;
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    g_allocations += g_counting ? 1 : 0;
    return __libc_realloc(pointer, size);
}
}

namespace {

using HeapTest = HostTest;

TEST_F(HeapTest, RequestsAllocateNothing) {
    // The trace stays off here: its load is the case below.
    unsetenv(kTraceVariable);
    MoxAddGate("OUTGOING", "OUT", GATE_FORMAT_STRING);
    MoxAddGate("INCOMING", "IN", GATE_FORMAT_STRING);
    DriverInfo info{};
    // The first call into the host binds its library; loading it is the
    // system's allocation, made once, not the driver's.
    CallDriver(REQ_GET_INFO, &info);
    CallDriver(REQ_BLOCK_WRITE);

    PortConfig config = MakePortConfig("NUL");
    GateValueArea number(5);
    GateValueArea text("hello");
    GateAccessRecord hash("0102", GATE_FORMAT_NUMERIC, number.bytes);
    GateAccessRecord sendStr("SEND_STR", GATE_FORMAT_STRING, text.bytes);
    GateAccessRecord outgoing("OUTGOING", GATE_FORMAT_STRING, text.bytes);
    GateRegistration registration{};
    registration.address = hash.address;

    g_counting = true;
    g_allocations = 0;
    CallDriver(REQ_GET_INFO, &info);
    CallDriver(REQ_LOAD, &config);
    CallDriver(REQ_REGISTER_GATE, &registration);
    CallDriver(REQ_WRITE_GATE, &outgoing.access);
    CallDriver(REQ_WRITE_GATE, &sendStr.access);
    CallDriver(REQ_READ_GATE, &hash.access);
    CallDriver(REQ_WARM_START);
    CallDriver(REQ_CLOSE_PORT);
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
}

TEST_F(HeapTest, HashWriteOnALineAllocatesNothing) {
    // With the trace on, the load's first local time may make the C library
    // read the time zone, once, on its own heap: the count starts after the
    // load. The writes, every trace line included, take nothing.
    const char* const traces[] = {nullptr, "qel_heap_trace.txt"};
    for (const char* trace : traces) {
        SCOPED_TRACE(trace == nullptr ? "trace off" : "trace on");
        if (trace == nullptr) {
            unsetenv(kTraceVariable);
        } else {
            setenv(kTraceVariable, trace, 1);
        }
        SerialPeer peer;
        if (!peer.Open()) {
            FAIL() << "no serial line here (under Wine: source scripts/wine-serial)";
        }
        MoxReset();
        MoxAddGate("OUTGOING", "OUT", GATE_FORMAT_STRING);
        MoxAddGate("INCOMING", "IN", GATE_FORMAT_STRING);
        PortConfig config = MakePortConfig(peer.DriverPortName(), 1, kTestReadTimeoutUnits);
        ASSERT_EQ(CallDriver(REQ_LOAD, &config), 0);
        ScriptedSwitcher switcher(peer, {"*3F\r\n", "*3F\r\n", "*3F\r\n"});
        GateValueArea bankOne(5);
        GateValueArea bankTwo(18);
        GateAccessRecord first("0102", GATE_FORMAT_NUMERIC, bankOne.bytes);
        GateAccessRecord second("0102", GATE_FORMAT_NUMERIC, bankTwo.bytes);

        g_counting = true;
        g_allocations = 0;
        const int32_t firstResult = CallDriver(REQ_WRITE_GATE, &first.access);
        const int32_t secondResult = CallDriver(REQ_WRITE_GATE, &second.access);
        g_counting = false;
        switcher.Stop();
        CallDriver(REQ_STOP);
        EXPECT_EQ(firstResult, 0);
        EXPECT_EQ(secondResult, 0);
        EXPECT_EQ(switcher.Transmissions().size(), 3u);
        EXPECT_EQ(g_allocations, 0);
        if (trace != nullptr) {
            std::ifstream file(trace);
            EXPECT_TRUE(file.good()) << "the trace was not on";
            file.close();
            std::remove(trace);
        }
    }
    unsetenv(kTraceVariable);
}

}  // namespace

#endif
