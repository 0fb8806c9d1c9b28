// The commands the emulator takes on its standard input while it runs, one
// per line: they switch faults, preset texts and show the state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator.h"

namespace qelswitch {

enum class ControlVerb {
    kNothing,  // an empty line or a comment ("#" first)
    kSilent,
    kPower,
    kRefuse,
    kGarbage,
    kDelay,
    kEcho,
    kHangupAfter,
    kText,
    kReplug,  // carried out by the I/O loop: it owns the line
    kState,
    kReset,
    kHelp,
    kQuit,
};

struct ControlCommand {
    ControlVerb verb = ControlVerb::kNothing;
    bool on = false;      // silent, power, garbage, echo; hangup-after: false for "off"
    uint64_t number = 0;  // refuse, delay, hangup-after, replug
    std::string address;  // text
    std::string text;     // text
};

inline constexpr uint64_t kMaxDelayMs = 600000;
inline constexpr uint64_t kMaxCount = 1000000000;
inline constexpr uint64_t kMaxReplugSeconds = 3600;
// A longer command line is refused whole: a cut one could read as another.
inline constexpr size_t kMaxControlLine = 4096;

// Two upper-case hex digits, as "L" and "R" addresses are written.
bool IsLabelAddress(std::string_view text);

// A text "R" can answer: a CR would end the answer early and a NUL cut it
// where the driver keeps it.
bool IsAnswerableText(std::string_view text);

bool ParseControl(std::string_view line, ControlCommand* command, std::string* error);

// Carries out a parsed command; its confirmation and any report go to the
// emulator's events. Returns false for "quit".
bool ApplyControl(Emulator& emulator, const ControlCommand& command);

std::vector<std::string> ControlHelp();

}  // namespace qelswitch
