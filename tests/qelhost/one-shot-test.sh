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
    (cd "$dir" && "$qelhost" --port "$(sed 's|^/dev/||' "$work/pty")" --timeout 20 "$@") >"$work/out" 2>&1
    status=$?
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
expect silent 1 '      OUTGOING "!0506000A0A1D<CR><CR>"' 'qelhost: 4 requests, 3 checks, 1 failed'
grep -q '^      FAIL expected result 0, got 1: .\+' "$work/out" || fail "silent: no reason beside the 1"

# The command list is looked for in the working directory, and the reason
# names it.
with_switcher "" "$work" list 1
expect "no command list" 1 "      reason: qelkophv01.ini not found in $work" \
    "      FAIL expected result 0, got 1: qelkophv01.ini not found in $work"

# A scenario's failed check carries the reason too (the null port: no
# switcher needed).
printf 'gate BP0506000A numeric 0 name=DIMMER\nload expect 0\nwrite DIMMER 300 expect 0\n' >"$work/values.scenario"
(cd "$work" && "$qelhost" values.scenario) >"$work/out" 2>&1
status=$?
expect "scenario reason" 1 '      reason: value 300 out of range 0-255' \
    '      FAIL expected result 0, got 1: value 300 out of range 0-255'

# No driver beside qelhost nor in ../lib: each place is named.
mkdir -p "$work/bin"
cp "$qelhost" "$work/bin/qelhost"
"$work/bin/qelhost" write 0102 5 >"$work/out" 2>&1
status=$?
expect "no driver" 3 "qelhost: no driver found; looked for it at" "  $work/bin/libqelkophv.so" \
    "  $work/bin/../lib/libqelkophv.so"

[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
echo "every one-shot case held"
