#!/usr/bin/env bash
# qelhost copied without the host library stand-in beside it: exit 3 with
# the place it looked (not the system loader's refusal), and --help all
# the same. Natively, or under Wine for qelhost.exe.
#
#   alone-test.sh QELHOST DRIVER LIBRARY_NAME [wine]
set -uo pipefail
qelhost=$1 driver=$2 library=$3 runner=${4:-}
work="$(mktemp -d /tmp/qel-alone.XXXXXX)"
trap 'rm -rf "$work"' EXIT
cp "$qelhost" "$driver" "$work/"
cd "$work" || exit 1
program=./$(basename "$qelhost")
failures=0
$runner "$program" write 0102 5 >out 2>&1
status=$?
if [ "$status" -ne 3 ] || ! grep -q "no $library (the host library stand-in) found; looked for it at .*$library" out; then
    echo "FAIL without $library: exit status $status"; sed 's/^/  | /' out; failures=1
fi
$runner "$program" --help >out 2>&1
status=$?
if [ "$status" -ne 0 ] || ! grep -q "^usage: qelhost" out; then
    echo "FAIL --help without $library: exit status $status"; sed 's/^/  | /' out; failures=1
fi
[ "$failures" -eq 0 ] && echo "qelhost without $library says where it looked"
exit "$failures"
