// qelhost: a host simulator. Loads the driver library as a host does, acts
// as the host's process library, and runs a scenario against the driver.
#include <iostream>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "list_check.h"
#include "options.h"
#include "qel_version.h"
#include "read_input.h"
#include "runner.h"
#include "scenario.h"
#include "visible.h"

namespace {

constexpr int kExitMalformed = 2;
constexpr int kExitNoDriver = 3;

const char kUsageHead[] = R"(usage: qelhost [options] [SCENARIO | -]
       qelhost --check-list FILE

Runs a scenario (a file, or standard input when none or "-" is given)
against the driver library, loaded by path as a host loads it, with the host
library substitute as the host's process library.

options:
  --driver PATH     the driver library (default: libqelkophv.so or
                    QELKOPHV.dll in the folder of qelhost)
  --port NAME       the value of $PORT, and the port of "load" without port=.
                    Without it such a load takes NUL, the null device, where
                    every write succeeds and no reply comes: refused for a
                    scenario whose first line is "# needs: switcher", else
                    a warning on standard error
  --var NAME=VALUE  the value of $NAME (NAME: upper-case letters, digits, _)
  --trace           also print each echo as time-stamped hex bytes
  --driver-trace FILE
                    sets QELKOPHV_TRACE=FILE for the driver, before it is
                    loaded: the driver's own trace of every request, message
                    and reply (a path relative to the working directory)
  --check-list FILE reads a command list file (qelkophv01.ini) as the driver
                    reads it and runs nothing: prints each entry the driver
                    would find (line, number, command text, the gates its
                    @NAME$ need) and flags what would misbehave: a "#", "!",
                    "M", "L", "R" or "P" message whose length or checksum is
                    wrong, a command without ";" (its LF goes out), a line
                    that a stray comma makes an entry, a number given twice
                    (the first wins), a marker word outside its own line,
                    "@" without "$", a command over 255 characters. Exit
                    status 1 when anything is flagged, 0 when not
  --version         the version, and nothing else
  --help            this text

exit status: 0 every check held; 1 a check failed; 2 the scenario is
malformed, unreadable or over 4 MB, or the options are wrong (nothing is
run); 3 the driver library cannot be loaded.

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

// Problems quote what they were given: control bytes are shown, not sent
// to the terminal.
constexpr size_t kMaxShown = 300;

// A scenario or list larger than this is refused (/dev/zero would never end).
constexpr size_t kMaxInput = 4 * 1024 * 1024;

int Usage(const std::string& problem) {
    std::cerr << "qelhost: " << qeltools::VisibleShort(problem, kMaxShown) << "\n(qelhost --help for the usage)\n";
    return kExitMalformed;
}

int Refuse(const std::string& problem) {
    std::cerr << "qelhost: " << qeltools::VisibleShort(problem, kMaxShown) << "\n";
    return kExitMalformed;
}

int CheckList(const std::string& file) {
    std::string text;
    std::string problem;
    if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
        return Refuse(problem);
    }
    qelhost::ListCheck check = qelhost::CheckCommandList(text);
    std::cout << qelhost::ListCheckReport(check, qeltools::VisibleShort(file, kMaxShown));
    return check.flagged == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    qelhost::Options options;
    std::string problem;
    if (!qelhost::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &problem)) {
        return Usage(problem);
    }
    if (options.help) {
        std::cout << kUsageHead << qelhost::LanguageHelp() << kUsageTail;
        return 0;
    }
    if (options.version) {
        std::cout << "qelhost " QELKOPHV_VERSION "\n";
        return 0;
    }
    if (!options.checkList.empty()) {
        return CheckList(options.checkList);
    }

    std::string file = options.scenario.empty() ? "-" : options.scenario;
    std::string shownName = file == "-" ? "(standard input)" : qeltools::VisibleShort(file, kMaxShown);
    std::string text;
    if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
        return Refuse(problem);
    }
    qelhost::Scenario scenario;
    qelhost::ParseError error;
    if (!qelhost::ParseScenario(text, options.variables, &scenario, &error)) {
        std::cerr << shownName << ":" << error.line << ": " << error.message << "\n";
        return kExitMalformed;
    }
    if (qelhost::RefuseDefaultPort(options, scenario, &problem)) {
        return Refuse(problem);
    }
    if (std::string warning = qelhost::DefaultPortWarning(options, scenario); !warning.empty()) {
        std::cerr << "qelhost: " << warning << "\n";
    }

    std::string driver = options.driver.empty() ? qelhost::DefaultDriverPath() : options.driver;
    qelhost::ApplyDriverEnvironment(options);
    QelMainFn entry = qelhost::LoadDriver(driver, &problem);
    if (entry == nullptr) {
        std::cerr << "qelhost: cannot load the driver " << qeltools::VisibleShort(driver, kMaxShown) << ": "
                  << qeltools::VisibleShort(problem, kMaxShown) << "\n";
        return kExitNoDriver;
    }
    std::cout << "qelhost: driver " << qeltools::VisibleShort(driver, kMaxShown) << "\nqelhost: scenario " << shownName
              << "\n"
              << std::flush;
    return qelhost::RunScenario(scenario, entry, options.run, std::cout);
}
