#include "switch_state.h"

namespace qelswitch {

namespace {

std::string Quoted(const std::string& text) {
    return "\"" + Visible(text) + "\"";
}

std::string BankValue(char digit, int bank) {
    if (digit == 0) return "unset";
    return std::string(1, digit) + " (value " + std::to_string(DigitValue(digit) + (bank == 2 ? 16 : 0)) + ")";
}

std::string SetBank(SwitchState& state, const std::string& pair, int bank, char digit) {
    char& held = bank == 1 ? state.crosspoints[pair].bank1 : state.crosspoints[pair].bank2;
    const std::string was = BankValue(held, bank);
    held = digit;
    return "HASH " + pair + " bank " + std::to_string(bank) + " = " + BankValue(digit, bank) + ", was " + was;
}

std::string Was(const std::map<std::string, std::string>& table, const std::string& key, bool quoted) {
    const auto found = table.find(key);
    if (found == table.end()) return "unset";
    return quoted ? Quoted(found->second) : Visible(found->second);
}

std::string SetEntry(std::map<std::string, std::string>& table, const std::string& key, const std::string& value,
                     bool quoted) {
    const std::string was = Was(table, key, quoted);
    table[key] = value;
    return " = " + (quoted ? Quoted(value) : Visible(value)) + ", was " + was;
}

void ApplyCrosspoint(SwitchState& state, const Message& message, std::vector<std::string>& changes) {
    const std::string pair = message.addrA + message.addrB;
    if (state.prefacePending == pair) {
        state.prefacePending.clear();
        changes.push_back(SetBank(state, pair, 2, message.digit));
        state.bank2JustSet = pair;
        return;
    }
    if (message.digit == 'F' && state.bank2JustSet == pair) {
        state.bank2JustSet.clear();
        changes.push_back("HASH " + pair + " trailer F");
        return;
    }
    state.bank2JustSet.clear();
    if (message.digit == 'D') {
        state.crosspoints[pair];
        state.prefacePending = pair;
        changes.push_back("HASH " + pair + " preface D, bank 2 digit follows");
        return;
    }
    changes.push_back(SetBank(state, pair, 1, message.digit));
}

// A "D" that no digit for its pair followed was bank 1's 13 after all.
void SettlePreface(SwitchState& state, const Message& message, std::vector<std::string>& changes) {
    if (state.prefacePending.empty()) return;
    if (message.kind == MessageKind::kHash && message.addrA + message.addrB == state.prefacePending) return;
    const std::string pair = state.prefacePending;
    state.prefacePending.clear();
    changes.push_back(SetBank(state, pair, 1, 'D') + " (no bank-2 digit followed its D)");
}

}  // namespace

int DigitValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

std::vector<std::string> ApplyMessage(SwitchState& state, const Message& message) {
    std::vector<std::string> changes;
    SettlePreface(state, message, changes);
    if (message.kind != MessageKind::kHash) state.bank2JustSet.clear();
    switch (message.kind) {
        case MessageKind::kHash:
            ApplyCrosspoint(state, message, changes);
            break;
        case MessageKind::kBits: {
            const std::string key = message.addrA + message.addrB;
            changes.push_back("BITS " + key + SetEntry(state.bits, key, message.bits, false));
            break;
        }
        case MessageKind::kByte: {
            const std::string key = message.addrA + message.addrB + " " + message.addrC;
            const std::string value = message.byte + " (" + std::to_string(std::stoi(message.byte, nullptr, 16)) + ")";
            changes.push_back("BYTE " + key + SetEntry(state.bytes, key, value, false));
            break;
        }
        case MessageKind::kM:
            changes.push_back("M " + message.addrC + SetEntry(state.levels, message.addrC, message.level, false));
            break;
        case MessageKind::kL:
            changes.push_back("L " + message.addrD + SetEntry(state.labels, message.addrD, message.text, true));
            break;
        case MessageKind::kR:
            changes.push_back("R " + message.addrD + " -> " + Quoted(LabelOf(state, message.addrD)));
            break;
        case MessageKind::kPreamble:
            changes.push_back("PREAMBLE");
            break;
        case MessageKind::kText:
            changes.push_back("TEXT " + Quoted(message.line));
            break;
    }
    return changes;
}

std::string LabelOf(const SwitchState& state, const std::string& address) {
    const auto found = state.labels.find(address);
    return found == state.labels.end() ? "LABEL" + address : found->second;
}

std::vector<std::string> StateLines(const SwitchState& state) {
    std::vector<std::string> lines;
    for (const auto& [pair, point] : state.crosspoints) {
        std::string line =
            "HASH " + pair + " bank 1 = " + BankValue(point.bank1, 1) + ", bank 2 = " + BankValue(point.bank2, 2);
        if (state.prefacePending == pair) line += ", preface pending";
        lines.push_back(line);
    }
    for (const auto& [key, value] : state.bits) lines.push_back("BITS " + key + " = " + Visible(value));
    for (const auto& [key, value] : state.bytes) lines.push_back("BYTE " + key + " = " + value);
    for (const auto& [key, value] : state.levels) lines.push_back("M " + key + " = " + value);
    for (const auto& [key, value] : state.labels) lines.push_back("L " + key + " = " + Quoted(value));
    return lines;
}

}  // namespace qelswitch
