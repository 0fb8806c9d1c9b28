#!/usr/bin/env bash
# qeltrace's page in a real browser (Debian's chromium, headless, offline):
# it renders without a console message, its tables hold the trace's counts,
# its timeline the trace's two outage bands (a silence, a loss) and its
# request marks, its gates a step plot and the state table its script fills,
# and a mark's lines their meaning. The page and a screenshot stay in ARTEFACTS.
#
#   browser-test.sh QELTRACE TEST_DIR ARTEFACTS      (77: no chromium, skipped)
set -uo pipefail
qeltrace=$1 tests=$2 artefacts=$3
command -v chromium >/dev/null || { echo "skipped: no chromium (scripts/setup installs it)"; exit 77; }
mkdir -p "$artefacts"
page="$artefacts/site.html"
"$qeltrace" --html "$page" "$tests/site.trace" >/dev/null || { echo "FAIL qeltrace --html"; exit 1; }
profile="$(mktemp -d /tmp/qel-chromium.XXXXXX)"
trap 'rm -rf "$profile"' EXIT

# browse OUTPUT_OPTION...: chromium on the page with a fresh profile, its
# log (with every console message) in $artefacts/chromium.log.
browse() {
    rm -rf "$profile"/*
    timeout 90 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$profile" \
        --enable-logging=stderr --v=0 --window-size=1280,1500 "$@" "file://$page" 2>>"$artefacts/chromium.log"
}
rm -f "$artefacts/chromium.log"
browse --dump-dom >"$artefacts/site.dom.html" || { echo "FAIL chromium --dump-dom"; exit 1; }
browse --screenshot="$artefacts/qeltrace-page.png" >/dev/null || { echo "FAIL chromium --screenshot"; exit 1; }
failures=0
if grep -q 'CONSOLE' "$artefacts/chromium.log"; then
    echo "FAIL the page wrote to the console:"; grep 'CONSOLE' "$artefacts/chromium.log" | sed 's/^/  /'
    failures=$((failures + 1))
fi
[ -s "$artefacts/qeltrace-page.png" ] || { echo "FAIL no screenshot"; failures=$((failures + 1)); }

python3 - "$artefacts/site.dom.html" <<'PYTHON' || failures=$((failures + 1))
import sys
from html.parser import HTMLParser

class Page(HTMLParser):
    def __init__(self):
        super().__init__()
        self.outages, self.marks, self.tables, self.cells, self.table = [], 0, [], None, None
        self.steps = 0
    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        classes = (attrs.get("class") or "").split()
        if tag == "rect" and "outage" in classes:
            self.outages.append(classes[1])
        if tag == "path" and "step" in classes:
            self.steps += 1
        if tag == "g" and "mark" in classes:
            self.marks += 1
        if tag == "table":
            self.table = {"class": attrs.get("class"), "rows": []}
            self.tables.append(self.table)
        if tag == "tr" and self.table is not None:
            self.table["rows"].append([])
        if tag in ("td", "th") and self.table is not None:
            self.cells = ""
    def handle_endtag(self, tag):
        if tag in ("td", "th") and self.cells is not None:
            self.table["rows"][-1].append(self.cells.strip())
            self.cells = None
    def handle_data(self, data):
        if self.cells is not None:
            self.cells += data

page = Page()
page.feed(open(sys.argv[1], encoding="utf-8").read())
problems = []
if page.outages != ["s-NO-ANSWER", "s-LOST"]:
    problems.append(f"outage bands {page.outages}, expected a NO ANSWER and a LOST band")
if page.marks < 4:
    problems.append(f"{page.marks} request marks on the timeline")
requests = [t for t in page.tables if t["class"] == "requests" and t["rows"][0][0] == "request"]
for table in requests:  # the instance's and the total
    head = table["rows"][0]
    rows = {row[0]: dict(zip(head, row)) for row in table["rows"][1:]}
    write = rows.get("write", {})
    got = (write.get("count"), write.get("1"), write.get("refused"), write.get("reads with nothing"))
    if got != ("8", "2", "3", "6"):
        problems.append(f"write row (count, 1, refused, nothing) {got}, expected (8, 2, 3, 6)")
if len(requests) != 2:
    problems.append(f"{len(requests)} request tables, expected the instance's and the total")
outage_rows = [row for t in page.tables if t["class"] == "outages" for row in t["rows"][1:]]
if [row[1] for row in outage_rows] != ["NO ANSWER", "LOST"] * 2:
    problems.append(f"outage rows {outage_rows}")
if page.steps != 1:
    problems.append(f"{page.steps} step plots, expected the one of gate 0102")
state = [t for t in page.tables if t["class"] == "state"]
if not state or [row[:3] for row in state[0]["rows"][1:]] != [["0102", "1", "8"]]:
    problems.append(f"state table {state[0]['rows'] if state else None}, expected gate 0102 of instance 1 at 8")
if "= crosspoint 0102, bank 1 = 1" not in open(sys.argv[1], encoding="utf-8").read():
    problems.append("the marks' lines are not decoded")
for problem in problems:
    print("FAIL " + problem)
sys.exit(1 if problems else 0)
PYTHON
[ "$failures" -eq 0 ] && echo "ok the page renders with its counts, bands and marks; screenshot $artefacts/qeltrace-page.png"
exit $((failures != 0))
