// The control loop both front ends run: the emulator between its line and
// its commands, what the line still owes, the hang-up, the replug and the
// end. A front end brings only its I/O: a pseudo-terminal or device polled
// with the control inputs (main.cpp), or a COM port read in short slices
// beside a console thread (main_win32.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "emulator.h"
#include "options.h"

namespace qelswitch {

struct Session;

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // Hands the line what it takes of `bytes` now: the count taken, or -1
    // when the line is lost (said on standard error).
    virtual int64_t Write(std::string_view bytes) = 0;
    // Waits, at most `limitMs`, until the line has sent what it took.
    virtual void Drain(int limitMs) = 0;
    // Waits at most `waitMs` (-1: until something comes) for bytes of the
    // line, a command or a signal, and hands what came to the session
    // (Receive, RunControlLine, End).
    virtual void Wait(Session& session, int64_t waitMs) = 0;
    // Takes the line away for `seconds`; says so on standard error where
    // the line cannot be unplugged.
    virtual void Unplug(Session& session, uint64_t seconds) = 0;
};

struct Session {
    const Options* options = nullptr;
    FrontEnd* frontEnd = nullptr;
    Emulator emulator;
    std::string outgoing;      // due answers the line has not taken yet
    uint64_t lastTakenMs = 0;  // when the line last took bytes, or began to be owed them
    bool ended = false;
    std::string exitReason;
    int status = 0;
};

// How long a hang-up waits for the driver to read the last answer: its
// longest wait and read time-out, with room to spare.
inline constexpr int kHangupGraceMs = 2500;

// The emulator as the command line sets it up.
void StartSession(Session& session, const Options& options, FrontEnd& frontEnd);

void Receive(Session& session, std::string_view bytes);

// Runs one command line (a refusal goes to standard error); "quit" ends
// the session, "replug" goes to the front end.
void RunControlLine(Session& session, std::string_view text);

void End(Session& session, const char* reason, int status = 0);

// The line went away for a while (unplugged): what it owed is lost.
void DropOwed(Session& session);

// Runs until the session ends; then prints the last events, the state when
// asked for, and the EXIT line. Returns the exit status.
int RunSession(Session& session);

}  // namespace qelswitch
