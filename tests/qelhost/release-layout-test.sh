#!/usr/bin/env bash
# The release check's reading of the archives' layout: archives laid out as
# the release lays them out pass; a zip without its top folder, and an
# archive with a file too many, are refused.
#
#   release-layout-test.sh SOURCE_DIR
set -uo pipefail
root=$1
version=$(sed -n 's/^project(qelkophv VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
work="$(mktemp -d /tmp/qel-layout.XXXXXX)"
trap 'rm -rf "$work"' EXIT
failures=0
scenarios=$(
    (cd "$root/examples" && ls -- *.scenario)
    sed -n 's/^foreach(name \(.*\))$/\1/p' "$root/cmake/packaging.cmake" | tr ' ' '\n' | sed 's/$/.scenario/'
)

# pack FOLDER TOP ZIP TARBALL [EXTRA_FILE]: the two archives, the zip's
# files under TOP (none when empty).
pack() {
    local tree=$1 top=$2 extra=${3:-}
    rm -rf "$tree" && mkdir -p "$tree/win/$top" "$tree/linux/qelkophv-$version-linux-x86_64"
    local win="$tree/win/$top" linux="$tree/linux/qelkophv-$version-linux-x86_64"
    mkdir -p "$win/driver" "$win/commissioning" "$linux/lib" "$linux/bin" "$linux/examples"
    touch "$win/"{guide.html,CHANGELOG.txt} "$win/driver/"{QELKOPHV.dll,QELKOPHV.dll.debug,qelkophv01.ini} \
        "$win/commissioning/"{qelhost.exe,qelswitch.exe,qeltrace.exe,MOXPRO.dll,README.txt} \
        "$linux/"{guide.html,CHANGELOG.md,README.txt} "$linux/lib/"{libqelkophv.so,libmoxpro.so} \
        "$linux/bin/"{qelhost,qelswitch,qeltrace} "$linux/examples/qelkophv01.ini"
    for scenario in $scenarios; do touch "$win/commissioning/$scenario" "$linux/examples/$scenario"; done
    [ -z "$extra" ] || touch "$linux/$extra"
    (cd "$tree/win" && /usr/bin/python3 -m zipfile -c "$tree/QELKOPHV-$version-win32.zip" $(ls -A))
    tar -czf "$tree/qelkophv-$version-linux-x86_64.tar.gz" -C "$tree/linux" .
}

# expect NAME STATUS TEXT: check-release --layout's status and a line it printed.
expect() {
    local name=$1 wanted=$2 text=$3 tree=$4 status
    (cd "$root" && scripts/check-release --layout "$tree/QELKOPHV-$version-win32.zip" \
        "$tree/qelkophv-$version-linux-x86_64.tar.gz") >"$work/out" 2>&1
    status=$?
    if [ "$status" -ne "$wanted" ] || ! grep -qF -- "$text" "$work/out"; then
        echo "FAIL $name: status $status, expected $wanted with \"$text\""; sed 's/^/  | /' "$work/out"
        failures=$((failures + 1))
    else
        echo "ok $name"
    fi
}

pack "$work/good" "QELKOPHV-$version"
expect "as the release lays them out" 0 "both packages hold their layout" "$work/good"
pack "$work/flat" ""
expect "a zip without its top folder" 1 "win32 unpacks into: CHANGELOG.txt commissioning driver guide.html" "$work/flat"
pack "$work/extra" "QELKOPHV-$version" bin/extra
expect "a file too many" 1 "holds another layout" "$work/extra"
[ "$failures" -eq 0 ] || exit 1
