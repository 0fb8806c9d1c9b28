// The scenario parser's own parts: one line's words read against the
// language's table into a command. scenario.cpp holds the line's shape, its
// options and numbers; scenario_gates.cpp the gates it names and their
// values.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "scenario.h"
#include "scenario_tokens.h"
#include "scenario_words.h"

namespace qelhost {

constexpr size_t kMaxTextValue = 255;  // leaves the NUL inside the 256-byte value area
constexpr size_t kMaxGateField = 63;   // the host library's address and name fields
// An error message shows what it quotes of the line up to about this much.
constexpr size_t kMaxMessage = 300;
// The reserved gates that list and send write.
constexpr const char* kListGate = "GET_STR_FROM_FILE";
constexpr const char* kFreeTextGate = "SEND_STR";

// One command's words, as ScanLine gives them, appended to *scenario as a
// scenario line would be; `command` brings its line number and source.
// declareGates: a gate named by an address that no declaration gave is
// declared by the command (the command line's one-shot commands). Returns
// false with the reason in *error; *scenario may then hold gates of it.
bool ParseCommandWords(std::vector<Token> tokens, bool declareGates, Command command, Scenario* scenario,
                       std::string* error);

// One line's words against the table; the Take... steps refuse in the
// order a reader fixes a line: words, then options, then values.
class LineParser {
  public:
    // declareGates: a gate named by an address that no declaration gave is
    // declared by the line itself (the command line's one-shot commands);
    // such declarations, and those of the reserved gates that list and send
    // write, go to *declared, to run before the command.
    LineParser(Scenario& scenario, Command& command, bool declareGates, std::vector<Command>* declared,
               std::string* error)
        : scenario_(scenario), command_(command), declareGates_(declareGates), declared_(declared), error_(error) {}

    bool Parse(std::vector<Token> tokens);

  private:
    bool Refuse(const std::string& message) { return qeltools::Fail(error_, message); }

    bool Take(const CommandWord& entry);

    bool TakeArguments(const CommandWord& entry);

    // A trailing "expect N" (or expect=N) on a request.
    bool TakeExpect();

    bool NoMore(size_t used) { return words_.size() <= used || Refuse("unexpected \"" + words_[used].text + "\""); }

    bool NoOptions(std::initializer_list<const char*> allowed = {});

    bool Need(size_t count, const char* usage);

    // Gates are named by NAME, else by ADDRESS.
    bool Lookup(const std::string& reference, int* index) const;

    bool FindGate(const std::string& reference, int* index);

    // A gate of the line's own: declared as a "gate" line would, run before
    // the command.
    bool Declare(const std::string& address, bool numeric);

    // The gate of words_[0]. Where the line may declare it: "R" addresses
    // are string gates; others are string gates when the value is quoted or
    // no number, numeric when it is a number or absent; format= overrides.
    bool TakeNamedGate(const char* usage, const Token* value);

    // A reserved gate that list and send write: the one declared, else one
    // declared here.
    bool TakeReserved(const char* address, bool numeric);

    // format= says what a gate declared by the line is: elsewhere it is refused.
    bool NoOption(const char* key);

    bool TakeGate(size_t at, const char* usage);

    const GateDecl& Gate() const { return scenario_.gates[static_cast<size_t>(command_.gate)]; }

    // VALUE for the gate: a number for a numeric gate, a text for a string
    // gate. A numeric gate's value area holds 0 to 65535; the host library,
    // where the driver's substitution reads a gate, holds any number, so
    // gate and set (not write, which goes through the area) may also give a
    // negative or fractional one: the area then holds 0.
    bool TakeValue(const GateDecl& gate, const Token& token, bool throughArea);

    bool TakeText(const Token& token);

    bool TakeNumber(const std::string& text, uint64_t max, uint32_t* value, const std::string& what);

    // key=N, when given.
    bool TakeOptionNumber(const char* key, std::optional<uint32_t>* field);

    // line=B,D,S,P, when given.
    bool TakeOptionLine();

    bool TakeDeclaration(const char* usage);

    bool TakeFreeText();

    bool TakePortSettings();

    // [contains] TEXT from words_[at] on.
    bool TakeCompared(size_t at, const char* usage);

    bool TakeEchoGate(const char* usage);

    bool TakeGateNumber(const CommandWord& entry);

    bool TakeMillisecondRange(const CommandWord& entry);

    bool TakeGateWords(const CommandWord& entry);

    bool TakeInfo();

    Scenario& scenario_;
    Command& command_;
    bool declareGates_;
    std::vector<Command>* declared_;
    std::string* error_;
    std::vector<Token> words_;
    std::map<std::string, std::string> options_;
};

}  // namespace qelhost
