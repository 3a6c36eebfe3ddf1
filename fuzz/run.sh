#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Build the fuzz preset and run every fuzz target for a bounded time.
#
#   fuzz/run.sh [seconds]     (default 60 seconds per target)
#
# Each target starts from a copy of its committed corpus in a temporary
# directory, so nothing new is written into the repository. Inputs that
# crash are kept under build/fuzz/crashes/<target>/ for a regression file.
# Exit status: 0 when no target crashed, 1 otherwise (2 on a usage error).
set -uo pipefail
cd "$(dirname "$0")/.."

secs=${1:-60}
case $secs in
'' | *[!0-9]*)
    echo "usage: fuzz/run.sh [seconds]" >&2
    exit 2
    ;;
esac

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz || exit 1

bin=build/fuzz/fuzz
crashes=build/fuzz/crashes
work=$(mktemp -d "${TMPDIR:-/tmp}/kivf-fuzzrun-XXXXXX")
trap 'rm -rf "$work"' EXIT
# The targets make their temporary files under TMPDIR; libFuzzer ends the
# process without running exit handlers, so they go with the work directory.
mkdir -p "$work/tmp"
export TMPDIR=$work/tmp

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
summary=""
for target in decode catalogue compose convert names written e1 times tables mseed mseedrecord pack; do
    if [ ! -x "$bin/fuzz_$target" ]; then # mseed, mseedrecord, pack: built only with libmseed
        summary+="fuzz_$target: skipped, not built"$'\n'
        continue
    fi
    corpus=$work/$target
    artifacts=$work/artifacts-$target
    mkdir -p "$corpus" "$artifacts"
    cp fuzz/corpus/$target/* "$corpus"/
    log=$work/$target.log
    echo "== fuzz_$target: $secs s"
    "$bin/fuzz_$target" "$corpus" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
    rc=$?
    tail -n 25 "$log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    found=$(find "$artifacts" -type f | wc -l)
    if [ "$rc" -ne 0 ] || [ "$found" -ne 0 ]; then
        status=1
        mkdir -p "$crashes/$target"
        cp "$artifacts"/* "$crashes/$target"/ 2>/dev/null
        cp "$log" "$crashes/$target/"
    fi
    summary+="fuzz_$target: ${execs:-?} executions, exit $rc, $found crash inputs"$'\n'
done
echo "== summary"
printf '%s' "$summary"
[ "$status" -eq 0 ] || echo "crash inputs and logs kept in $crashes" >&2
exit "$status"
