// The words of the scenario language, in one table: what each one does,
// what follows it, and its line in --help. the parser (scenario_parser.h) reads by it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "scenario.h"

namespace qelhost {

// What follows a command word.
enum class Shape {
    kNone,               // nothing
    kDeclaration,        // ADDRESS numeric|string [VALUE] [name=NAME] [format=N]
    kGateValue,          // GATE VALUE
    kFreeText,           // TEXT...
    kMilliseconds,       // MS
    kPortSettings,       // [port=NAME] [enabled=N] [timeout=N] [line=B,D,S,P]
    kGate,               // GATE
    kGateOptionalValue,  // GATE [VALUE]
    kCode,               // CODE
    kResult,             // N
    kMillisecondRange,   // MIN MAX
    kGateNumber,         // GATE N
    kGateCompared,       // GATE [contains] TEXT
    kGateText,           // GATE TEXT
    kCompared,           // [contains] TEXT
    kEchoCompared,       // OUTGOING|INCOMING|LINE_STATE [contains] TEXT
    kEchoGate,           // OUTGOING|INCOMING|LINE_STATE
    kGateWords,          // GATE W4 W5 W7 W8
    kInfo,               // [size=N] [device=TEXT] [line=B,D,S,P] [words=W0,W4,W7]
    kListEntry,          // N: a write of N into GET_STR_FROM_FILE
    kFreeTextValue,      // TEXT: a write of TEXT into SEND_STR
};

struct CommandWord {
    const char* word;  // a check is "check" and a second word
    Op op;
    int32_t code;  // the request code; 0 when not a request or given in the line
    Shape shape;
    const char* usage;
    const char* help;  // lines separated by '\n'
};

// A command word such as "write"; nullptr for none. "check" is not one: it
// takes a second word, FindCheck's.
const CommandWord* FindCommand(std::string_view word);

// The check named by the word after "check", such as "text"; nullptr for none.
const CommandWord* FindCheck(std::string_view what);

// "result, number, ...": the words after "check", in table order.
std::string CheckWords();

}  // namespace qelhost
