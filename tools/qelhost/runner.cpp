#include "runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "moxpro_control.h"
#include "text_codec.h"

namespace qelhost {

namespace {

// A host hands the driver value areas of unknown size; ours are exactly this
// big and each one is a separate allocation, so an overrun shows under the
// sanitizers.
constexpr size_t kValueAreaSize = 256;
// The context size used when the driver reports none.
constexpr size_t kFallbackContextSize = 65536;
// Registration words the driver is expected to write start as this.
constexpr uint32_t kUnwritten = 0xDEADBEEF;
// Texts the driver hands back (device name, banner) are read up to this.
constexpr size_t kMaxDriverText = 4096;

constexpr LineSettings kLineFallback{9600, 8, 0, 0};

const char* const kIndent = "      ";

struct GateState {
    GateDecl decl;
    std::unique_ptr<char[]> address;  // the host's copy, which the driver may change in place
    std::unique_ptr<unsigned char[]> area;
    bool registered = false;
    GateRegistration registration{};
    // Snapshot of the last request.
    int putsBefore = 0;
    int putsDuring = 0;
    std::string addressBefore;
    unsigned char areaBefore[kValueAreaSize] = {};

    uint16_t Number() const { return static_cast<uint16_t>(area[2] | (area[3] << 8)); }
    void SetNumber(uint16_t number) {
        area[2] = static_cast<unsigned char>(number & 0xFF);
        area[3] = static_cast<unsigned char>(number >> 8);
    }
    // The text up to its NUL; false when the area holds none.
    bool Text(std::string& text) const {
        const void* nul = std::memchr(area.get(), 0, kValueAreaSize);
        size_t length =
            nul == nullptr ? kValueAreaSize : static_cast<size_t>(static_cast<const unsigned char*>(nul) - area.get());
        text.assign(reinterpret_cast<const char*>(area.get()), length);
        return nul != nullptr;
    }
    void SetText(const std::string& text) {
        std::memset(area.get(), 0, kValueAreaSize);
        std::memcpy(area.get(), text.data(), std::min(text.size(), kValueAreaSize - 1));
    }
    std::string AddressText() const { return address.get(); }
};

std::string LineText(const LineSettings& line) {
    return std::to_string(line.baudRate) + "," + std::to_string(line.dataBits) + "," + std::to_string(line.stopBits) +
           "," + std::to_string(line.parity);
}

bool SameLine(const LineSettings& a, const LineSettings& b) {
    return a.baudRate == b.baudRate && a.dataBits == b.dataBits && a.stopBits == b.stopBits && a.parity == b.parity;
}

std::string DriverText(const char* text) {
    if (text == nullptr) {
        return "(null)";
    }
    size_t length = 0;
    while (length < kMaxDriverText && text[length] != '\0') {
        ++length;
    }
    return Visible(std::string_view(text, length));
}

class Session {
  public:
    Session(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out)
        : scenario_(scenario), entry_(entry), options_(options), out_(out), start_(Clock::now()) {}

    int Run() {
        current_ = this;
        MoxReset();
        MoxSetLogListener(&Session::OnLog);
        MoxSetPutListener(&Session::OnPut);
        for (const Command& command : scenario_.commands) {
            char number[16];
            std::snprintf(number, sizeof number, "%4d| ", command.line);
            Print(number + command.source);
            Execute(command);
        }
        MoxSetLogListener(nullptr);
        MoxSetPutListener(nullptr);
        current_ = nullptr;
        Print("qelhost: " + std::to_string(requests_) + " requests, " + std::to_string(checks_) + " checks, " +
              std::to_string(failures_) + " failed");
        return failures_ == 0 ? 0 : 1;
    }

  private:
    using Clock = std::chrono::steady_clock;

    void Print(const std::string& line) { out_ << line << '\n' << std::flush; }
    void Detail(const std::string& line) { Print(kIndent + line); }

    void Fail(const std::string& message) {
        ++failures_;
        Detail("FAIL " + message);
    }

    void Judge(bool held, const std::string& message) {
        ++checks_;
        if (held) {
            Detail("ok");
        } else {
            Fail(message);
        }
    }

    GateState& GateOf(const Command& command) { return gates_[static_cast<size_t>(command.gate)]; }

    static void OnLog(int32_t level, const char* line) {
        Session* self = current_;
        if (self == nullptr) {
            return;
        }
        self->log_.emplace_back(line);
        self->Detail("log " + std::to_string(level) + " " + Visible(line));
    }

    static void OnPut(const char* address, const char* text) {
        Session* self = current_;
        if (self == nullptr) {
            return;
        }
        std::string name = address;
        bool echo = name == "OUTGOING" || name == "INCOMING";
        self->Detail((echo ? name : "put " + name) + " " + Visible(text));
        if (self->options_.trace) {
            char stamp[32];
            double seconds = std::chrono::duration<double>(Clock::now() - self->start_).count();
            std::snprintf(stamp, sizeof stamp, "%.3f", seconds);
            self->Detail(std::string("trace ") + stamp + " " + name + " " + std::to_string(std::strlen(text)) +
                         " bytes: " + HexBytes(text));
        }
    }

    void Execute(const Command& command) {
        switch (command.op) {
            case Op::Gate:
                AddGate(command);
                return;
            case Op::Set:
                SetValue(GateOf(command), command);
                return;
            case Op::Note:
                return;
            case Op::Wait:
                std::this_thread::sleep_for(std::chrono::milliseconds(command.waitMs));
                return;
            case Op::Info:
                Info(command);
                return;
            case Op::Load:
                Load(command);
                return;
            case Op::Reconfigure:
                Reconfigure(command);
                return;
            case Op::Register:
                Register(command);
                return;
            case Op::Update:
            case Op::Read:
            case Op::Write:
                Access(command);
                return;
            case Op::WarmStart:
                Request(command, REQ_WARM_START, nullptr);
                return;
            case Op::Nop:
                Request(command, REQ_NOP, nullptr);
                return;
            case Op::BlockWrite:
                Request(command, REQ_BLOCK_WRITE, nullptr);
                return;
            case Op::Stop:
                Request(command, REQ_STOP, nullptr);
                return;
            case Op::Close:
                Request(command, REQ_CLOSE_PORT, nullptr);
                return;
            case Op::Open:
                Request(command, REQ_OPEN_PORT, nullptr);
                return;
            case Op::Raw:
                Request(command, command.code, nullptr);
                return;
            default:
                Check(command);
                return;
        }
    }

    void AddGate(const Command& command) {
        GateState gate;
        gate.decl = scenario_.gates[static_cast<size_t>(command.gate)];
        gate.address = std::make_unique<char[]>(gate.decl.address.size() + 1);
        std::memcpy(gate.address.get(), gate.decl.address.c_str(), gate.decl.address.size() + 1);
        gate.area = std::make_unique<unsigned char[]>(kValueAreaSize);
        MoxAddGate(gate.decl.address.c_str(), gate.decl.name.c_str(), gate.decl.format);
        gates_.push_back(std::move(gate));
        if (command.hasValue) {
            SetValue(gates_.back(), command);
        }
    }

    void SetValue(GateState& gate, const Command& command) {
        if (gate.decl.numeric) {
            gate.SetNumber(command.number);
            MoxSetNumber(gate.decl.name.c_str(), command.number);
        } else {
            gate.SetText(command.text);
            MoxSetText(gate.decl.name.c_str(), command.text.c_str());
        }
    }

    // The host allocates the context with the size REQ_GET_INFO reports, so
    // it asks for that before anything else.
    void EnsureContext() {
        if (context_ != nullptr) {
            return;
        }
        Detail("no REQ_GET_INFO yet: asking first");
        RunInfo(std::nullopt);
    }

    void Info(const Command& command) { RunInfo(command.expect); }

    void RunInfo(std::optional<int32_t> expect) {
        DriverInfo info{};
        int32_t result = Call(REQ_GET_INFO, &info, expect);
        info_ = info;
        infoResult_ = result;
        Detail("words " + std::to_string(info.infoWord0) + " " + std::to_string(info.infoWord4) + " " +
               std::to_string(info.infoWord7) + ", context size " + std::to_string(info.contextSize) +
               ", line defaults " + LineText(info.lineDefaults));
        Detail("device " + DriverText(info.deviceName));
        Detail("banner " + DriverText(info.banner));
        if (context_ != nullptr) {
            return;
        }
        size_t size = info.contextSize;
        if (result != 0 || size == 0) {
            size = kFallbackContextSize;
            Detail("no context size from the driver: allocating " + std::to_string(size) + " bytes");
        }
        context_ = std::make_unique<unsigned char[]>(size);  // zeroed
    }

    LineSettings DefaultLine() const {
        bool known = infoResult_ == 0 && info_.lineDefaults.baudRate != 0;
        return known ? info_.lineDefaults : kLineFallback;
    }

    void Load(const Command& command) {
        PortConfig config{};
        std::string port = command.port.value_or(options_.defaultPort);
        std::snprintf(config.portName, sizeof config.portName, "%s", port.c_str());
        config.enabled = command.enabled.value_or(1);
        config.timeout = command.timeout.value_or(100);
        EnsureContext();
        config.line = command.lineSettings.value_or(DefaultLine());
        port_ = config.portName;
        line_ = config.line;
        Detail("PortConfig port " + Visible(config.portName) + " enabled " + std::to_string(config.enabled) +
               " timeout " + std::to_string(config.timeout) + " line " + LineText(config.line));
        Request(command, REQ_LOAD, &config);
    }

    void Reconfigure(const Command& command) {
        PortChange change{};
        EnsureContext();
        std::string port = command.port.value_or(port_.empty() ? options_.defaultPort : port_);
        std::snprintf(change.portName, sizeof change.portName, "%s", port.c_str());
        change.timeout = command.timeout.value_or(0);
        change.line = command.lineSettings.value_or(port_.empty() ? DefaultLine() : line_);
        port_ = change.portName;
        line_ = change.line;
        Detail("PortChange port " + Visible(change.portName) + " timeout " + std::to_string(change.timeout) + " line " +
               LineText(change.line));
        Request(command, REQ_RECONFIGURE_PORT, &change);
    }

    void Register(const Command& command) {
        GateState& gate = GateOf(command);
        GateRegistration& record = gate.registration;
        record = GateRegistration{};
        record.address = gate.address.get();
        record.format = gate.decl.format;
        record.word4 = record.word5 = record.word7 = record.word8 = kUnwritten;
        Request(command, REQ_REGISTER_GATE, &record);
        gate.registered = true;
        Detail("words 4,5,7,8: " + RegistrationWords(record));
    }

    static std::string RegistrationWords(const GateRegistration& record) {
        std::string text;
        for (uint32_t word : {record.word4, record.word5, record.word7, record.word8}) {
            text += (text.empty() ? "" : " ") + (word == kUnwritten ? std::string("unwritten") : std::to_string(word));
        }
        return text;
    }

    void Access(const Command& command) {
        GateState& gate = GateOf(command);
        if (command.op == Op::Write && command.hasValue) {
            SetValue(gate, command);
        }
        GateAccess access{};
        access.address = gate.address.get();
        access.format = gate.decl.format;
        access.value = gate.area.get();
        int32_t code = command.op == Op::Update ? REQ_UPDATE_GATE
                       : command.op == Op::Read ? REQ_READ_GATE
                                                : REQ_WRITE_GATE;
        Request(command, code, &access);
    }

    void Request(const Command& command, int32_t code, void* data) {
        EnsureContext();
        Call(code, data, command.expect);
    }

    int32_t Call(int32_t code, void* data, std::optional<int32_t> expect) {
        DriverRequest request{};
        request.context = reinterpret_cast<DriverContext*>(context_.get());
        request.code = code;
        request.data = data;
        BeforeRequest();
        auto begin = Clock::now();
        int32_t result = entry_(&request);
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
        AfterRequest();
        ++requests_;
        lastResult_ = result;
        Detail(RequestName(code) + " -> " + std::to_string(result) + " (" + std::to_string(elapsed) + " ms)");
        if (expect.has_value()) {
            ++checks_;
            if (*expect != result) {
                Fail("expected result " + std::to_string(*expect) + ", got " + std::to_string(result));
            }
        }
        return result;
    }

    void BeforeRequest() {
        logBegin_ = log_.size();
        for (GateState& gate : gates_) {
            gate.putsBefore = MoxPutCount(gate.decl.name.c_str());
            gate.addressBefore = gate.AddressText();
            std::memcpy(gate.areaBefore, gate.area.get(), kValueAreaSize);
        }
    }

    // Texts the driver put through the host library go into the host's
    // value area; values the driver changed in the area go back into the
    // library, so either way both agree for the next request.
    void AfterRequest() {
        for (GateState& gate : gates_) {
            const char* name = gate.decl.name.c_str();
            gate.putsDuring = MoxPutCount(name) - gate.putsBefore;
            if (!gate.decl.numeric && gate.putsDuring > 0) {
                gate.SetText(MoxText(name));
            } else if (gate.decl.numeric) {
                MoxSetNumber(name, gate.Number());
            } else {
                std::string text;
                gate.Text(text);
                MoxSetText(name, text.c_str());
            }
            ReportChanges(gate);
        }
    }

    void ReportChanges(GateState& gate) {
        const std::string& name = gate.decl.name;
        if (gate.AddressText() != gate.addressBefore) {
            Detail(name + " address now " + Visible(gate.AddressText()));
        }
        if (std::memcmp(gate.areaBefore, gate.area.get(), kValueAreaSize) == 0 || gate.putsDuring > 0) {
            return;
        }
        if (gate.decl.numeric) {
            uint16_t before = static_cast<uint16_t>(gate.areaBefore[2] | (gate.areaBefore[3] << 8));
            if (before != gate.Number()) {
                Detail(name + " number now " + std::to_string(gate.Number()));
            }
            return;
        }
        std::string text;
        if (!gate.Text(text)) {
            Fail("the driver left no NUL in the 256-byte value area of " + name);
        }
        Detail(name + " text now " + Visible(text));
    }

    void Check(const Command& command) {
        switch (command.op) {
            case Op::CheckResult:
                if (!lastResult_.has_value()) {
                    return Judge(false, "no request ran before this check");
                }
                return Judge(*lastResult_ == command.code, "result is " + std::to_string(*lastResult_) + ", expected " +
                                                               std::to_string(command.code));
            case Op::CheckNumber: {
                uint16_t number = GateOf(command).Number();
                return Judge(number == command.number,
                             "number is " + std::to_string(number) + ", expected " + std::to_string(command.number));
            }
            case Op::CheckText: {
                std::string text;
                GateOf(command).Text(text);
                return CompareText("text", text, command);
            }
            case Op::CheckAddress: {
                std::string address = GateOf(command).AddressText();
                return Judge(address == command.text,
                             "address is " + Visible(address) + ", expected " + Visible(command.text));
            }
            case Op::CheckLog:
                return CheckLog(command);
            case Op::CheckNoLog:
                return Judge(log_.size() == logBegin_,
                             "the last request logged " + std::to_string(log_.size() - logBegin_) + " lines");
            case Op::CheckEcho:
                return CompareText("echo", MoxText(GateOf(command).decl.name.c_str()), command);
            case Op::CheckNoEcho:
                return Judge(GateOf(command).putsDuring == 0, "the last request put " +
                                                                  std::to_string(GateOf(command).putsDuring) +
                                                                  " texts into " + GateOf(command).decl.address);
            case Op::CheckRegistration:
                return CheckRegistration(command);
            case Op::CheckInfo:
                return CheckInfo(command);
            default:
                return;
        }
    }

    void CompareText(const char* what, const std::string& actual, const Command& command) {
        bool held = command.contains ? actual.find(command.text) != std::string::npos : actual == command.text;
        Judge(held, std::string(what) + " is " + Visible(actual) +
                        (command.contains ? ", expected to contain " : ", expected ") + Visible(command.text));
    }

    void CheckLog(const Command& command) {
        for (size_t i = logBegin_; i < log_.size(); ++i) {
            const std::string& line = log_[i];
            if (command.contains ? line.find(command.text) != std::string::npos : line == command.text) {
                return Judge(true, "");
            }
        }
        std::string seen = log_.size() == logBegin_ ? std::string(" (it logged nothing)") : std::string();
        Judge(false, std::string("no log line of the last request ") + (command.contains ? "contains " : "is ") +
                         Visible(command.text) + seen);
    }

    void CheckRegistration(const Command& command) {
        GateState& gate = GateOf(command);
        if (!gate.registered) {
            return Judge(false, "gate " + gate.decl.name + " was not registered");
        }
        const GateRegistration& record = gate.registration;
        bool held = record.word4 == command.words[0] && record.word5 == command.words[1] &&
                    record.word7 == command.words[2] && record.word8 == command.words[3];
        Judge(held, "words 4,5,7,8 are " + RegistrationWords(record));
    }

    void CheckInfo(const Command& command) {
        if (!infoResult_.has_value()) {
            return Judge(false, "no REQ_GET_INFO ran before this check");
        }
        std::string problems;
        if (command.infoSize.has_value() && info_.contextSize != *command.infoSize) {
            problems += " size " + std::to_string(info_.contextSize);
        }
        if (command.infoDevice.has_value() &&
            (info_.deviceName == nullptr || std::string(info_.deviceName) != *command.infoDevice)) {
            problems += " device " + DriverText(info_.deviceName);
        }
        if (command.lineSettings.has_value() && !SameLine(info_.lineDefaults, *command.lineSettings)) {
            problems += " line " + LineText(info_.lineDefaults);
        }
        if (command.infoWords.has_value() &&
            (info_.infoWord0 != (*command.infoWords)[0] || info_.infoWord4 != (*command.infoWords)[1] ||
             info_.infoWord7 != (*command.infoWords)[2])) {
            problems += " words " + std::to_string(info_.infoWord0) + "," + std::to_string(info_.infoWord4) + "," +
                        std::to_string(info_.infoWord7);
        }
        Judge(problems.empty(), "info has" + problems);
    }

    static Session* current_;

    const Scenario& scenario_;
    QelMainFn entry_;
    const RunOptions& options_;
    std::ostream& out_;
    Clock::time_point start_;

    std::vector<GateState> gates_;
    std::unique_ptr<unsigned char[]> context_;
    DriverInfo info_{};
    std::optional<int32_t> infoResult_;
    std::string port_;
    LineSettings line_{};

    std::vector<std::string> log_;
    size_t logBegin_ = 0;
    std::optional<int32_t> lastResult_;
    int requests_ = 0;
    int checks_ = 0;
    int failures_ = 0;
};

Session* Session::current_ = nullptr;

}  // namespace

std::string RequestName(int32_t code) {
    switch (code) {
        case REQ_LOAD:
            return "REQ_LOAD";
        case REQ_WARM_START:
            return "REQ_WARM_START";
        case REQ_REGISTER_GATE:
            return "REQ_REGISTER_GATE";
        case REQ_NOP:
            return "REQ_NOP";
        case REQ_UPDATE_GATE:
            return "REQ_UPDATE_GATE";
        case REQ_READ_GATE:
            return "REQ_READ_GATE";
        case REQ_WRITE_GATE:
            return "REQ_WRITE_GATE";
        case REQ_BLOCK_WRITE:
            return "REQ_BLOCK_WRITE";
        case REQ_STOP:
            return "REQ_STOP";
        case REQ_CLOSE_PORT:
            return "REQ_CLOSE_PORT";
        case REQ_OPEN_PORT:
            return "REQ_OPEN_PORT";
        case REQ_GET_INFO:
            return "REQ_GET_INFO";
        case REQ_RECONFIGURE_PORT:
            return "REQ_RECONFIGURE_PORT";
        default:
            return "code " + std::to_string(code);
    }
}

int RunScenario(const Scenario& scenario, QelMainFn entry, const RunOptions& options, std::ostream& out) {
    Session session(scenario, entry, options, out);
    return session.Run();
}

}  // namespace qelhost
