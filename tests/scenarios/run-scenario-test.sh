#!/usr/bin/env bash
# scripts/run-scenario itself: --help is an answer, not an error, and a
# scenario that qelhost cannot parse is reported by its parse error alone,
# not buried under the emulator lines that never came.
#
#   run-scenario-test.sh RUNNER [RUNNER OPTIONS]
set -uo pipefail
runner=$1
shift
failed=0
fail() { echo "FAIL $*"; failed=1; }

help=$(bash "$runner" --help 2>/dev/null)
status=$?
[ $status -eq 0 ] || fail "--help exits $status"
grep -q 'run-scenario \[options\] SCENARIO' <<<"$help" || fail "--help prints no usage on standard output"
bash "$runner" --no-such-option >/dev/null 2>&1
status=$?
[ $status -eq 2 ] || fail "an unknown option exits $status, not 2"

work=$(mktemp -d /tmp/qel-runner-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
{
    echo '# needs: switcher'
    for n in $(seq 10); do echo "# switcher-shows: HASH 010$n"; done
    echo 'gate 0102 numeric 0'
    echo 'frobnicate 0102'
} >"$work/malformed.scenario"
output=$(bash "$runner" "$@" "$work/malformed.scenario" 2>&1)
status=$?
printf '%s\n' "$output"
if [ $status -eq 77 ]; then
    exit 77
fi
[ $status -eq 2 ] || fail "a malformed scenario exits $status, not 2"
grep -q 'malformed.scenario:[0-9]*: unknown command "frobnicate"' <<<"$output" || fail "no parse error shown"
if grep -q 'never showed\|switcher| ' <<<"$output"; then
    fail "the parse error is followed by the emulator's lines"
fi
[ $failed -eq 0 ] && echo "ok"
exit $failed
