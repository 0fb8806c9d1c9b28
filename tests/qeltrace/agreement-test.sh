#!/usr/bin/env bash
# qelhost and qeltrace tell one story of one run: '#' writes, free text and
# list commands against a switcher that goes silent and comes back. The
# driver's NOTE decides "not confirmed": qelhost --json's end object, its
# request objects, and qeltrace's text, JSON and page give the same
# unconfirmed and failed counts. Every object of qelhost --json parses and
# holds only the fields the guide documents for its type; qeltrace's JSON
# and page carry UTF-8 as UTF-8 and escape NUL and bytes that are no UTF-8.
#
#   agreement-test.sh QELHOST QELSWITCH QELTRACE SOURCE_DIR
set -uo pipefail
qelhost=$1 qelswitch=$2 qeltrace=$3 root=$4
work="$(mktemp -d /tmp/qel-agreement.XXXXXX)"
switch_pid=""
trap '[ -n "$switch_pid" ] && kill "$switch_pid" 2>/dev/null; rm -rf "$work"' EXIT
cp "$root/examples/qelkophv01.ini" "$root/tests/qeltrace/agreement.scenario" "$work/"
"$qelswitch" --pty-file "$work/pty" --silent-after 3 --silent-for 6 </dev/null >"$work/switch.out" 2>&1 &
switch_pid=$!
for _ in $(seq 100); do [ -s "$work/pty" ] && break; sleep 0.05; done
(cd "$work" && "$qelhost" --json --port "$(sed 's|^/dev/||' pty)" --driver-trace run.trace agreement.scenario) \
    >"$work/host.json" 2>"$work/host.err"
kill "$switch_pid"; wait "$switch_pid" 2>/dev/null; switch_pid=""
# A line a site's trace may hold: UTF-8, a byte that is no UTF-8, a NUL.
cp "$work/run.trace" "$work/odd.trace"
printf '%s [1] REASON caption Caf\xc3\xa9 \xe2\x80\xa6 \xff and \x00 here\n' "$(tail -n 1 "$work/run.trace" | cut -c1-29)" \
    >>"$work/odd.trace"
cd "$work" || exit 1
"$qeltrace" run.trace >trace.txt && "$qeltrace" --json run.trace >trace.json && "$qeltrace" --html page.html run.trace \
    >/dev/null && "$qeltrace" --json odd.trace >odd.json && "$qeltrace" --html odd.html odd.trace >/dev/null ||
    { echo "FAIL qeltrace"; exit 1; }
python3 - "$root/docs/guide.md" <<'PYTHON'
import json, re, sys
failures = []
def check(what, held):
    print(("ok " if held else "FAIL ") + what)
    if not held:
        failures.append(what)

# The guide's table of --json's objects: each type's documented fields.
guide = open(sys.argv[1], encoding="utf-8").read()
section = guide[guide.index("### Output for scripts: `--json`"):]
documented = {}
for row in re.findall(r"^\| `(\w+)` \|[^|]*\|(.*)\|$", section, re.M):
    documented[row[0]] = set(re.findall(r"`(\w+)`", row[1])) | {"v", "type"}
host = [json.loads(line) for line in open("host.json", encoding="utf-8")]
undocumented = [(o["type"], sorted(set(o) - documented.get(o["type"], set()))) for o in host
                if set(o) - documented.get(o["type"], set())]
check("every qelhost --json object parses and holds only documented fields " + str(undocumented[:3]), not undocumented)
check("qelhost --json puts LINE_STATE NO ANSWER",
      any(o["type"] == "put" and o["gate"] == "LINE_STATE" and o["text"] == "NO ANSWER" for o in host))

end = host[-1]
requests = [o for o in host if o["type"] == "request" and o["code"] != "REQ_GET_INFO"]
unconfirmed = sum(1 for o in requests if o["result"] == 0 and o["confirmed"] is False)
failed = sum(1 for o in requests if o["result"] != 0)
trace = json.load(open("trace.json", encoding="utf-8"))["total"]["all"]
text = next(l for l in open("trace.txt", encoding="utf-8") if l.split()[:1] == ["all"]).split()
page = re.findall(r"<tr><th>all</th>(.*?)</tr>", open("page.html", encoding="utf-8").read())[-1]
page = [int(c) for c in re.findall(r">(\d+)<", page)]
counts = {
    "qelhost's end": (end["unconfirmed"], end["failed"]),
    "qelhost's requests": (unconfirmed, failed),
    "qeltrace's JSON": (trace["unconfirmed0"], trace["result1"] + trace["result2"] + trace["otherResults"]),
    "qeltrace's text": (int(text[9]), int(text[3]) + int(text[4])),
    "qeltrace's page": (page[8], page[2] + page[3]),
}
check("unconfirmed and failed agree: " + str(counts), len(set(counts.values())) == 1 and end["unconfirmed"] > 0)

odd = open("odd.json", "rb").read()
reasons = [r["reason"] for r in json.loads(odd)["total"]["reasons"]]
check("qeltrace's JSON keeps UTF-8 and escapes NUL and other bytes " + str(reasons[-1:]),
      b"\x00" not in odd and b"\xff" not in odd and "caption Caf\u00e9 \u2026 \u00ff and \u0000 here" in reasons)
page = open("odd.html", "rb").read()
check("qeltrace's page holds no NUL nor a byte that is no UTF-8", b"\x00" not in page and b"\xff" not in page
      and "Caf\u00e9 \u2026" in page.decode("utf-8"))
sys.exit(1 if failures else 0)
PYTHON
