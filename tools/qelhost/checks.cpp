// The checks of a scenario, judged against what the last request left in
// the host's records, the host library and the log.
#include <string>

#include "mox_binding.h"
#include "session.h"
#include "text_codec.h"

namespace qelhost {

namespace {

bool SameLine(const LineSettings& a, const LineSettings& b) {
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.stopBits == b.stopBits && a.parity == b.parity;
}

bool Matches(const std::string& actual, const Command& command) {
    return command.contains ? actual.find(command.text) != std::string::npos : actual == command.text;
}

void CompareText(Report& report, const char* what, const std::string& actual, const Command& command) {
    report.Judge(Matches(actual, command), std::string(what) + " is " + Quoted(actual) +
                                               (command.contains ? ", expected to contain " : ", expected ") +
                                               Quoted(command.text));
}

void CheckResult(Session& session, const Command& command) {
    const std::optional<int32_t>& last = session.driver.lastResult;
    if (!last.has_value()) {
        return session.report.Judge(false, "no request ran before this check");
    }
    session.report.Judge(*last == command.code,
                         "result is " + std::to_string(*last) + ", expected " + std::to_string(command.code));
}

void CheckElapsed(Session& session, const Command& command) {
    if (!session.driver.lastResult.has_value()) {
        return session.report.Judge(false, "no request ran before this check");
    }
    long long elapsed = session.driver.lastElapsedMs;
    session.report.Judge(elapsed >= command.elapsedMin && elapsed <= command.elapsedMax,
                         "elapsed " + std::to_string(elapsed) + " ms, expected " + std::to_string(command.elapsedMin) +
                             " to " + std::to_string(command.elapsedMax) + " ms");
}

void CheckLog(Session& session, const Command& command) {
    std::vector<std::string> log = session.events.RequestLog();
    for (const std::string& line : log) {
        if (Matches(line, command)) {
            return session.report.Judge(true, "");
        }
    }
    std::string seen = log.empty() ? std::string(" (it logged nothing)") : std::string();
    session.report.Judge(false, std::string("no log line of the last request ") +
                                    (command.contains ? "contains " : "is ") + Quoted(command.text) + seen);
}

void CheckRegistration(Session& session, const Command& command) {
    GateState& gate = session.GateOf(command);
    if (!gate.registered) {
        return session.report.Judge(false, "gate " + gate.decl.name + " was not registered");
    }
    const GateRegistration& record = gate.registration;
    bool held = record.word4 == command.words[0] && record.word5 == command.words[1] &&
                record.word7 == command.words[2] && record.word8 == command.words[3];
    session.report.Judge(held, "words 4,5,7,8 are " + RegistrationWords(record));
}

void CheckInfo(Session& session, const Command& command) {
    const DriverSide& driver = session.driver;
    const DriverInfo& info = driver.info;
    if (!driver.infoResult.has_value()) {
        return session.report.Judge(false, "no REQ_GET_INFO ran before this check");
    }
    std::string problems;
    if (command.infoSize.has_value() && info.contextSize != *command.infoSize) {
        problems += " size " + std::to_string(info.contextSize);
    }
    if (command.infoDevice.has_value() &&
        (info.deviceName == nullptr || std::string(info.deviceName) != *command.infoDevice)) {
        problems += " device " + DriverText(info.deviceName);
    }
    if (command.lineSettings.has_value() && !SameLine(info.lineDefaults, *command.lineSettings)) {
        problems += " line " + LineText(info.lineDefaults);
    }
    if (command.infoWords.has_value() &&
        (info.infoWord0 != (*command.infoWords)[0] || info.infoWord4 != (*command.infoWords)[1] ||
         info.infoWord7 != (*command.infoWords)[2])) {
        problems += " words " + std::to_string(info.infoWord0) + "," + std::to_string(info.infoWord4) + "," +
                    std::to_string(info.infoWord7);
    }
    session.report.Judge(problems.empty(), "info has" + problems);
}

}  // namespace

void RunCheck(Session& session, const Command& command) {
    Report& report = session.report;
    switch (command.op) {
        case Op::CheckResult:
            return CheckResult(session, command);
        case Op::CheckElapsed:
            return CheckElapsed(session, command);
        case Op::CheckNumber: {
            uint16_t number = session.GateOf(command).Number();
            return report.Judge(number == command.number,
                                "number is " + std::to_string(number) + ", expected " + std::to_string(command.number));
        }
        case Op::CheckText: {
            std::string text;
            session.GateOf(command).Text(&text);
            return CompareText(report, "text", text, command);
        }
        case Op::CheckAddress: {
            std::string address = session.GateOf(command).AddressText();
            return report.Judge(address == command.text,
                                "address is " + Quoted(address) + ", expected " + Quoted(command.text));
        }
        case Op::CheckLog:
            return CheckLog(session, command);
        case Op::CheckNoLog: {
            size_t lines = session.events.RequestLog().size();
            return report.Judge(lines == 0, "the last request logged " + std::to_string(lines) + " lines");
        }
        case Op::CheckEcho:
            return CompareText(report, "echo", mox::Text(session.GateOf(command).decl.name.c_str()), command);
        case Op::CheckNoEcho: {
            const GateState& gate = session.GateOf(command);
            return report.Judge(gate.putsDuring == 0, "the last request put " + std::to_string(gate.putsDuring) +
                                                          " texts into " + gate.decl.address);
        }
        case Op::CheckRegistration:
            return CheckRegistration(session, command);
        case Op::CheckInfo:
            return CheckInfo(session, command);
        default:
            return;
    }
}

}  // namespace qelhost
