// Runs a parsed scenario: each command printed, then carried out by the part
// that owns it (gates here, requests.cpp, checks.cpp).
#include "runner.h"

#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>

#include "mox_binding.h"
#include "session.h"

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
            session.gates.push_back(
                AddGate(session.scenario.gates[static_cast<size_t>(command.gate)], session.options.shared));
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

Totals Run(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out) {
    Session session(scenario, entry, options, out);
    for (const Command& command : scenario.commands) {
        session.report.Step(command.line, command.source);
        Execute(session, command);
    }
    session.report.Finish();
    return session.report.Counts();
}

// An instance's output: each line, when the report flushes it, goes out
// whole behind the instance's mark, so that lines of instances never mix.
class MarkedLines : public std::stringbuf {
  public:
    MarkedLines(std::string mark, std::ostream& out, std::mutex& lock)
        : mark_(std::move(mark)), out_(out), lock_(lock) {}

  protected:
    int sync() override {
        std::string text = str();
        size_t end = text.rfind('\n');
        if (end == std::string::npos) {
            return 0;
        }
        std::string marked;
        for (size_t begin = 0; begin <= end;) {
            size_t newline = text.find('\n', begin);
            marked += mark_ + text.substr(begin, newline + 1 - begin);
            begin = newline + 1;
        }
        str(text.substr(end + 1));
        std::lock_guard<std::mutex> lock(lock_);
        out_ << marked << std::flush;
        return 0;
    }

  private:
    std::string mark_;
    std::ostream& out_;
    std::mutex& lock_;
};

}  // namespace

int RunScenario(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out) {
    mox::Reset();
    Totals totals = Run(scenario, entry, options, out);
    int status = ExitStatus(totals, options.oneShot);
    JsonEnd(options.json, totals, status);
    return status;
}

int RunInstances(std::vector<Instance>& instances, QelMainFn entry, std::ostream& out) {
    mox::Reset();
    ForgetSharedGates();
    mox::DistinctClients(1);
    std::mutex lock;
    std::vector<Totals> totals(instances.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < instances.size(); ++i) {
        instances[i].options.shared = true;
        instances[i].options.json.instance = static_cast<int>(i + 1);
        threads.emplace_back([&, i] {
            MarkedLines lines("[" + std::to_string(i + 1) + "] ", out, lock);
            std::ostream marked(&lines);
            totals[i] = Run(instances[i].scenario, entry, instances[i].options, marked);
            marked.flush();
        });
    }
    Totals all;
    for (size_t i = 0; i < threads.size(); ++i) {
        threads[i].join();
        all += totals[i];
    }
    int status = ExitStatus(all, false);
    if (!instances.empty()) {
        JsonEnd(instances.front().options.json, all, status);
    }
    return status;
}

}  // namespace qelhost
