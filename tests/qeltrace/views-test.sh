#!/usr/bin/env bash
# qeltrace's views on a real run against the emulator: every gate kind
# written by one-shot qelhost runs, refusals, a silent switcher and a trace
# renamed to FILE.1 between runs (as a roll-over leaves it). After each of
# five steps the emulator prints its state table; --at that moment must give
# the same state for every gate the driver confirmed and tried nothing on
# since. --decode must give every message a meaning of the driver's, and
# --history every write its result. The guide's examples of the views are
# the output of this run, times masked. Everything stays in ARTEFACTS.
#
#   views-test.sh QELTRACE QELHOST QELSWITCH SOURCE_DIR ARTEFACTS
set -uo pipefail
qeltrace=$1 qelhost=$2 qelswitch=$3 root=$4 artefacts=$5
out="$artefacts/views"
rm -rf "$out"
mkdir -p "$out"
trace="$out/qelkophv-trace.txt" ctl="$out/switcher.ctl" pty="$out/switcher.pty"
"$qelswitch" --state --text "07=Studio A" --control "$ctl" --pty-file "$pty" --no-control >"$out/switcher.out" 2>&1 &
switcher=$!
trap 'kill "$switcher" 2>/dev/null' EXIT
for _ in $(seq 50); do [ -s "$pty" ] && [ -p "$ctl" ] && break; sleep 0.1; done
port=$(sed 's|^/dev/||' "$pty")
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
control() { echo "$1" >"$ctl"; sleep 0.3; }
host() { (cd "$root/examples" && QELKOPHV_TRACE="$trace" "$qelhost" --port "$port" "$@") >>"$out/host.out" 2>&1; }
# moment: the emulator's state table now, and the time for --at.
moment() {
    control state
    date -u +%Y-%m-%dT%H:%M:%S.%3N+00:00 >>"$out/moments"
    sleep 0.2
}
host write 0102 5 write X0A1F 12 write S0304 format=string 1010 write BP0506000A 10
moment
host write M0012 42 write L05 '"Camera one"' update R05 update R07
moment
control "refuse 3"
host write 0102 7 write 0102 18
moment
mv "$trace" "$trace.1"
control "silent on"
host write BP0506000A 20
control "silent off"
host write M0012 43
moment
host send "CAM 1 TO MON 2" list 1 write S0304 format=string 0110
moment
control quit
wait "$switcher"
trap - EXIT

python3 - "$qeltrace" "$trace" "$out" <<'PYTHON' || failures=$((failures + 1))
import json, re, subprocess, sys
qeltrace, trace, out = sys.argv[1:4]
problems = []
def run(*args):
    return subprocess.run([qeltrace, *args, trace], capture_output=True, text=True, check=True).stdout

# The emulator's state tables, in order, each as its set of lines.
tables, table = [], None
for line in open(f"{out}/switcher.out"):
    line = line.rstrip("\n")
    if line == "STATE BEGIN":
        table = set()
    elif line == "STATE END":
        tables.append(table)
        table = None
    elif table is not None:
        table.add(line)
moments = open(f"{out}/moments").read().split()
if len(tables) < len(moments) or len(moments) != 5:
    problems.append(f"{len(moments)} moments and {len(tables)} state tables")

def expected(gate):
    """The emulator's line for a gate the driver confirmed, by its kind."""
    address, kind = gate["gate"], gate["kind"]
    value = gate["confirmed"]["value"]
    if kind in ("#", "marked #"):
        group = address[-4:]
        def bank(text, second):
            if text is None:
                return "unset"
            number = int(text)
            return f"{number - 16 if second else number:X} (value {number})"
        return f"HASH {group} bank 1 = {bank(gate.get('bank1'), False)}, bank 2 = {bank(gate.get('bank2'), True)}"
    if kind == "! bits":
        return f"BITS {address[1:5]} = {value.strip(chr(34))}"
    if kind == "! byte":
        number = int(value)
        return f"BYTE {address[2:6]} {address[6:10]} = {number:02X} ({number})"
    if kind == "M":
        return f"M {address[1:5]} = {int(value):02d}"
    if kind in ("L", "R"):
        return f"L {address[1:3]} = {value}"
    return None

compared = 0
for moment, table in zip(moments, tables):
    state = json.loads(run("--at", moment, "--json"))
    for gate in state["gates"]:
        if "confirmed" not in gate or gate["since"]:
            continue
        line = expected(gate)
        if line is None:
            continue
        compared += 1
        if line not in table:
            problems.append(f"at {moment}: --at gives '{line}', the emulator's table has {sorted(table)}")
if compared < 20:
    problems.append(f"only {compared} gates compared over the five moments")

decoded = run("--decode")
open(f"{out}/decode.txt", "w").write(decoded)
lines = decoded.splitlines()
for i, line in enumerate(lines):
    if line.lstrip().startswith(("TX ", "RX ")) and (i + 1 >= len(lines) or not lines[i + 1].lstrip().startswith("= ")):
        problems.append(f"no meaning under: {line.strip()}")
    if "no message of the driver's" in line:
        problems.append(f"a message sent without its meaning: {lines[i - 1].strip()}")
sent = sum(1 for name in (trace + ".1", trace) for line in open(name) if " TX " in line)
if sum(1 for line in lines if line.lstrip().startswith("TX ")) != sent:
    problems.append(f"--decode shows not every one of the {sent} messages sent")

history = json.loads(run("--history", "--json"))
rows = [r for g in history["gates"] for r in g["requests"]]
writes = sum(1 for name in (trace + ".1", trace) for line in open(name)
             if re.search(r"\] (WRITE_GATE|UPDATE_GATE) ", line))
if len(rows) != writes or any("result" not in r for r in rows):
    problems.append(f"--history: {len(rows)} rows with results for {writes} writes and updates")
failed = [r["value"] for r in rows if r["gate"] == "0102" and r["switcher"] == "failed"]
if failed != ["7"]:
    problems.append(f"--history of 0102: failed writes {failed}, expected the refused 7")
for problem in problems:
    print("FAIL " + problem)
sys.exit(1 if problems else 0)
PYTHON
python3 "$root/tests/qeltrace/guide_views.py" "$root/docs/guide.md" exact "$qeltrace" "$out" $(cat "$out/moments") ||
    failures=$((failures + 1))
[ "$failures" -eq 0 ] && echo "ok --at matches the emulator's state at five moments; every message decoded; every write in --history"
exit $((failures != 0))
