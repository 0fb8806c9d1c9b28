// The host's gate records and value areas, kept agreed with the host library.
#include "host_gates.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>
#include <tuple>

#include "mox_binding.h"
#include "text_codec.h"

namespace qelhost {

namespace {

std::mutex g_sharedLock;
std::set<std::tuple<std::string, std::string, uint32_t>> g_shared;

void ReportChanges(GateState& gate, Report& report) {
    const std::string& name = gate.decl.name;
    if (gate.AddressText() != gate.addressBefore) {
        report.Gate(name, gate.decl.address, "address", Quoted(gate.AddressText()), gate.AddressText());
    }
    if (std::memcmp(gate.areaBefore, gate.area.get(), kValueAreaSize) == 0 || gate.putsDuring > 0) {
        return;
    }
    if (gate.decl.numeric) {
        uint16_t before = static_cast<uint16_t>(gate.areaBefore[2] | (gate.areaBefore[3] << 8));
        if (before != gate.Number()) {
            const std::string number = std::to_string(gate.Number());
            report.Gate(name, gate.decl.address, "number", number, number);
        }
        return;
    }
    std::string text;
    if (!gate.Text(&text)) {
        report.Failure("the driver left no NUL in the 256-byte value area of " + name);
    }
    report.Gate(name, gate.decl.address, "text", Quoted(text), text);
}

}  // namespace

uint16_t GateState::Number() const {
    return static_cast<uint16_t>(area[2] | (area[3] << 8));
}

void GateState::SetNumber(uint16_t number) {
    area[2] = static_cast<unsigned char>(number & 0xFF);
    area[3] = static_cast<unsigned char>(number >> 8);
}

bool GateState::Text(std::string* text) const {
    const void* nul = std::memchr(area.get(), 0, kValueAreaSize);
    size_t length =
        nul == nullptr ? kValueAreaSize : static_cast<size_t>(static_cast<const unsigned char*>(nul) - area.get());
    text->assign(reinterpret_cast<const char*>(area.get()), length);
    return nul != nullptr;
}

void GateState::SetText(const std::string& text) {
    std::memset(area.get(), 0, kValueAreaSize);
    std::memcpy(area.get(), text.data(), std::min(text.size(), kValueAreaSize - 1));
}

void ForgetSharedGates() {
    std::lock_guard<std::mutex> lock(g_sharedLock);
    g_shared.clear();
}

GateState AddGate(const GateDecl& decl, bool shared) {
    GateState gate;
    gate.decl = decl;
    gate.address = std::make_unique<char[]>(decl.address.size() + 1);
    std::memcpy(gate.address.get(), decl.address.c_str(), decl.address.size() + 1);
    gate.area = std::make_unique<unsigned char[]>(kValueAreaSize);
    if (shared) {
        // Under the lock: no instance sets a value before the gate exists.
        std::lock_guard<std::mutex> lock(g_sharedLock);
        if (g_shared.emplace(decl.address, decl.name, decl.format).second) {
            mox::AddGate(decl.address.c_str(), decl.name.c_str(), decl.format);
        }
        return gate;
    }
    mox::AddGate(decl.address.c_str(), decl.name.c_str(), decl.format);
    return gate;
}

void SetValue(GateState& gate, const Command& command) {
    if (gate.decl.numeric) {
        gate.SetNumber(command.number);
        mox::SetNumber(gate.decl.name.c_str(), command.hostNumber.value_or(command.number));
    } else {
        gate.SetText(command.text);
        mox::SetText(gate.decl.name.c_str(), command.text.c_str());
    }
}

void SnapshotGates(std::vector<GateState>& gates, const HostEvents* own) {
    for (GateState& gate : gates) {
        gate.putsBefore = own != nullptr ? own->PutCount(gate.decl.address) : mox::PutCount(gate.decl.name.c_str());
        gate.addressBefore = gate.AddressText();
        std::memcpy(gate.areaBefore, gate.area.get(), kValueAreaSize);
    }
}

void SyncGates(std::vector<GateState>& gates, Report& report, const HostEvents* own) {
    for (GateState& gate : gates) {
        const char* name = gate.decl.name.c_str();
        gate.putsDuring = (own != nullptr ? own->PutCount(gate.decl.address) : mox::PutCount(name)) - gate.putsBefore;
        if (!gate.decl.numeric && gate.putsDuring > 0) {
            gate.SetText(own != nullptr ? own->LastPut(gate.decl.address) : std::string(mox::Text(name)));
        } else if (gate.decl.numeric) {
            // Only a number the driver changed: the host library may hold
            // one the area cannot (set GATE -3.7).
            if (std::memcmp(gate.areaBefore + 2, gate.area.get() + 2, 2) != 0) {
                mox::SetNumber(name, gate.Number());
            }
        } else {
            std::string text;
            gate.Text(&text);
            mox::SetText(name, text.c_str());
        }
        ReportChanges(gate, report);
    }
}

std::string RegistrationWords(const GateRegistration& record) {
    std::string text;
    for (uint32_t word : {record.word4, record.word5, record.word7, record.word8}) {
        text += (text.empty() ? "" : " ") + (word == kUnwritten ? std::string("unwritten") : std::to_string(word));
    }
    return text;
}

}  // namespace qelhost
