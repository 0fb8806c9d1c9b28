#!/usr/bin/env bash
# qelhost's one-shot commands against the switcher emulator, natively: what
# each prints and the exit status, with the switcher accepting, refusing
# and silent; the driver's reasons beside each 1, for one-shot commands and
# scenarios alike; and a qelhost that finds no driver saying where it
# looked.
#
#   one-shot-test.sh QELHOST QELSWITCH EXAMPLES_DIR
set -uo pipefail
qelhost=$1 qelswitch=$2 examples=$3
work="$(mktemp -d /tmp/qel-one-shot.XXXXXX)"
switch_pid=""
trap '[ -n "$switch_pid" ] && kill "$switch_pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1)); }

# with_switcher "SWITCHER OPTIONS" DIR QELHOST_ARGS...: qelhost's output in
# $work/out, its status in $status.
with_switcher() {
    local options=$1 dir=$2; shift 2
    rm -f "$work/pty"
    # shellcheck disable=SC2086
    "$qelswitch" --pty-file "$work/pty" $options </dev/null >"$work/switch.out" 2>&1 &
    switch_pid=$!
    for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.05; done
    (cd "$dir" && "$qelhost" --port "$(sed 's|^/dev/||' "$work/pty")" --timeout 20 "$@") >"$work/json" 2>"$work/err"
    status=$?
    cat "$work/json" "$work/err" >"$work/out"
    kill "$switch_pid"; wait "$switch_pid" 2>/dev/null; switch_pid=""
}

# expect NAME STATUS LINE...: each LINE is in the output, as a whole line.
expect() {
    local name=$1 wanted=$2 line; shift 2
    [ "$status" -eq "$wanted" ] || { fail "$name: exit status $status, expected $wanted"; return; }
    for line in "$@"; do
        grep -qxF -- "$line" "$work/out" || { fail "$name: no line \"$line\""; return; }
    done
    echo "ok $name"
}

with_switcher "" "$examples" write 0102 5 write L05 "Camera one" list 1 send "CAM 1"
expect accepted 0 \
    '      OUTGOING "#010259<CR><CR>"' '      OUTGOING "L0510Camera one5<CR><CR>"' \
    '      INCOMING "*05\<CR>\<LF>"' '      OUTGOING "CAM 1<CR>"' 'qelhost: 6 requests, 5 checks, 0 failed'

with_switcher "--refuse 100" "$examples" write 0102 5
expect refused 1 '      OUTGOING "#010259<CR><CR>"' 'qelhost: 3 requests, 2 checks, 1 failed'
grep -q '^      reason: .\+' "$work/out" && grep -q '^      FAIL expected result 0, got 1: .\+' "$work/out" ||
    fail "refused: no reason beside the 1"

# Silent: a "#" write counts as done without a reply, a "!" byte does not.
with_switcher "--silent" "$examples" write 0102 5 write BP0506000A 10
expect silent 1 '      OUTGOING "!0506000A0A1D<CR><CR>"' 'qelhost: 4 requests, 3 checks, 1 failed, 1 not confirmed by the switcher'
grep -q '^      FAIL expected result 0, got 1: .\+' "$work/out" || fail "silent: no reason beside the 1"

# What came back, as the driver judged it, and whether the switcher
# confirmed each 0: exit 4 when a request answered 0 that nothing
# confirmed. Free text and list commands count whatever came back.
while IFS='|' read -r name options wanted line args; do
    # shellcheck disable=SC2086
    with_switcher "$options" "$examples" $args
    sed -i -E 's/[0-9]+ ms after the message/N ms after the message/' "$work/out"
    expect "$name" "$wanted" "$line"
done <<'EOF'
answered||0|      came back *01<CR><LF> (accepted, N ms after the message)|write 0102 5
silent "#"|--silent|4|      not confirmed by the switcher|write 0102 5
silent list|--silent|4|      nothing came back (N ms after the message)|list 1
silent text|--silent|4|qelhost: 3 requests, 2 checks, 0 failed, 1 not confirmed by the switcher|send CAM
refused list|--refuse 9|0|      came back ?<CR><LF> (not judged, N ms after the message)|list 1
powered off "#"|--power-off|4|      not confirmed by the switcher|write 0102 5
powered off text|--power-off|4|      nothing came back (N ms after the message)|send CAM
EOF

# No far end at all: a line nobody reads or answers.
python3 -c 'import os, pty, time; m, s = pty.openpty(); print(os.ttyname(s)[5:], flush=True); time.sleep(60)' \
    >"$work/dead" &
dead_pid=$!
for _ in $(seq 100); do [ -s "$work/dead" ] && break; sleep 0.05; done
(cd "$examples" && "$qelhost" --port "$(cat "$work/dead")" --timeout 20 write 0102 5) >"$work/out" 2>&1
status=$?
kill "$dead_pid"
expect "no far end" 4 '      not confirmed by the switcher'

# --json: standard output holds one object a line and nothing else, the
# requests with what went out, what came back and whether it was
# confirmed, the last line the counts and the exit status.
json_case() {
    local name=$1 options=$2 wanted=$3 confirmed=$4
    shift 4
    with_switcher "$options" "$examples" --json "$@"
    python3 - "$work/json" "$wanted" "$confirmed" <<'EOF' || fail "$name (json)"
import json, sys
lines = [json.loads(line) for line in open(sys.argv[1])]
assert all(line["v"] == 1 for line in lines), lines
end = lines[-1]
assert end["type"] == "end" and end["exit"] == int(sys.argv[2]), end
writes = [line for line in lines if line["type"] == "request" and line["code"] == "REQ_WRITE_GATE"]
assert [str(w["confirmed"]).lower() for w in writes] == sys.argv[3].split(","), writes
assert all(w["out"] and w["back"] and "judgement" in w["back"][0] for w in writes), writes
steps = [line["text"] for line in lines if line["type"] == "step"]
assert steps[-1].startswith(("write", "list")), steps
EOF
    [ "$status" -eq "$wanted" ] && echo "ok $name (json)" || fail "$name (json): exit status $status"
}
json_case answered "" 0 true,true write 0102 5 list 1
json_case silent --silent 4 false write 0102 5
json_case refused "--refuse 9" 1 false write 0102 5

# The command list is looked for in the working directory, and the reason
# names it.
with_switcher "" "$work" list 1
expect "no command list" 1 "      reason: qelkophv01.ini not found in $work" \
    "      FAIL expected result 0, got 1: qelkophv01.ini not found in $work"

# A trace the driver cannot write (a FIFO nobody reads, a folder), named by
# --driver-trace or QELKOPHV_TRACE, is said once and never waited on; the
# reasons come from qelhost's own trace.
mkfifo "$work/fifo"
mkdir -p "$work/folder"
for given in "--driver-trace fifo" "--driver-trace folder" "QELKOPHV_TRACE=fifo"; do
    # shellcheck disable=SC2086
    case $given in
        --*) (cd "$work" && timeout 20 "$qelhost" $given list 1) >"$work/out" 2>&1 ;;
        *) (cd "$work" && env "$given" timeout 20 "$qelhost" list 1) >"$work/out" 2>&1 ;;
    esac
    status=$?
    [ "$(grep -c "cannot be used" "$work/out")" -eq 1 ] || fail "$given: not said once"
    expect "$given" 1 "      reason: qelkophv01.ini not found in $work"
done

# A scenario's failed check carries the reason too (the null port: no
# switcher needed).
printf 'gate BP0506000A numeric 0 name=DIMMER\nload expect 0\nwrite DIMMER 300 expect 0\n' >"$work/values.scenario"
(cd "$work" && "$qelhost" values.scenario) >"$work/out" 2>&1
status=$?
expect "scenario reason" 1 '      reason: value 300 out of range 0-255' \
    '      FAIL expected result 0, got 1: value 300 out of range 0-255'

# Misuse is answered at once, with exit 2: nothing to run with a terminal on
# standard input (the usage, not a silent wait), an empty scenario name, an
# unknown command word, a long argument (the reason first, the argument
# cut).
python3 -c 'import os, pty, sys
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], sys.argv[1:])
out = b""
while True:
    try:
        chunk = os.read(fd, 4096)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
sys.stdout.write(out.decode(errors="replace").replace("\r", ""))
sys.exit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))' "$qelhost" >"$work/out" 2>&1
status=$?
expect "no arguments on a terminal" 2 "usage: qelhost [options] [SCENARIO | -]"
long=nosuch/$(printf 'x%.0s' $(seq 300))
while IFS='|' read -r name line args; do
    # shellcheck disable=SC2086
    eval "set -- $args"
    (cd "$work" && timeout 10 "$qelhost" "$@" </dev/null) >"$work/out" 2>&1
    status=$?
    expect "$name" 2 "$line"
done <<EOF
empty scenario name|qelhost: the scenario's name is empty: give a file, or - for standard input|--port COM5 ""
unknown command|qelhost: unknown command 'wrte'; commands: write, update, list, send|--port COM5 wrte 0102 5
unknown word alone|qelhost: cannot open it (No such file or directory): wrte; nor is it a command: write, update, list, send|--port COM5 wrte
long argument|qelhost: cannot open it (No such file or directory): ${long:0:60}...|$long
EOF

# Instances sharing one port (the second finds it held) or all on NUL: each
# instance's reasons are its own, whatever order their starts take. Each
# writes a value of its own out of range, and its reasons name that value.
for k in 1 2 3 4; do
    { echo 'gate 0102 numeric 0 name=G'; echo 'load timeout=20'
      for _ in $(seq 12); do echo "write G $((40 + k))"; done; echo close; } >"$work/i$k.scenario"
done
while IFS='|' read -r name count ports; do
    for run in $(seq 20); do
        if [ "$ports" = pty ]; then
            rm -f "$work/pty"
            "$qelswitch" --pty-file "$work/pty" </dev/null >"$work/switch.out" 2>&1 &
            switch_pid=$!
            for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.05; done
            port=$(sed 's|^/dev/||' "$work/pty")
        else
            port=NUL
        fi
        args=()
        for k in $(seq "$count"); do args+=(--instance "$port" "$work/i$k.scenario"); done
        (cd "$work" && timeout 60 "$qelhost" "${args[@]}") >"$work/out" 2>&1
        if [ -n "$switch_pid" ]; then kill "$switch_pid"; wait "$switch_pid" 2>/dev/null; switch_pid=""; fi
        foreign=0
        for k in $(seq "$count"); do
            foreign=$((foreign + $(grep "^\[$k\] .*reason: value 4" "$work/out" | grep -vc "value $((40 + k)) ")))
        done
        own=$(grep -c "^\[1\] .*reason: value 41 " "$work/out")
        [ "$foreign" -eq 0 ] && [ "$own" -eq 12 ] || { fail "$name, run $run: $foreign foreign, $own of 12 own reasons"; break; }
    done
    [ "$foreign" -eq 0 ] && [ "$own" -eq 12 ] && echo "ok $name: each instance's reasons its own"
done <<EOF
two instances on one port|2|pty
four instances on NUL|4|NUL
EOF

# No driver beside qelhost nor in ../lib: each place is named.
mkdir -p "$work/bin"
cp "$qelhost" "$work/bin/qelhost"
"$work/bin/qelhost" write 0102 5 >"$work/out" 2>&1
status=$?
expect "no driver" 3 "qelhost: no driver found; looked for it at" "  $work/bin/libqelkophv.so" \
    "  $work/bin/../lib/libqelkophv.so"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "every one-shot case held"
