// One-shot commands: scenario commands given on qelhost's command line, as
// a command-line master sends one value. They are the scenario language's
// own words (write, update, list, send), read by its table into the same
// commands, run by the same runner and printed by the same report:
//
//   qelhost --port COM3 write 0102 5 write L05 "Camera one" update R05
//
// Around them comes a frame of scenario lines: the echo gates OUTGOING and
// INCOMING, and a load of the port. A gate named by an address that no
// declaration gave is declared by its command; every request expects 0,
// so the exit status says whether each one answered 0.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scenario.h"

namespace qelhost {

struct Argument {
    std::string text;
    bool quoted = false;  // the command line held it in double quotes
};

// For each of the count arguments after the program's name on a Windows
// command line: whether it held a double quote that counted, as the C
// runtime splits the line (blanks outside quotes end an argument; 2N
// backslashes before a quote are N and the quote counts, 2N+1 are N and a
// literal quote; the program's name ends at the first blank outside
// quotes).
std::vector<bool> QuotedArgumentsOf(const char* commandLine, size_t count);

// write, update, list or send: the words that begin a one-shot command.
bool IsOneShotWord(std::string_view word);
// Those words, "write, update, list, send", for messages.
std::string OneShotWords();

// The frame with a load of timeout=TIMEOUT and line=LINE (each left out
// when empty), then the commands of the arguments, each taking as many
// words as its form (write GATE VALUE, update GATE, list N, send TEXT) and
// any key=value options such as format=string. Returns false with the
// reason in *error; nothing is run then.
bool ParseOneShot(const std::vector<Argument>& arguments, const std::string& timeout, const std::string& line,
                  const Variables& variables, Scenario* scenario, std::string* error);

}  // namespace qelhost
