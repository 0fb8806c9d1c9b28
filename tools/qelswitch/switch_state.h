// What the switcher holds after the commands it accepted: crosspoints per
// address pair and bank, "!" outputs, "M" values and "L" texts.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "message.h"

namespace qelswitch {

// One "#" address pair. A bank's digit is 0 until a command sets it.
struct Crosspoint {
    char bank1 = 0;
    char bank2 = 0;
};

struct SwitchState {
    std::map<std::string, Crosspoint> crosspoints;  // key: addrA addrB, "0102"
    std::map<std::string, std::string> bits;        // key: "0102"
    std::map<std::string, std::string> bytes;       // key: "0102 0003"
    std::map<std::string, std::string> levels;      // "M", key: "0012"
    std::map<std::string, std::string> labels;      // "L", key: "05"
    // A "#" with digit "D" is either bank 1's 13 or the preface of a bank-2
    // command; the next accepted message decides. The pair that waits:
    std::string prefacePending;
    // The pair whose bank 2 the last accepted message set: an "F" for it now
    // is the trailer, not bank 1's 15.
    std::string bank2JustSet;
};

// Applies an accepted message and says, one line each, what changed.
std::vector<std::string> ApplyMessage(SwitchState& state, const Message& message);

// The text an "R" reads back: the last "L" text of the address, or "LABEL"
// and the address while none was set.
std::string LabelOf(const SwitchState& state, const std::string& address);

// The whole state, one line per entry, in the words of ApplyMessage.
std::vector<std::string> StateLines(const SwitchState& state);

// "#" digits "0" to "9" and "A" to "F" count 0 to 15; bank 2 adds 16.
int DigitValue(char digit);

}  // namespace qelswitch
