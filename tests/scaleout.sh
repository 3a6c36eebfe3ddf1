#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The README's recipes for parallel runs (GNU parallel when installed, xargs -P, an array job)
# convert several wfdisc files into one folder: the result must be, byte for byte, what one
# serial run writes, with every job's status 0 and no temporary file left.
# Usage: scaleout.sh README WFDXLATE_DIR GENARCHIVE KIVAUX WORK
set -eu
readme=$1 bin=$2 genarchive=$3 work=$5
export KIVAUX="$4" PATH="$bin:$PATH"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
"$genarchive" archive >/dev/null
# One wfdisc file per record; their sample files are shared, at different offsets.
awk '{ print > sprintf("archive/part%d.wfdisc", NR) }' archive/day.wfdisc && rm archive/day.wfdisc

recipe() { # the README's line holding $1, on our folders: the archive, the output $2
    line=$(grep -F -e "$1" "$readme") || { echo "FAIL: no line with '$1' in the README"; exit 1; }
    printf '%s\n' "$line" | sed "s|/archive|$work/archive|g; s|-o /kiv|-o $work/$2|"
}
same() { # $1 holds what the serial run wrote, and nothing else
    if ! diff -r serial "$1"; then echo "FAIL: $1 differs from the serial run"; exit 1; fi
    echo "ok: $1"
}

mkdir serial
wfdxlate -q -o serial archive/*.wfdisc
count=$(ls serial | wc -l)
[ "$count" -eq 8 ] || { echo "FAIL: the serial run wrote $count files, not 8"; exit 1; }

if command -v parallel >/dev/null; then
    sh -c "$(recipe '| parallel ' parallel)" </dev/null && same parallel
else
    echo "GNU parallel is not installed: its recipe is not run"
fi
sh -c "$(recipe '| xargs ' xargs)" && same xargs

# The array job: list.txt made once, then one task per line, all at once.
sh -c "$(recipe '| sort > list.txt' unused)"
[ "$(wc -l < list.txt)" -eq 8 ] || { echo "FAIL: list.txt is not the 8 wfdisc files"; exit 1; }
task=$(recipe 'SLURM_ARRAY_TASK_ID' array)
pids=
for i in 1 2 3 4 5 6 7 8; do
    SLURM_ARRAY_TASK_ID=$i sh -c "$task" & pids="$pids $!"
done
for p in $pids; do wait "$p" || { echo "FAIL: an array task ended with status $?"; exit 1; }; done
same array
