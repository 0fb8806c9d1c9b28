// The requests of a scenario: each record filled as a host fills it, the
// driver called, the result and what changed reported.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "context/context.h"
#include "session.h"
#include "text_codec.h"
#include "visible.h"

namespace qelhost {

namespace {

using Clock = std::chrono::steady_clock;

// The context size used when the driver reports none.
constexpr size_t kFallbackContextSize = 65536;

constexpr LineSettings kLineFallback{9600, 8, 0, 0};

// The number the driver's last start gave this instance in its trace, from
// the record the driver keeps in the host's context: instances that share a
// port, or all use NUL, are told apart by it. 0 when the record holds none.
int32_t TraceInstance(const DriverSide& driver) {
    int32_t instance = 0;
    if (driver.context != nullptr && driver.contextSize >= sizeof(DriverContext)) {
        std::memcpy(&instance, driver.context.get() + offsetof(DriverContext, trace) + offsetof(TraceFile, instance),
                    sizeof instance);
    }
    return instance;
}

// A request's call: the record filled, the driver called, and what the
// trace says of it reported. gate: the gate of a gate's request.
int32_t Call(Session& session, int32_t code, void* data, std::optional<int32_t> expect,
             const Command* command = nullptr, const GateState* gate = nullptr, const std::string& port = "") {
    DriverRequest request{};
    request.context = reinterpret_cast<DriverContext*>(session.driver.context.get());
    request.code = code;
    request.data = data;
    session.events.StartRequest();
    session.reasons.Mark();
    const HostEvents* own = session.options.shared ? &session.events : nullptr;
    SnapshotGates(session.gates, own);
    auto begin = Clock::now();
    int32_t result = session.entry(&request);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    SyncGates(session.gates, session.report, own);
    session.driver.lastResult = result;
    session.driver.lastElapsedMs = static_cast<long long>(elapsed);
    RequestOutcome outcome;
    outcome.code = code;
    outcome.result = result;
    outcome.elapsedMs = static_cast<long long>(elapsed);
    outcome.expect = expect;
    outcome.trace = session.reasons.Take(port, code == REQ_LOAD ? TraceInstance(session.driver) : 0);
    if (gate != nullptr) {
        outcome.gate = gate->decl.address;
        outcome.numeric = gate->decl.numeric;
        if (command != nullptr && command->op == Op::Write && command->hasValue) {
            outcome.value = gate->decl.numeric ? std::to_string(command->number) : qeltools::Visible(command->text);
        }
    }
    session.report.Request(outcome);
    return result;
}

void RunInfo(Session& session, std::optional<int32_t> expect) {
    DriverSide& driver = session.driver;
    Report& report = session.report;
    DriverInfo info{};
    int32_t result = Call(session, REQ_GET_INFO, &info, expect);
    driver.info = info;
    driver.infoResult = result;
    report.Detail("words " + std::to_string(info.infoWord0) + " " + std::to_string(info.infoWord4) + " " +
                  std::to_string(info.infoWord7) + ", context size " + std::to_string(info.contextSize) +
                  ", line defaults " + LineText(info.lineDefaults));
    report.Detail("device " + DriverText(info.deviceName));
    report.Detail("banner " + BannerText(info.banner));
    if (driver.context != nullptr) {
        return;
    }
    size_t size = info.contextSize;
    if (result != 0 || size == 0) {
        size = kFallbackContextSize;
        report.Detail("no context size from the driver: allocating " + std::to_string(size) + " bytes");
    }
    driver.context = std::make_unique<unsigned char[]>(size);  // zeroed
    driver.contextSize = size;
}

// The host allocates the context with the size REQ_GET_INFO reports, so it
// asks for that before anything else.
void EnsureContext(Session& session) {
    if (session.driver.context != nullptr) {
        return;
    }
    session.report.Detail("no REQ_GET_INFO yet: asking first");
    RunInfo(session, std::nullopt);
}

LineSettings DefaultLine(const DriverSide& driver) {
    bool known = driver.infoResult == 0 && driver.info.lineDefaults.baudRate != 0;
    return known ? driver.info.lineDefaults : kLineFallback;
}

void Request(Session& session, const Command& command, void* data, const GateState* gate = nullptr,
             const std::string& port = "") {
    EnsureContext(session);
    Call(session, command.code, data, command.expect, &command, gate, port);
}

void Load(Session& session, const Command& command) {
    DriverSide& driver = session.driver;
    PortConfig config{};
    std::string port = command.port.value_or(session.options.defaultPort);
    std::snprintf(config.portName, sizeof config.portName, "%s", port.c_str());
    config.enabled = command.enabled.value_or(1);
    config.timeout = command.timeout.value_or(100);
    EnsureContext(session);
    config.line = command.lineSettings.value_or(DefaultLine(driver));
    driver.port = config.portName;
    driver.line = config.line;
    session.report.Detail("PortConfig port " + Quoted(config.portName) + " enabled " + std::to_string(config.enabled) +
                          " timeout " + std::to_string(config.timeout) + " line " + LineText(config.line));
    Request(session, command, &config, nullptr, config.portName);
}

void Reconfigure(Session& session, const Command& command) {
    DriverSide& driver = session.driver;
    PortChange change{};
    EnsureContext(session);
    std::string port = command.port.value_or(driver.port.empty() ? session.options.defaultPort : driver.port);
    std::snprintf(change.portName, sizeof change.portName, "%s", port.c_str());
    change.timeout = command.timeout.value_or(0);
    change.line = command.lineSettings.value_or(driver.port.empty() ? DefaultLine(driver) : driver.line);
    driver.port = change.portName;
    driver.line = change.line;
    session.report.Detail("PortChange port " + Quoted(change.portName) + " timeout " + std::to_string(change.timeout) +
                          " line " + LineText(change.line));
    Request(session, command, &change);
}

void Register(Session& session, const Command& command) {
    GateState& gate = session.GateOf(command);
    GateRegistration& record = gate.registration;
    record = GateRegistration{};
    record.address = gate.address.get();
    record.format = gate.decl.format;
    record.word4 = record.word5 = record.word7 = record.word8 = kUnwritten;
    Request(session, command, &record, &gate);
    gate.registered = true;
    session.report.Detail("words 4,5,7,8: " + RegistrationWords(record));
}

// REQ_UPDATE_GATE, REQ_READ_GATE, REQ_WRITE_GATE: the gate's own records.
void Access(Session& session, const Command& command) {
    GateState& gate = session.GateOf(command);
    if (command.op == Op::Write && command.hasValue) {
        SetValue(gate, command);
    }
    GateAccess access{};
    access.address = gate.address.get();
    access.format = gate.decl.format;
    access.value = gate.area.get();
    Request(session, command, &access, &gate);
}

}  // namespace

void RunRequest(Session& session, const Command& command) {
    switch (command.op) {
        case Op::Info:
            return RunInfo(session, command.expect);
        case Op::Load:
            return Load(session, command);
        case Op::Reconfigure:
            return Reconfigure(session, command);
        case Op::Register:
            return Register(session, command);
        case Op::Update:
        case Op::Read:
        case Op::Write:
            return Access(session, command);
        default:
            return Request(session, command, nullptr);
    }
}

}  // namespace qelhost
