#!/usr/bin/env bash
# Builds the library, the programs and the sample generator (nothing else:
# no tests, plug-in or benchmarks), writes the example's raw sample files,
# converts the bundled wfdisc file and shows what was written.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
cmake --preset demo >/dev/null
cmake --build --preset demo
bin=$top/build/demo
out=$top/examples/out
rm -rf "$out"
mkdir -p "$out"
cd "$out"
cp "$top/examples/demo.wfdisc" .
"$bin/examples/gensamples" demo.wfdisc
echo
echo "\$ printf 'demo.wfdisc\n' | KIVAUX=$top/kivaux wfdxlate"
status=0
printf 'demo.wfdisc\n' | KIVAUX="$top/kivaux" "$bin/wfdxlate/wfdxlate" || status=$?
echo
echo "(exit status $status)"
echo
ls -l -- *.kiv
if [ -x "$bin/kivhdr/kivhdr" ]; then
    echo
    "$bin/kivhdr/kivhdr" -- *.kiv
fi
exit "$status"
