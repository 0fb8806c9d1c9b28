#!/usr/bin/env bash
# The CPU that qeltrace --follow takes while nothing is written: it follows
# an idle trace file for SECONDS (default 20) and prints its user and system
# time as a share of one core. Not a test: the figure goes in the README.
#
#   bench/qeltrace_follow_idle.sh QELTRACE [SECONDS]
set -euo pipefail
qeltrace=$1 seconds=${2:-20}
dir="$(mktemp -d /tmp/qel-follow-idle.XXXXXX)"
trap 'rm -rf "$dir"' EXIT
echo "2026-12-08T08:00:00.000+00:00 [1] STATS line OK since the start: 0 transmissions" >"$dir/idle.trace"
"$qeltrace" --follow "$dir/idle.trace" >/dev/null &
follower=$!
sleep 1
ticks() { awk '{print $14 + $15}' "/proc/$follower/stat"; }
before=$(ticks)
sleep "$seconds"
after=$(ticks)
kill -INT "$follower"
wait "$follower"
hz=$(getconf CLK_TCK)
python3 -c "used = ($after - $before) / $hz; print(f'idle --follow: {used * 1000:.0f} ms of CPU in $seconds s, {100 * used / $seconds:.3f}% of a core')"
