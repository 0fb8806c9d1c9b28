// The table of the scenario language and the --help text made from it.
#include "scenario_words.h"

namespace qelhost {

namespace {

constexpr CommandWord kWords[] = {
    {"gate", Op::Gate, 0, Shape::kDeclaration, "gate ADDRESS numeric|string [VALUE] [name=NAME] [format=N]",
     "declare a gate (256-byte value area, entry in the host\nlibrary); NAME defaults to ADDRESS; gates are named by\n"
     "NAME, else by ADDRESS; format=N replaces 0/7 in the\ngate records and the host library"},
    {"set", Op::Set, 0, Shape::kGateValue, "set GATE VALUE",
     "set a value without a request. A numeric gate's VALUE\nis 0 to 65535, held by its value area and the host\n"
     "library; gate and set also take a decimal such as -3.7\nor 70000, which only the host library holds (for\n"
     "@NAME$ in the command list) while the area holds 0"},
    {"info", Op::Info, REQ_GET_INFO, Shape::kNone, "info",
     "REQ_GET_INFO (run automatically before the first\nother request when the scenario has none)"},
    {"load", Op::Load, REQ_LOAD, Shape::kPortSettings,
     "load [port=NAME] [enabled=N] [timeout=N] [line=BAUD,DATA,STOP,PARITY]",
     "REQ_LOAD; timeout in units of 10 ms (100: 1 s);\ndefaults: --port (else NUL, the null device: every\n"
     "write succeeds, nothing answers), 1, 100, the\ndriver's line defaults"},
    {"warmstart", Op::WarmStart, REQ_WARM_START, Shape::kNone, "warmstart", "REQ_WARM_START"},
    {"register", Op::Register, REQ_REGISTER_GATE, Shape::kGate, "register GATE", "REQ_REGISTER_GATE"},
    {"nop", Op::Nop, REQ_NOP, Shape::kNone, "nop", "REQ_NOP"},
    {"update", Op::Update, REQ_UPDATE_GATE, Shape::kGate, "update GATE", "REQ_UPDATE_GATE"},
    {"read", Op::Read, REQ_READ_GATE, Shape::kGate, "read GATE", "REQ_READ_GATE"},
    {"write", Op::Write, REQ_WRITE_GATE, Shape::kGateOptionalValue, "write GATE [VALUE]",
     "REQ_WRITE_GATE, after setting VALUE when given (a\nnumeric one 0 to 65535: it goes through the area)"},
    {"list", Op::Write, REQ_WRITE_GATE, Shape::kListEntry, "list N",
     "REQ_WRITE_GATE of N into GET_STR_FROM_FILE (declared\nwhen it is not): entry N of the command list"},
    {"send", Op::Write, REQ_WRITE_GATE, Shape::kFreeTextValue, "send TEXT",
     "REQ_WRITE_GATE of TEXT into SEND_STR (declared when\nit is not): TEXT goes out as it stands"},
    {"blockwrite", Op::BlockWrite, REQ_BLOCK_WRITE, Shape::kNone, "blockwrite", "REQ_BLOCK_WRITE"},
    {"stop", Op::Stop, REQ_STOP, Shape::kNone, "stop", "REQ_STOP"},
    {"close", Op::Close, REQ_CLOSE_PORT, Shape::kNone, "close", "REQ_CLOSE_PORT"},
    {"open", Op::Open, REQ_OPEN_PORT, Shape::kNone, "open", "REQ_OPEN_PORT"},
    {"reconfigure", Op::Reconfigure, REQ_RECONFIGURE_PORT, Shape::kPortSettings,
     "reconfigure [port=NAME] [timeout=N] [line=B,D,S,P]",
     "REQ_RECONFIGURE_PORT (timeout in units of 10 ms, 0\nkeeps it); defaults: last port and line, timeout 0"},
    {"request", Op::Raw, 0, Shape::kCode, "request CODE", "any request code, no data record"},
    {"wait", Op::Wait, 0, Shape::kMilliseconds, "wait MS", "sleep"},
    {"note", Op::Note, 0, Shape::kFreeText, "note TEXT...", "a remark, printed with the scenario"},
    {"check result", Op::CheckResult, 0, Shape::kResult, "check result N", "the last request's result"},
    {"check elapsed", Op::CheckElapsed, 0, Shape::kMillisecondRange, "check elapsed MIN MAX",
     "the last request took MIN to MAX ms, both included"},
    {"check number", Op::CheckNumber, 0, Shape::kGateNumber, "check number GATE N", "a numeric gate's number"},
    {"check text", Op::CheckText, 0, Shape::kGateCompared, "check text GATE [contains] TEXT", "a string gate's text"},
    {"check address", Op::CheckAddress, 0, Shape::kGateText, "check address GATE TEXT",
     "the gate's address as the host now holds it"},
    {"check log", Op::CheckLog, 0, Shape::kCompared, "check log [contains] TEXT", "a log line of the last request"},
    {"check nolog", Op::CheckNoLog, 0, Shape::kNone, "check nolog", "the last request logged nothing"},
    {"check echo", Op::CheckEcho, 0, Shape::kEchoCompared, "check echo OUTGOING|INCOMING|LINE_STATE [contains] TEXT",
     "the echo gate's text in the host library"},
    {"check noecho", Op::CheckNoEcho, 0, Shape::kEchoGate, "check noecho OUTGOING|INCOMING|LINE_STATE",
     "the last request put nothing into it"},
    {"check registration", Op::CheckRegistration, 0, Shape::kGateWords, "check registration GATE W4 W5 W7 W8",
     "the words the last register of GATE left"},
    {"check info", Op::CheckInfo, 0, Shape::kInfo, "check info [size=N] [device=TEXT] [line=B,D,S,P] [words=W0,W4,W7]",
     "the last REQ_GET_INFO reply"},
};

constexpr std::string_view kCheck = "check ";

bool IsCheckWord(std::string_view word) {
    return word.substr(0, kCheck.size()) == kCheck;
}

}  // namespace

const CommandWord* FindCommand(std::string_view word) {
    for (const CommandWord& entry : kWords) {
        if (!IsCheckWord(entry.word) && word == entry.word) {
            return &entry;
        }
    }
    return nullptr;
}

const CommandWord* FindCheck(std::string_view what) {
    for (const CommandWord& entry : kWords) {
        if (IsCheckWord(entry.word) && what == std::string_view(entry.word).substr(kCheck.size())) {
            return &entry;
        }
    }
    return nullptr;
}

std::string CheckWords() {
    std::string list;
    for (const CommandWord& entry : kWords) {
        if (IsCheckWord(entry.word)) {
            list += (list.empty() ? "" : ", ") + std::string(std::string_view(entry.word).substr(kCheck.size()));
        }
    }
    return list;
}

std::string LanguageHelp() {
    constexpr size_t kHelpColumn = 20;
    const std::string indent(2 + kHelpColumn, ' ');
    std::string text;
    for (const CommandWord& entry : kWords) {
        std::string usage = entry.usage;
        std::string_view help = entry.help;
        text += "  " + usage;
        text += usage.size() + 2 <= kHelpColumn ? std::string(kHelpColumn - usage.size(), ' ') : "\n" + indent;
        while (true) {
            size_t end = help.find('\n');
            text += std::string(help.substr(0, end)) + "\n";
            if (end == std::string_view::npos) {
                break;
            }
            help.remove_prefix(end + 1);
            text += indent;
        }
    }
    return text;
}

bool IsRequest(Op op) {
    return op >= Op::Info && op <= Op::Raw;
}

bool IsCheck(Op op) {
    return op >= Op::CheckResult;
}

}  // namespace qelhost
