// A scenario: the host's side of a session with the driver, one command a
// line. Its words are listed in one table in scenario_words.cpp, which also
// gives --help its text; how a line splits into words is scenario_tokens.h;
// its headers are scenario_headers.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qelkophv/qelkophv.h"
#include "scenario_headers.h"

namespace qelhost {

enum class Op {
    Gate,
    Set,
    Note,
    Wait,
    // Requests to the driver.
    Info,
    Load,
    WarmStart,
    Register,
    Nop,
    Update,
    Read,
    Write,
    BlockWrite,
    Stop,
    Close,
    Open,
    Reconfigure,
    Raw,
    // Checks.
    CheckResult,
    CheckElapsed,
    CheckNumber,
    CheckText,
    CheckAddress,
    CheckLog,
    CheckNoLog,
    CheckEcho,
    CheckNoEcho,
    CheckRegistration,
    CheckInfo,
};

// The longest port name a start's record holds, its NUL aside.
constexpr size_t kMaxPortName = sizeof(PortConfig::portName) - 1;
// The refusal of a port name longer than that, naming it.
std::string PortNameTooLong(const std::string& port);

// A gate as the scenario declares it.
struct GateDecl {
    std::string address;
    std::string name;
    bool numeric = true;
    uint32_t format = GATE_FORMAT_NUMERIC;  // the word passed in the gate records
};

struct Command {
    Op op = Op::Note;
    int line = 0;
    std::string source;  // the line as written, trimmed

    int gate = -1;  // index into Scenario::gates
    bool hasValue = false;
    uint16_t number = 0;               // what a numeric gate's value area holds
    std::optional<double> hostNumber;  // set, gate: a value only the host library holds
    std::string text;                  // a text value, the text a check compares, a note
    bool contains = false;

    // load and reconfigure; unset fields take the host's defaults.
    std::optional<std::string> port;
    std::optional<uint32_t> enabled;
    std::optional<uint32_t> timeout;
    std::optional<LineSettings> lineSettings;

    int32_t code = 0;  // request: its code; check result: the result
    uint32_t waitMs = 0;
    uint32_t elapsedMin = 0;  // check elapsed: the bounds in ms, both included
    uint32_t elapsedMax = 0;
    std::optional<int32_t> expect;
    std::vector<uint32_t> words;  // check registration: words 4, 5, 7, 8

    // check info
    std::optional<uint32_t> infoSize;
    std::optional<std::string> infoDevice;
    std::optional<std::vector<uint32_t>> infoWords;  // words 0, 4, 7
};

struct Scenario {
    ScenarioHeaders headers;  // its "# KEY: VALUE" lines
    std::vector<GateDecl> gates;
    std::vector<Command> commands;
};

struct ParseError {
    int line = 0;
    std::string message;
};

// Values for $NAME in the scenario (PORT from --port, others from --var).
using Variables = std::map<std::string, std::string, std::less<>>;

// Reads a whole scenario. Returns false with the first error when a line is
// malformed; nothing of a malformed scenario is run.
bool ParseScenario(std::string_view text, const Variables& variables, Scenario* scenario, ParseError* error);

// Every command word with its usage and what it does, as --help lists them.
std::string LanguageHelp();

bool IsRequest(Op op);
bool IsCheck(Op op);

}  // namespace qelhost
