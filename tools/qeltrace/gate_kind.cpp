// The driver's address parser decides the kind and its table names it, so
// that the reader and the driver can never disagree about a gate.
#include "gate_kind.h"

#include <cstring>

#include "context/context.h"
#include "protocol/address_parser.h"
#include "protocol/gate_kinds.h"

namespace qeltrace {
namespace {

bool Parse(std::string_view address, uint32_t format, uint32_t* kind) {
    static thread_local DriverContext context;
    char text[64];
    const size_t length = address.size() < sizeof text - 1 ? address.size() : sizeof text - 1;
    // An empty view may hold no pointer at all: nothing to copy then.
    if (length > 0) {
        std::memcpy(text, address.data(), length);
    }
    text[length] = '\0';
    GateAccess access{};
    access.address = text;
    access.format = format;
    DriverRequest request{};
    request.context = &context;
    request.code = REQ_WRITE_GATE;
    request.data = &access;
    if (address.size() >= sizeof text || !ParseGateKind(&request)) {
        return false;
    }
    *kind = context.commandKind;
    return true;
}

}  // namespace

std::string GateKindOf(std::string_view address, GateFormat format) {
    uint32_t kind = 0;
    const bool found = (format != GateFormat::kNumeric && Parse(address, GATE_FORMAT_STRING, &kind)) ||
                       (format != GateFormat::kString && Parse(address, GATE_FORMAT_NUMERIC, &kind));
    const GateKindFacts* facts = found ? FindGateKind(kind) : nullptr;
    return facts != nullptr ? facts->name : "unrecognised";
}

}  // namespace qeltrace
