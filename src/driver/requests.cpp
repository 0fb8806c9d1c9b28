// The request table, and the small handlers whose whole answer is fixed.
#include "driver/requests.h"

#include <cctype>

#include "driver/lifecycle.h"
#include "host/host_library.h"
#include "link/port.h"
#include "protocol/address_parser.h"
#include "protocol/gate_requests.h"

namespace {

int32_t Nop(DriverRequest*) {
    return kFailed;
}

int32_t ReadGate(DriverRequest* request) {
    const GateAccess* access = DataOf<GateAccess>(request);
    char* address = access != nullptr ? access->address : nullptr;
    if (address == nullptr) {
        HostLog(kLogLevel, "QELPA: QEL does not support read. Gate= %s", "");
        return kFailed;
    }
    for (char* c = address; *c != '\0'; ++c) {
        *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    }
    HostLog(kLogLevel, "QELPA: QEL does not support read. Gate= %s", address);
    return kFailed;
}

int32_t BlockWrite(DriverRequest*) {
    HostLog(kLogLevel, "QELPAX: Block Write not supported!");
    return kFailed;
}

using enum RequestShows;

// Indexed by code; the empty slots are codes the host never sends.
constexpr RequestKind kRequests[] = {
    {0, nullptr, nullptr, false, nullptr, kNothing},
    {REQ_LOAD, "LOAD", LoadDriver, true, nullptr, kPortConfig},
    {REQ_WARM_START, "WARM_START", WarmStart, false, nullptr, kNothing},
    {REQ_REGISTER_GATE, "REGISTER_GATE", RegisterGate, true,
     "not one of the named gates: 1 is the usual answer, not an error", kGate},
    {REQ_NOP, "NOP", Nop, false, "NOP always answers 1", kNothing},
    {REQ_UPDATE_GATE, "UPDATE_GATE", UpdateGate, true, nullptr, kGate},
    {REQ_READ_GATE, "READ_GATE", ReadGate, false,
     "the driver does not read gates: it writes them, and updates \"R\" gates", kGate},
    {REQ_WRITE_GATE, "WRITE_GATE", WriteGate, true, nullptr, kGate},
    {8, nullptr, nullptr, false, nullptr, kNothing},
    {9, nullptr, nullptr, false, nullptr, kNothing},
    {REQ_BLOCK_WRITE, "BLOCK_WRITE", BlockWrite, false, "the driver takes no block writes: write the gates one by one",
     kNothing},
    {REQ_STOP, "STOP", ClosePort, false, nullptr, kNothing},
    {REQ_CLOSE_PORT, "CLOSE_PORT", ClosePort, false, nullptr, kNothing},
    {REQ_OPEN_PORT, "OPEN_PORT", OpenPortRequest, false, nullptr, kNothing},
    {REQ_GET_INFO, "GET_INFO", GetInfo, false, nullptr, kNothing},
    {REQ_RECONFIGURE_PORT, "RECONFIGURE_PORT", ReconfigurePort, true, nullptr, kPortChange},
};
constexpr int32_t kRequestSlots = static_cast<int32_t>(sizeof kRequests / sizeof kRequests[0]);

// Every code of the public header has its row, at its own index, with a
// name and a handler.
constexpr bool HasItsRow(int32_t code) {
    return code >= 0 && code < kRequestSlots && kRequests[code].code == code && kRequests[code].name != nullptr &&
           kRequests[code].handler != nullptr;
}
constexpr bool EveryCodeHasItsRow() {
    for (int32_t code :
         {REQ_LOAD, REQ_WARM_START, REQ_REGISTER_GATE, REQ_NOP, REQ_UPDATE_GATE, REQ_READ_GATE, REQ_WRITE_GATE,
          REQ_BLOCK_WRITE, REQ_STOP, REQ_CLOSE_PORT, REQ_OPEN_PORT, REQ_GET_INFO, REQ_RECONFIGURE_PORT}) {
        if (!HasItsRow(code)) {
            return false;
        }
    }
    for (int32_t slot = 0; slot < kRequestSlots; ++slot) {
        if (kRequests[slot].code != slot) {
            return false;
        }
    }
    return true;
}
static_assert(EveryCodeHasItsRow(), "each request code needs its row in kRequests, at its own index");

}  // namespace

const RequestKind* FindRequest(int32_t code) {
    if (code < 0 || code >= kRequestSlots || kRequests[code].handler == nullptr) {
        return nullptr;
    }
    return &kRequests[code];
}
