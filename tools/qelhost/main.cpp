// qelhost: a host simulator. Loads the driver library as a host does, acts
// as the host's process library, and runs a scenario against the driver.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "driver_loader.h"
#include "driver_reasons.h"
#include "list_check.h"
#include "mox_binding.h"
#include "options.h"
#include "qel_version.h"
#include "read_input.h"
#include "runner.h"
#include "scenario.h"
#include "scenario_headers.h"
#include "visible.h"

namespace {

using qelhost::kExitMalformed;
using qelhost::kExitNoDriver;

const char kUsageHead[] = R"usage(usage: qelhost [options] [SCENARIO | -]
       qelhost [options] --port NAME COMMAND...
       qelhost [options] --instance PORT SCENARIO --instance PORT SCENARIO...
       qelhost --check-list FILE

Runs a scenario (a file, or standard input when none or "-" is given)
against the driver library, loaded by path as a host loads it, with the host
library substitute as the host's process library. Or runs one-shot
commands, written on the command line as a scenario writes them:

  write GATE VALUE  write VALUE into the gate of the address GATE
  update GATE       update it (an "R" gate: read the switcher's text)
  list N            send entry N of the command list (qelkophv01.ini)
  send TEXT         send TEXT as it stands (free text)

for example: qelhost --port COM3 write 0102 5 write L05 "Camera one"
A quoted VALUE, or one that is no number, makes a string gate, any other
a numeric one ("R" gates are string gates); format=numeric or
format=string before the VALUE says which (a POSIX shell drops the
quotes: there write '"1010"' or format=string 1010). The commands run in order after
a load of the port, each expecting 0. Beneath each: what went out ("sent"),
what came back as the driver judged it ("came back ... (accepted, N ms
after the message)", "refused ...", "nothing came back"), the result and
time, the reason of a 1 or 2, and "not confirmed by the switcher" for a 0
that no reply confirmed (free text and list commands, which the driver
does not judge, are confirmed by whatever comes back).

options:
  --driver PATH     the driver library (default: libqelkophv.so or
                    QELKOPHV.dll in the folder of qelhost, else in the
                    archive's folder beside it: ../lib or ..\driver)
  --timeout N       one-shot commands: the read time-out in units of 10 ms
                    (default 100: 1 s)
  --line B,D,S,P    one-shot commands: baud rate, data bits, stop bits
                    code, parity code (default: the driver's, 9600,8,0,0)
  --port NAME       the value of $PORT, and the port of "load" without port=.
                    Without it such a load takes NUL, the null device, where
                    every write succeeds and no reply comes: refused for a
                    scenario whose first line is "# needs: switcher", else
                    a warning on standard error
  --var NAME=VALUE  the value of $NAME (NAME: upper-case letters, digits, _)
  --instance PORT SCENARIO
                    one driver instance of a host with several lines: its
                    port (its $PORT) and its scenario file. Given again for
                    each further line, the instances run at once, each on a
                    thread of its own with its own record, in the one loaded
                    driver; the host library hands each a client of its own
                    and shares its gates by address. Each line printed is
                    led by "[N] ", N the instance from 1; the exit status is
                    the worst of the instances'
  --trace           also print each echo as time-stamped hex bytes
  --driver-trace FILE
                    sets QELKOPHV_TRACE=FILE for the driver, before it is
                    loaded: the driver's own trace of every request, message
                    and reply (a path relative to the working directory).
                    Without it, and without QELKOPHV_TRACE set, qelhost
                    gives the driver a temporary trace file of its own.
                    Either way a request that does not answer 0 is printed
                    with the reason the trace gives
  --no-reasons      no trace file of qelhost's own, and no reasons beside
                    failed requests: the driver costs what it costs without
                    a trace (for measuring it)
  --check-list FILE reads a command list file (qelkophv01.ini) as the driver
                    reads it and runs nothing: prints each entry the driver
                    would find (line, number, command text, the gates its
                    @NAME$ need) and flags what would misbehave: a "#", "!",
                    "M", "L", "R" or "P" message whose length or checksum is
                    wrong, a command without ";" (its LF goes out), a line
                    that a stray comma makes an entry, a number given twice
                    (the first wins), a marker word outside its own line,
                    "@" without "$", a command over 255 characters, a number
                    not followed by its comma ("2."), a character a "#" or
                    "!" command cannot carry (a blank, no hex digit), each
                    with its line and column. Exit status 1 when anything
                    is flagged, 0 when not
  --json            one JSON object a line on standard output for each step,
                    request, host log line, changed gate and check, and a
                    last line with the counts and the exit status (schema
                    version 1, in the guide); the human text goes to
                    standard error
  --headers FILE    prints the scenario's headers, a line each ("limit 30"),
                    and runs nothing
  --version         the version, and nothing else
  --help            this text

exit status: 0 every check held; 1 a check failed; 2 the scenario or a
one-shot command is malformed, unreadable or over 4 MB, or the options are
wrong (nothing is run); 3 the driver library cannot be found or loaded;
4 (one-shot commands) every request answered 0, but the switcher did not
confirm each one that it can (a dead or switched-off line).

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

)usage";

const char kUsageTail[] = R"(
OUTPUT
Each command as "LINE| source"; beneath it, indented by six blanks:
  log LEVEL "TEXT"            a host log line
  OUTGOING "TEXT"             a text put into an echo gate (also INCOMING;
  put ADDRESS "TEXT"          other gates as "put")
  trace SECONDS GATE N bytes: HH HH ...   (--trace)
  GATE number now N | GATE text now "TEXT" | GATE address now "TEXT"
                              what the driver changed in the host's records
  sent BYTES                  a message that went out on the line, and what
  came back BYTES (JUDGEMENT, N ms after the message) | refused BYTES (...)
  | nothing came back (...)   came back, as the driver judged it (its trace)
  REQ_NAME -> RESULT (MS ms)  a request's result and time
  reason: TEXT                why it did not answer 0, from the driver's trace
  not confirmed by the switcher   a 0 that no reply confirmed
  ok | FAIL MESSAGE           a check or an expected result
and at the end: "qelhost: N requests, N checks, N failed" (and ", N not
confirmed by the switcher" when any was not).
Texts are shown in the notation above, so they can be pasted into checks.

SCENARIO HEADERS
Comment lines "# KEY: VALUE" say how a scenario is to be run. qelhost
applies "# workdir:" itself; the others are for a runner that starts the
emulator qelswitch (qelswitch.exe on the other COM port of a pair), which
reads them with qelhost --headers FILE:
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

// The driver: --driver, else the first of the places qelhost looks that
// holds one.
bool FindDriver(const qelhost::Options& options, std::string* driver) {
    if (!options.driver.empty()) {
        std::error_code error;
        std::string absolute = std::filesystem::absolute(options.driver, error).string();
        *driver = error ? options.driver : absolute;
        return true;
    }
    std::vector<std::string> places = qelhost::DriverCandidates();
    for (const std::string& place : places) {
        if (qelhost::FileExists(place)) {
            *driver = place;
            return true;
        }
    }
    std::cerr << "qelhost: no driver found; looked for it at\n";
    for (const std::string& place : places) {
        std::cerr << "  " << qeltools::VisibleShort(place, kMaxShown) << "\n";
    }
    std::cerr << "name it with --driver PATH\n";
    return false;
}

// The trace file read for the reasons of failed requests: --driver-trace,
// else the QELKOPHV_TRACE of the environment, else a temporary file of
// qelhost's own (*temporary), removed at the end.
std::string ReasonTrace(const qelhost::Options& options, std::string* temporary) {
    std::string given = options.driverTrace;
    if (const char* set = std::getenv(qelhost::kDriverTraceVariable); given.empty() && set != nullptr) {
        given = set;
    }
    std::string problem;
    if (!given.empty()) {
        if (qelhost::UsableTraceFile(given, &problem)) {
            // Absolute: a scenario's "# workdir:" changes the working directory.
            std::error_code error;
            std::string absolute = std::filesystem::absolute(given, error).string();
            given = error ? given : absolute;
            qelhost::SetDriverVariable(qelhost::kDriverTraceVariable, given);
            return given;
        }
        // The driver would refuse it too: said once, and the reasons come
        // from a trace of qelhost's own.
        std::cerr << "qelhost: warning: the driver's trace " << qeltools::VisibleShort(given, kMaxShown)
                  << " cannot be used: " << problem << "\n";
        qelhost::SetDriverVariable(qelhost::kDriverTraceVariable, "");
    }
    if (options.noReasons) {
        return std::string();
    }
    *temporary = qelhost::TemporaryTraceFile(&problem);
    if (temporary->empty()) {
        std::cerr << "qelhost: warning: no reasons for failed requests: " << qeltools::VisibleShort(problem, kMaxShown)
                  << "\n";
        return std::string();
    }
    qelhost::SetDriverVariable(qelhost::kDriverTraceVariable, *temporary);
    return *temporary;
}

// A scenario's "# workdir:": the run's working directory, where the driver
// looks for its list file; a folder of its own for "empty".
struct Workdir {
    std::filesystem::path before;
    std::filesystem::path path;
    bool made = false;
};

bool EnterWorkdir(const std::string& header, const std::string& scenarioFile, Workdir* workdir, std::string* problem) {
    if (header.empty()) {
        return true;
    }
    std::error_code error;
    workdir->before = std::filesystem::current_path(error);
    if (header == qelhost::kEmptyWorkdir) {
        std::string file = qelhost::TemporaryTraceFile(problem);
        if (file.empty()) {
            return false;
        }
        std::filesystem::remove(file, error);
        workdir->made = std::filesystem::create_directory(file, error);
        workdir->path = file;
    } else {
        const std::string from = scenarioFile.empty() || scenarioFile == "-" ? "." : scenarioFile;
        workdir->path = std::filesystem::absolute(std::filesystem::path(from).parent_path() / header, error);
    }
    std::filesystem::current_path(workdir->path, error);
    if (error) {
        return qeltools::Fail(problem,
                              "the scenario's working directory (\"# workdir: " + qeltools::ShownArgument(header) +
                                  "\") cannot be entered: " + error.message() + ": " +
                                  qeltools::ShownArgument(workdir->path.string()));
    }
    return true;
}

void LeaveWorkdir(const Workdir& workdir) {
    std::error_code error;
    if (!workdir.before.empty()) {
        std::filesystem::current_path(workdir.before, error);
    }
    if (workdir.made) {
        std::filesystem::remove_all(workdir.path, error);
    }
}

// The driver found, its environment set, the trace read for reasons chosen
// and the library loaded: false (said on standard error) when any step fails.
struct LoadedDriver {
    QelMainFn entry = nullptr;
    std::string path;
    std::string trace;      // read for the reasons of failed requests
    std::string temporary;  // qelhost's own trace file, removed at the end
};

bool LoadForRun(const qelhost::Options& options, LoadedDriver* loaded) {
    if (!FindDriver(options, &loaded->path)) {
        return false;
    }
    std::string missing;
    if (!qelhost::mox::Load(&missing)) {
        std::cerr << "qelhost: " << qeltools::VisibleShort(missing, kMaxShown) << "\n";
        return false;
    }
    qelhost::ApplyDriverEnvironment(options);
    loaded->trace = ReasonTrace(options, &loaded->temporary);
    std::string problem;
    loaded->entry = qelhost::LoadDriver(loaded->path, &problem);
    if (loaded->entry == nullptr) {
        std::cerr << "qelhost: cannot load the driver " << qeltools::VisibleShort(loaded->path, kMaxShown) << ": "
                  << qeltools::VisibleShort(problem, kMaxShown) << "\n";
        std::remove(loaded->temporary.c_str());
        return false;
    }
    return true;
}

void RemoveOwnTrace(const LoadedDriver& loaded) {
    if (!loaded.temporary.empty()) {
        std::remove(loaded.temporary.c_str());
        std::remove((loaded.temporary + ".1").c_str());
    }
}

// The human text: on standard error when --json has standard output.
std::ostream& Human(const qelhost::Options& options) {
    return options.run.json.out != nullptr ? std::cerr : std::cout;
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

int PrintHeaders(const std::string& file) {
    std::string text;
    std::string problem;
    if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
        return Refuse(problem);
    }
    qelhost::ScenarioHeaders headers;
    int line = 0;
    if (!qelhost::ReadHeaders(text, &headers, &problem, &line)) {
        return Refuse(qeltools::ShownArgument(file) + ": line " + std::to_string(line) + ": " + problem);
    }
    std::cout << qelhost::HeadersReport(headers);
    return 0;
}

// The instances of --instance: every scenario read and checked before the
// driver is loaded.
int RunInstances(const qelhost::Options& options) {
    std::vector<qelhost::Instance> instances;
    std::string problem;
    for (const qelhost::Options::InstanceArgs& given : options.instances) {
        std::string shownName = qeltools::VisibleShort(given.scenario, kMaxShown);
        std::string text;
        if (!qeltools::ReadInput(given.scenario, kMaxInput, &text, &problem)) {
            return Refuse(problem);
        }
        qelhost::Variables variables = options.variables;
        variables["PORT"] = given.port;
        qelhost::Instance instance{{}, options.run};
        instance.options.defaultPort = given.port;
        qelhost::ParseError error;
        if (!qelhost::ParseScenario(text, variables, &instance.scenario, &error)) {
            std::cerr << shownName << ":" << error.line << ": " << error.message << "\n";
            return kExitMalformed;
        }
        if (!instance.scenario.headers.workdir.empty()) {
            return Refuse(shownName +
                          ": \"# workdir:\" is for a scenario run alone: the instances share one "
                          "working directory");
        }
        instances.push_back(std::move(instance));
    }
    LoadedDriver loaded;
    if (!LoadForRun(options, &loaded)) {
        return kExitNoDriver;
    }
    for (qelhost::Instance& instance : instances) {
        instance.options.driverTrace = loaded.trace;
    }
    std::ostream& out = Human(options);
    out << "qelhost: driver " << qeltools::VisibleShort(loaded.path, kMaxShown) << "\n";
    for (size_t i = 0; i < options.instances.size(); ++i) {
        out << "qelhost: instance " << i + 1 << " on " << qeltools::VisibleShort(options.instances[i].port, kMaxShown)
            << ", scenario " << qeltools::VisibleShort(options.instances[i].scenario, kMaxShown) << "\n";
    }
    out << std::flush;
    int status = qelhost::RunInstances(instances, loaded.entry, out);
    RemoveOwnTrace(loaded);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    qelhost::Options options;
    std::string problem;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (!qelhost::ParseOptions(arguments, &options, &problem, qelhost::QuotedArguments(arguments.size()))) {
        return Usage(problem);
    }
    std::mutex jsonLock;
    if (options.json) {
        options.run.json = qelhost::JsonSink{&std::cout, &jsonLock, 1};
    }
    if (options.help) {
        std::cout << kUsageHead << qelhost::LanguageHelp() << kUsageTail << qelhost::HeadersHelp();
        return 0;
    }
    if (options.version) {
        std::cout << "qelhost " QELKOPHV_VERSION "\n";
        return 0;
    }
    if (!options.checkList.empty()) {
        return CheckList(options.checkList);
    }
    if (!options.headers.empty()) {
        return PrintHeaders(options.headers);
    }

    if (!options.instances.empty()) {
        return RunInstances(options);
    }

    if (options.scenario.empty() && options.oneShot.empty() && qelhost::StandardInputIsTerminal()) {
        // Nothing to run but what would be typed: the usage, not a silent wait.
        const std::string head(kUsageHead);
        std::cerr << head.substr(0, head.find("\n\n") + 1)
                  << "(qelhost --help for the whole usage; \"qelhost -\" reads a scenario typed here)\n";
        return kExitMalformed;
    }

    qelhost::Scenario scenario;
    std::string shownName = "(command line)";
    if (!options.oneShot.empty()) {
        if (!qelhost::ParseOneShot(options.oneShot, options.timeout, options.line, options.variables, &scenario,
                                   &problem)) {
            return Usage(problem);
        }
    } else {
        std::string file = options.scenario.empty() ? "-" : options.scenario;
        shownName = file == "-" ? "(standard input)" : qeltools::VisibleShort(file, kMaxShown);
        std::string text;
        if (!qeltools::ReadInput(file, kMaxInput, &text, &problem)) {
            // A bare word that names no file was meant as a command.
            const bool bareWord = file.find_first_of("./\\") == std::string::npos;
            return Refuse(problem + (bareWord ? "; nor is it a command: " + qelhost::OneShotWords() : std::string()));
        }
        qelhost::ParseError error;
        if (!qelhost::ParseScenario(text, options.variables, &scenario, &error)) {
            std::cerr << shownName << ":" << error.line << ": " << error.message << "\n";
            return kExitMalformed;
        }
    }
    if (qelhost::RefuseDefaultPort(options, scenario, &problem)) {
        return Refuse(problem);
    }
    if (std::string warning = qelhost::DefaultPortWarning(options, scenario); !warning.empty()) {
        std::cerr << "qelhost: " << warning << "\n";
    }

    LoadedDriver loaded;
    if (!LoadForRun(options, &loaded)) {
        return kExitNoDriver;
    }
    options.run.driverTrace = loaded.trace;
    options.run.oneShot = !options.oneShot.empty();
    std::ostream& out = Human(options);
    out << "qelhost: driver " << qeltools::VisibleShort(loaded.path, kMaxShown) << "\nqelhost: scenario " << shownName
        << "\n"
        << std::flush;
    Workdir workdir;
    if (!EnterWorkdir(scenario.headers.workdir, options.scenario, &workdir, &problem)) {
        RemoveOwnTrace(loaded);
        return Refuse(problem);
    }
    if (!scenario.headers.workdir.empty()) {
        out << "qelhost: working directory " << qeltools::VisibleShort(workdir.path.string(), kMaxShown) << "\n";
    }
    int status = qelhost::RunScenario(scenario, loaded.entry, options.run, out);
    LeaveWorkdir(workdir);
    RemoveOwnTrace(loaded);
    return status;
}
