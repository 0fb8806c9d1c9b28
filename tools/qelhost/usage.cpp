// qelhost's usage, and what it says when misused.
#include <iostream>
#include <string>

#include "front_end.h"
#include "report.h"
#include "scenario.h"
#include "scenario_headers.h"
#include "visible.h"

namespace qelhost {

namespace {

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

}  // namespace

std::string HelpText() {
    return kUsageHead + LanguageHelp() + kUsageTail + HeadersHelp();
}

std::string UsageLines() {
    const std::string head(kUsageHead);
    return head.substr(0, head.find("\n\n") + 1);
}

int Usage(const std::string& problem) {
    std::cerr << "qelhost: " << qeltools::VisibleShort(problem, kMaxShown) << "\n(qelhost --help for the usage)\n";
    return kExitMalformed;
}

int Refuse(const std::string& problem) {
    std::cerr << "qelhost: " << qeltools::VisibleShort(problem, kMaxShown) << "\n";
    return kExitMalformed;
}

}  // namespace qelhost
