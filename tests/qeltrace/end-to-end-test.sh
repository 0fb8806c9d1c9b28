#!/usr/bin/env bash
# qeltrace on a real trace: qelhost runs outages.scenario through the driver
# against the switcher emulator (three refusals, six messages unanswered, a
# line unplugged for 3 s), and the summary must count what the scenario did.
# The trace, the summary and the page stay in ARTEFACTS.
#
#   end-to-end-test.sh QELTRACE QELHOST QELSWITCH SOURCE_DIR ARTEFACTS
set -uo pipefail
qeltrace=$1 qelhost=$2 qelswitch=$3 root=$4 artefacts=$5
mkdir -p "$artefacts"
trace="$artefacts/end-to-end.trace"
rm -f "$trace" "$trace.1"
if ! QELKOPHV_TRACE="$trace" "$root/scripts/run-scenario" --qelhost "$qelhost" --qelswitch "$qelswitch" \
    "$root/tests/qeltrace/outages.scenario" >"$artefacts/end-to-end.out" 2>&1; then
    tail -n 30 "$artefacts/end-to-end.out"
    echo "FAIL the scenario did not run as written"
    exit 1
fi
"$qeltrace" "$trace" >"$artefacts/end-to-end.summary" || { echo "FAIL qeltrace"; exit 1; }
"$qeltrace" --html "$artefacts/end-to-end.html" "$trace" >/dev/null || { echo "FAIL qeltrace --html"; exit 1; }
"$qeltrace" --json "$trace" >"$artefacts/end-to-end.json" || { echo "FAIL qeltrace --json"; exit 1; }
python3 - "$artefacts/end-to-end.json" <<'PYTHON'
import json, sys
summary = json.load(open(sys.argv[1]))
total = summary["total"]
write = total["requests"]["write"]
found = {
    "instances": len(summary["instances"]),
    "malformed": summary["malformed"],
    "starts, stops": (total["starts"], total["stops"]),
    "writes": write["count"],
    "writes answering 1": write["result1"],
    "refusals": write["refusals"],
    "tries beyond the first": write["retries"],
    "reads with nothing": write["readsWithNothing"],
    "0 not confirmed": write["unconfirmed0"],
    "outages": [o["state"] for o in total["outages"]],
    "reopens": len(total["reopens"]),
    "lost for at least the 3 s unplugged": total["outages"][-1]["ms"] >= 3000 if total["outages"] else None,
}
expected = {
    "instances": 1, "malformed": 0, "starts, stops": (1, 1), "writes": 8, "writes answering 1": 2, "refusals": 3,
    "tries beyond the first": 6, "reads with nothing": 6, "0 not confirmed": 2, "outages": ["NO ANSWER", "LOST"],
    "reopens": 1, "lost for at least the 3 s unplugged": True,
}
wrong = [f"{key}: {found[key]}, expected {value}" for key, value in expected.items() if found[key] != value]
for line in wrong:
    print("FAIL " + line)
sys.exit(1 if wrong else 0)
PYTHON
status=$?
[ "$status" -eq 0 ] && echo "ok the summary counts what the scenario did"
exit "$status"
