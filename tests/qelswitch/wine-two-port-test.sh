#!/usr/bin/env bash
# qelswitch.exe and the driver under Wine on the two ends of one serial pair
# (scripts/wine-serial: COM5 and COM6 are the ends of a pseudo-terminal
# pair): a write with nothing on COM6, which qelswitch.exe then discards as
# it opens; the demo scenario with the driver on COM5 and qelswitch.exe on
# COM6, then one-shot commands while the console switches the silent fault
# and the power on and off. qelswitch.exe's lines carry time stamps, and its state comes
# on exit. Skipped (77) without the serial pairs.
#
#   wine-two-port-test.sh QELHOST_EXE QELSWITCH_EXE SCENARIO_DIR [WORKDIR]
#
# qelhost.exe runs in WORKDIR (default SCENARIO_DIR), where the driver finds
# qelkophv01.ini; the demo is SCENARIO_DIR/demo.scenario.
set -uo pipefail
qelhost=$(realpath "$1") qelswitch=$(realpath "$2") examples=$(realpath "$3") workdir=$(realpath "${4:-$3}")
[ -n "${QEL_TEST_PORT:-}" ] && [ -n "${QEL_TEST_PEER_PORT:-}" ] || { echo "no Wine serial pairs: skipped"; exit 77; }
work="$(mktemp -d /tmp/qel-two-port.XXXXXX)"
switch_pid=""
cleanup() {
    exec 3>&- 2>/dev/null
    [ -n "$switch_pid" ] && kill "$switch_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# The emulator with its console on a FIFO that this script holds open.
start_switcher() {
    mkfifo "$work/console"
    wine "$qelswitch" --device "$QEL_TEST_PEER_PORT" --time-stamps --state "$@" <"$work/console" \
        >"$work/switch.out" 2>&1 &
    switch_pid=$!
    exec 3>"$work/console"
    for _ in $(seq 200); do grep -q "$QEL_TEST_PEER_PORT" "$work/switch.out" 2>/dev/null && return; sleep 0.1; done
    fail "qelswitch.exe did not start"; cat "$work/switch.out"
}

stop_switcher() {
    echo quit >&3
    exec 3>&-
    for _ in $(seq 100); do kill -0 "$switch_pid" 2>/dev/null || break; sleep 0.1; done
    wait "$switch_pid" 2>/dev/null
    switch_pid=""
    rm -f "$work/console"
}

host() {
    (cd "$workdir" && wine "$qelhost" --port "$QEL_TEST_PORT" "$@") 2>&1 | tr -d '\r' >"$work/host.out"
    return "${PIPESTATUS[0]}"
}

# Sent while nothing plays the switcher: not confirmed (exit 4), and the
# emulator, opening the line afterwards, throws it away unanswered.
host --timeout 20 write 0E0F 3
[ $? -eq 4 ] || { fail "no switcher: not exit 4"; tail -n 20 "$work/host.out"; }
start_switcher --text "07=Studio A"
grep -qE 'NOTE [1-9][0-9]* bytes were waiting on the line before it was opened: discarded' "$work/switch.out" ||
    fail "qelswitch.exe did not say what it discarded"
host "$examples/demo.scenario" || { fail "the demo scenario"; tail -n 30 "$work/host.out"; }
stop_switcher
grep -q 'HASH 0102 bank 1 = 5 (value 5), bank 2 = 2 (value 18)' "$work/switch.out" ||
    fail "qelswitch.exe's state lacks the demo's crosspoint"
! grep -q 'HASH 0E0F' "$work/switch.out" 2>/dev/null || fail "qelswitch.exe carried out what was sent before it opened"
grep -qE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} EXIT quit' "$work/switch.out" || fail "no time-stamped EXIT quit"
[ "$failures" -eq 0 ] && echo "ok the demo scenario, driver on $QEL_TEST_PORT, qelswitch.exe on $QEL_TEST_PEER_PORT"

# The silent fault from the console: the "!" byte form fails with the
# driver's reason; answering again, it succeeds.
start_switcher
echo "silent on" >&3
sleep 0.5
if host --timeout 20 write BP0506000A 10; then fail "silent: answered 0"; fi
grep -q '^      FAIL expected result 0, got 1: .' "$work/host.out" || fail "silent: no reason beside the 1"
echo "silent off" >&3
sleep 0.5
host --timeout 20 write BP0506000A 11 || { fail "answering: not 0"; tail -n 20 "$work/host.out"; }
grep -qE '^      REQ_WRITE_GATE -> 0 \([0-9]+ ms\)$' "$work/host.out" || fail "answering: no result 0 shown"
# Switched off, the byte is lost: the state keeps the last one answered.
echo "power off" >&3
sleep 0.5
if host --timeout 20 write BP0506000A 12; then fail "power off: answered 0"; fi
echo "power on" >&3
stop_switcher
grep -q 'POWER off: lost "!0506000A0C1B"' "$work/switch.out" || fail "power off: no lost line shown"
grep -q 'BYTE 0506 000A = 0B (11)' "$work/switch.out" || fail "qelswitch.exe's state lacks the last byte"
[ "$failures" -eq 0 ] || { cat "$work/switch.out"; echo "$failures failed"; exit 1; }
echo "ok the silent fault and the power on and off; every two-port case held"
