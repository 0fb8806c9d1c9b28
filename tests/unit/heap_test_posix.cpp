// The driver takes no heap memory of its own: every allocation in the
// process is counted while requests run through the loaded library. The
// sanitizers own malloc themselves, so the count runs only without them.
#include <cstddef>
#include <cstring>

#include "driver_library.h"
#include "host_fixture.h"

#if !defined(__SANITIZE_ADDRESS__)

namespace {
bool g_counting = false;
int g_allocations = 0;
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

class HeapTest : public HostTest {
  protected:
    int32_t Call(int32_t code, void* data = nullptr) {
        DriverRequest request = MakeRequest(context, code, data);
        return LoadedQelMain()(&request);
    }
};

TEST_F(HeapTest, RequestsAllocateNothing) {
    MoxAddGate("OUTGOING", "OUT", GATE_FORMAT_STRING);
    MoxAddGate("INCOMING", "IN", GATE_FORMAT_STRING);
    DriverInfo info{};
    // The first request binds the host library; loading it is the system's
    // allocation, made once, not the driver's.
    Call(REQ_GET_INFO, &info);

    PortConfig config{};
    std::strcpy(config.portName, "NUL");
    config.enabled = 1;
    config.timeout = 10;
    config.line = LineSettings{9600, 8, 0, 0};
    GateValueArea number(5);
    GateValueArea text("hello");
    GateAccessRecord hash("0102", GATE_FORMAT_NUMERIC, number.bytes);
    GateAccessRecord sendStr("SEND_STR", GATE_FORMAT_STRING, text.bytes);
    GateAccessRecord outgoing("OUTGOING", GATE_FORMAT_STRING, text.bytes);
    GateRegistration registration{};
    registration.address = hash.address;

    g_counting = true;
    g_allocations = 0;
    Call(REQ_GET_INFO, &info);
    Call(REQ_LOAD, &config);
    Call(REQ_REGISTER_GATE, &registration);
    Call(REQ_WRITE_GATE, &outgoing.access);
    Call(REQ_WRITE_GATE, &sendStr.access);
    Call(REQ_READ_GATE, &hash.access);
    Call(REQ_WARM_START);
    Call(REQ_CLOSE_PORT);
    g_counting = false;
    EXPECT_EQ(g_allocations, 0);
}

}  // namespace

#endif
