#!/usr/bin/env bash
# Builds everything, writes the example's raw sample files, converts the
# bundled wfdisc file and shows what was written.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
cmake --preset default >/dev/null
cmake --build --preset default
bin=$top/build/default
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
# The plot of the traces of one event (the Python package, where matplotlib is installed).
if [ -d "$bin/python/kivf" ] && /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
    echo
    echo "\$ python3 -m kivf plot anmo.*.kiv hrv.*.kiv -o demo.png"
    PYTHONPATH="$bin/python" /usr/bin/python3 -m kivf plot anmo.*.kiv hrv.*.kiv -o demo.png
    echo "wrote $out/demo.png"
fi
exit "$status"
