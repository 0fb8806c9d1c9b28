// The host's side of the gates: the address and value area the host hands
// the driver for each gate, and keeping them and the host library agreed
// around each request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host_events.h"
#include "qelkophv/qelkophv.h"
#include "report.h"
#include "scenario.h"

namespace qelhost {

// A host hands the driver value areas of unknown size; ours are exactly this
// big and each one is a separate allocation, so an overrun shows under the
// sanitizers.
constexpr size_t kValueAreaSize = 256;

// Registration words the driver is expected to write start as this.
constexpr uint32_t kUnwritten = 0xDEADBEEF;

struct GateState {
    GateDecl decl;
    std::unique_ptr<char[]> address;  // the host's copy, which the driver may change in place
    std::unique_ptr<unsigned char[]> area;
    bool registered = false;
    GateRegistration registration{};
    // Snapshot of the last request.
    int putsBefore = 0;
    int putsDuring = 0;
    std::string addressBefore;
    unsigned char areaBefore[kValueAreaSize] = {};

    uint16_t Number() const;
    void SetNumber(uint16_t number);
    // The text up to its NUL; false when the area holds none.
    bool Text(std::string* text) const;
    void SetText(const std::string& text);
    std::string AddressText() const { return address.get(); }
};

// Declares the gate in the host and in the host library. Instances that
// share the host library (shared) declare a gate of the same address, name
// and format there once: its table is shared by address, as a host's is.
GateState AddGate(const GateDecl& decl, bool shared = false);

// Forgets the gates shared instances declared (with the host library's reset).
void ForgetSharedGates();

// The command's value into the host's area and the host library.
void SetValue(GateState& gate, const Command& command);

// Before a request: what each gate holds, to see what the driver changes.
// own: an instance sharing the host library, whose own puts count.
void SnapshotGates(std::vector<GateState>& gates, const HostEvents* own = nullptr);

// After a request: texts the driver put through the host library go into
// the host's value area; values the driver changed in the area go back into
// the library, so either way both agree for the next request. Reports what
// changed.
void SyncGates(std::vector<GateState>& gates, Report& report, const HostEvents* own = nullptr);

// Registration words 4, 5, 7 and 8, "unwritten" for those the driver left.
std::string RegistrationWords(const GateRegistration& record);

}  // namespace qelhost
