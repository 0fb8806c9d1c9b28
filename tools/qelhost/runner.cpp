// Runs a parsed scenario: each command printed, then carried out by the part
// that owns it (gates here, requests.cpp, checks.cpp).
#include "runner.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "moxpro_control.h"
#include "session.h"
#include "visible.h"

namespace qelhost {

namespace {

void Execute(Session& session, const Command& command) {
    if (IsRequest(command.op)) {
        return RunRequest(session, command);
    }
    if (IsCheck(command.op)) {
        return RunCheck(session, command);
    }
    switch (command.op) {
        case Op::Gate:
            session.gates.push_back(AddGate(session.scenario.gates[static_cast<size_t>(command.gate)]));
            if (command.hasValue) {
                SetValue(session.gates.back(), command);
            }
            return;
        case Op::Set:
            return SetValue(session.GateOf(command), command);
        case Op::Wait:
            return std::this_thread::sleep_for(std::chrono::milliseconds(command.waitMs));
        default:
            return;  // a note is printed with its line
    }
}

}  // namespace

int RunScenario(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out) {
    MoxReset();
    Session session(scenario, entry, options, out);
    for (const Command& command : scenario.commands) {
        char number[16];
        std::snprintf(number, sizeof number, "%4d| ", command.line);
        // The line as written, its control bytes shown rather than sent to
        // the terminal.
        session.report.Line(number + qeltools::Visible(command.source));
        Execute(session, command);
    }
    return session.report.Finish();
}

}  // namespace qelhost
