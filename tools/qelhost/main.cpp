// qelhost: a host simulator. Loads the driver library as a host does, acts
// as the host's process library, and runs a scenario against the driver.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "driver_loader.h"
#include "qel_version.h"
#include "runner.h"
#include "scenario.h"

namespace {

constexpr int kExitMalformed = 2;
constexpr int kExitNoDriver = 3;

const char kUsageHead[] = R"(usage: qelhost [options] [SCENARIO | -]

Runs a scenario (a file, or standard input when none or "-" is given)
against the driver library, loaded by path as a host loads it, with the host
library substitute as the host's process library.

options:
  --driver PATH     the driver library (default: libqelkophv.so or
                    QELKOPHV.dll in the folder of qelhost)
  --port NAME       the value of $PORT, and the port of "load" without port=
  --var NAME=VALUE  the value of $NAME
  --trace           also print each echo as time-stamped hex bytes
  --version         the version, and nothing else
  --help            this text

exit status: 0 every check held; 1 a check failed; 2 the scenario is
malformed or the options are wrong (nothing is run); 3 the driver library
cannot be loaded.

SCENARIO LANGUAGE
One command a line; blank lines are skipped; a word that begins with '#'
starts a comment to the end of the line. Words are separated by blanks;
"double quotes" hold blanks or an empty text. key=value words are options.
Numbers are decimal or 0x hex. $NAME is replaced by --port / --var values.
Texts may hold control bytes: <CR> <LF> <STX> <ETX> <ESC> ... (any ASCII
control name), <XX> (two upper-case hex digits), \xNN, \r, \n, \t; \\ \"
\< \$ \# stand for the character itself (write the literal text "<CR>" as
\<CR>). A text cannot hold a NUL byte. Every request may end in "expect N":
its result must be N. A failed check is reported and the scenario goes on.

)";

const char kUsageTail[] = R"(
OUTPUT
Each command as "LINE| source"; beneath it, indented by six blanks:
  log LEVEL "TEXT"            a host log line
  OUTGOING "TEXT"             a text put into an echo gate (also INCOMING;
  put ADDRESS "TEXT"          other gates as "put")
  trace SECONDS GATE N bytes: HH HH ...   (--trace)
  GATE number now N | GATE text now "TEXT" | GATE address now "TEXT"
                              what the driver changed in the host's records
  REQ_NAME -> RESULT (MS ms)  a request's result and time
  ok | FAIL MESSAGE           a check or an expected result
and at the end: "qelhost: N requests, N checks, N failed".
Texts are shown in the notation above, so they can be pasted into checks.

A first line "# needs: switcher" marks a scenario that needs a switcher on
its port: scripts/run-scenario runs it with the switcher emulator qelswitch
on the other end of the line, and the build's tests run every such scenario
that way (the Windows build's under Wine, on a serial pair).
)";

int Usage(const std::string& problem) {
    std::cerr << "qelhost: " << problem << "\n(qelhost --help for the usage)\n";
    return kExitMalformed;
}

}  // namespace

int main(int argc, char** argv) {
    std::string driver;
    std::string file;
    qelhost::Variables variables;
    qelhost::RunOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasNext = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsageHead << qelhost::LanguageHelp() << kUsageTail;
            return 0;
        } else if (arg == "--version") {
            std::cout << "qelhost " QELKOPHV_VERSION "\n";
            return 0;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--driver" && hasNext) {
            driver = argv[++i];
        } else if (arg == "--port" && hasNext) {
            variables["PORT"] = argv[++i];
            if (variables["PORT"].size() > 11) {
                return Usage("a port name holds at most 11 bytes");
            }
            options.defaultPort = variables["PORT"];
        } else if (arg == "--var" && hasNext) {
            std::string definition = argv[++i];
            size_t equals = definition.find('=');
            if (equals == std::string::npos || equals == 0) {
                return Usage("--var needs NAME=VALUE");
            }
            variables[definition.substr(0, equals)] = definition.substr(equals + 1);
        } else if ((arg.size() > 1 && arg[0] == '-') || !file.empty()) {
            return Usage("unexpected argument " + arg);
        } else {
            file = arg;
        }
    }

    std::string text;
    std::string shownName = file.empty() || file == "-" ? "(standard input)" : file;
    if (file.empty() || file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream input(file, std::ios::binary);
        if (!input) {
            return Usage("cannot read " + file);
        }
        text.assign(std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>());
    }

    qelhost::Scenario scenario;
    qelhost::ParseError error;
    if (!qelhost::ParseScenario(text, variables, &scenario, &error)) {
        std::cerr << shownName << ":" << error.line << ": " << error.message << "\n";
        return kExitMalformed;
    }

    if (driver.empty()) {
        driver = qelhost::DefaultDriverPath();
    }
    std::string problem;
    QelMainFn entry = qelhost::LoadDriver(driver, &problem);
    if (entry == nullptr) {
        std::cerr << "qelhost: cannot load the driver " << driver << ": " << problem << "\n";
        return kExitNoDriver;
    }
    std::cout << "qelhost: driver " << driver << "\nqelhost: scenario " << shownName << "\n" << std::flush;
    return qelhost::RunScenario(scenario, entry, options, std::cout);
}
