#!/usr/bin/env bash
# qeltrace --follow on a trace that a running scenario writes: every change
# of the line's state shows within 2 s of its line in the file, also after
# the file is renamed away to FILE.1 mid-run (the driver goes on in a new
# one, as after a roll-over), and Ctrl-C ends it cleanly.
#
#   follow-test.sh QELTRACE QELHOST QELSWITCH SOURCE_DIR ARTEFACTS
set -uo pipefail
qeltrace=$1 qelhost=$2 qelswitch=$3 root=$4 artefacts=$5
mkdir -p "$artefacts"
mkdir -p "$artefacts/follow"
trace="$artefacts/follow/qelkophv-trace.txt" out="$artefacts/follow.out"
fifo="$artefacts/follow.fifo"
rm -f "$trace" "$trace.1" "$out" "$fifo"
: >"$trace"
mkfifo "$fifo"
# Each line the follower prints, with the time it came (seconds since 1970).
while IFS= read -r line; do echo "$(date +%s.%N) $line"; done <"$fifo" >"$out" &
stamper=$!
(cd "$artefacts/follow" && exec "$qeltrace" --follow qelkophv-trace.txt) >"$fifo" &
follower=$!
QELKOPHV_TRACE="$trace" "$root/scripts/run-scenario" --qelhost "$qelhost" --qelswitch "$qelswitch" \
    "$root/tests/qeltrace/outages.scenario" >"$artefacts/follow.run" 2>&1 &
scenario=$!
sleep 5
mv "$trace" "$trace.1"
wait "$scenario" || { tail -n 20 "$artefacts/follow.run"; echo "FAIL the scenario did not run as written"; }
sleep 2
kill -INT "$follower"
wait "$follower" || echo "FAIL qeltrace --follow ended with status $?"
wait "$stamper"
rm -f "$fifo"
python3 - "$trace" "$out" <<'PYTHON'
import datetime, re, sys
trace, out = sys.argv[1], sys.argv[2]
changes, state = [], {}
for name in (trace + ".1", trace):
    for line in open(name, encoding="latin-1"):
        m = re.match(r"(\S+) \[(\d+)\] STATS line (.+?) since ", line)
        if m and state.get(m[2]) != m[3]:
            before = f"{state[m[2]]} -> " if m[2] in state else ""
            changes.append((m[1], m[2], f"line {before}{m[3]}"))
            state[m[2]] = m[3]
shown = [line.rstrip("\n").split(" ", 1) for line in open(out, encoding="latin-1")]
problems = []
if len(changes) < 5:
    problems.append(f"only {len(changes)} line-state changes in the trace: {changes}")
for stamp, instance, text in changes:
    event = f"{stamp} [{instance}] {text}"
    came = [float(at) for at, line in shown if line == event]
    written = datetime.datetime.fromisoformat(stamp).timestamp()
    if not came:
        problems.append(f"not shown: {event}")
    elif came[0] - written > 2.0:
        problems.append(f"shown {came[0] - written:.1f} s after its line: {event}")
if not any("rolled over" in line for _, line in shown):
    problems.append("the rename to FILE.1 was not noticed")
if not shown or not shown[-1][1].startswith("qeltrace: stopped following"):
    problems.append("Ctrl-C did not end it cleanly")
for problem in problems:
    print("FAIL " + problem)
sys.exit(1 if problems else 0)
PYTHON
status=$?
# The guide's example: its lines (the status lines aside) in the same order.
cut -d' ' -f2- "$out" >"$out.lines"
python3 "$root/tests/qeltrace/guide_views.py" "$root/docs/guide.md" follow "$out.lines" || status=1
[ "$status" -eq 0 ] && echo "ok every line-state change shown within 2 s, across the rename"
exit "$status"
