#!/usr/bin/env bash
# Traces that release 1.2.0 wrote (format 1, no TRACE line), with what
# 1.2.0's qeltrace made of them: this qeltrace gives the same text, and its
# JSON every figure 1.2.0's held (it may add some). A trace that names a
# format this qeltrace does not know is refused by that format's number.
#
#   release-traces-test.sh QELTRACE TRACES_DIR
set -uo pipefail
qeltrace=$1 dir=$2
work="$(mktemp -d /tmp/qel-release-traces.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
cd "$dir" || exit 1
for trace in *.trace; do
    name=${trace%.trace}
    "$qeltrace" "$trace" >"$work/$name.summary" 2>&1 || { echo "FAIL $name: qeltrace failed"; failures=$((failures + 1)); }
    diff -u "$name.summary" "$work/$name.summary" || { echo "FAIL $name: the text differs"; failures=$((failures + 1)); }
    "$qeltrace" --json "$trace" >"$work/$name.json"
    python3 - "$name.json" "$work/$name.json" <<'PYTHON' || { echo "FAIL $name: the JSON differs"; failures=$((failures + 1)); }
import json, sys
def missing(old, new, at):
    if isinstance(old, dict):
        if not isinstance(new, dict):
            return [at]
        return [m for key in old for m in missing(old[key], new.get(key), at + "." + key)]
    if isinstance(old, list):
        if not isinstance(new, list) or len(old) != len(new):
            return [at]
        return [m for i, (a, b) in enumerate(zip(old, new)) for m in missing(a, b, f"{at}[{i}]")]
    return [] if old == new else [f"{at}: {old!r} became {new!r}"]
wrong = missing(json.load(open(sys.argv[1])), json.load(open(sys.argv[2])), "")
if wrong:
    print("\n".join(wrong[:10]))
sys.exit(1 if wrong else 0)
PYTHON
    [ "$failures" -eq 0 ] && echo "ok $name: the figures of 1.2.0"
done

{ echo "2026-12-08T08:00:00.000+00:00 [0] TRACE format 3 QELKOPHV 9.0.0"; cat outages.trace; } >"$work/later.trace"
"$qeltrace" "$work/later.trace" >"$work/out" 2>&1
status=$?
if [ "$status" -ne 2 ] || ! grep -q "format 3 (written by QELKOPHV 9.0.0)" "$work/out"; then
    echo "FAIL a later format: exit $status"; cat "$work/out"; failures=$((failures + 1))
else
    echo "ok a later format is refused by its number"
fi
[ "$failures" -eq 0 ] || { echo "$failures failed"; exit 1; }
