#!/usr/bin/env bash
# The release check's reading of the guide: the guide as it stands names
# only what the archives hold, and a guide that names a folder of the
# source tree, a file neither archive holds, or an option a program does
# not have is refused, each name reported.
#
#   guide-names-test.sh CHECK_RELEASE GUIDE QELHOST QELSWITCH
set -uo pipefail
check=$1 guide=$2 qelhost=$3 qelswitch=$4
work="$(mktemp -d /tmp/qel-guide-names.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0

# The two archives' files, as the release lays them out.
mkdir -p "$work/win/driver" "$work/win/commissioning" "$work/linux/lib" "$work/linux/bin" "$work/linux/examples"
touch "$work/win/"{guide.html,CHANGELOG.txt} "$work/win/driver/"{QELKOPHV.dll,QELKOPHV.dll.debug,qelkophv01.ini} \
    "$work/win/commissioning/"{qelhost.exe,qelswitch.exe,qeltrace.exe,MOXPRO.dll,README.txt} \
    "$work/linux/"{guide.html,CHANGELOG.md} "$work/linux/lib/"{libqelkophv.so,libmoxpro.so} \
    "$work/linux/bin/"{qelhost,qelswitch,qeltrace} "$work/linux/examples/qelkophv01.ini"
for scenario in demo smoke silent power-off refuse garbage echo delay bad-values typo-address command-list; do
    touch "$work/win/commissioning/$scenario.scenario" "$work/linux/examples/$scenario.scenario"
done
"$qelhost" --help >"$work/qelhost.help"
"$qelswitch" --help >"$work/qelswitch.help"
names() { "$check" --guide-names "$1" "$work/qelhost.help" "$work/qelswitch.help" "$work/win" "$work/linux"; }

if names "$guide" >"$work/out" 2>&1; then
    echo "ok the guide names only what the archives hold"
else
    echo "FAIL the guide:"; cat "$work/out"; failures=$((failures + 1))
fi

cat >"$work/bad.md" <<'GUIDE'
# A guide that names too much
<!-- site files: site.scenario -->
Run `scripts/run-scenario tests/scenarios/refuse.scenario`, see
`tools/qelswitch/README.md`, then `qelhost --port COM3 site.scenario` and:

```
build/native/bin/qelhost --frobnicate missing.scenario
qelswitch.exe --device COM6 --replug-after 2 --teleport
```
GUIDE
names "$work/bad.md" >"$work/out" 2>&1
status=$?
for wanted in "names scripts/run-scenario, of the source tree" "names tests/scenarios/refuse.scenario, of the source tree" \
    "names tools/qelswitch/README.md, of the source tree" "names build/native/bin/qelhost, of the source tree" \
    "names missing.scenario, which neither archive holds" "names readme.md, which neither archive holds" \
    "gives qelhost --frobnicate, which its --help does not list" \
    "gives qelswitch --teleport, which its --help does not list"; do
    grep -qF -- "$wanted" "$work/out" || { echo "FAIL not reported: $wanted"; failures=$((failures + 1)); }
done
for unwanted in "site.scenario" "--port" "--replug-after" "--device"; do
    ! grep -qF -- "$unwanted," "$work/out" || { echo "FAIL reported: $unwanted"; failures=$((failures + 1)); }
done
[ "$status" -ne 0 ] || { echo "FAIL a guide with wrong names passed"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] || { cat "$work/out"; exit 1; }
echo "ok a guide naming the source tree, missing files and unknown options is refused, each name reported"
