#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Builds the library, the programs and the sample generators (nothing else:
# no tests, plug-in or benchmarks), writes the example's raw sample files,
# converts the bundled wfdisc file and shows what was written; then does the
# same for a small generated CSS 3.0 archive with the batch mode.
#
# Two overrides, for the test that runs the documentation's examples on a
# build of its own: KIVF_DEMO_BUILD=DIR takes the programs and generators
# already built in DIR (nothing is configured or built), and KIVF_DEMO_OUT=DIR
# writes the output there (a new or empty directory) instead of examples/out.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
if [ -n "${KIVF_DEMO_BUILD:-}" ]; then
    bin=$(cd "$KIVF_DEMO_BUILD" && pwd) # relative to where the demo was started
fi
if [ -n "${KIVF_DEMO_OUT:-}" ]; then
    # Never emptied here: a directory named by mistake must not lose its files.
    if [ -d "$KIVF_DEMO_OUT" ] && [ -n "$(ls -A "$KIVF_DEMO_OUT")" ]; then
        echo "demo.sh: KIVF_DEMO_OUT=$KIVF_DEMO_OUT is not empty" >&2
        exit 1
    fi
    mkdir -p "$KIVF_DEMO_OUT"
    out=$(cd "$KIVF_DEMO_OUT" && pwd)
fi
cd "$top"
if [ -n "${KIVF_DEMO_BUILD:-}" ]; then
    build() { :; } # the build given is used as it stands
else
    cmake --preset demo >/dev/null
    cmake --build --preset demo
    bin=$top/build/demo
    build() { (cd "$top" && cmake --build build/demo --target "$@" >/dev/null 2>&1) || true; }
fi
if [ -z "${KIVF_DEMO_OUT:-}" ]; then
    out=$top/examples/out
    rm -rf "$out"
    mkdir -p "$out"
fi
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

# A CSS 3.0 archive: several stations and channels sharing sample files at
# different offsets, big- and little-endian, 16- and 32-bit, float and e1 samples.
echo
"$bin/examples/genarchive" archive
# Its site and sitechan tables lie beside it: station positions and
# orientations go into the headers, and with the event its distance.
cp "$top/examples/day.site" "$top/examples/day.sitechan" archive/
event=38.297,142.373,29,2017-03-08T00:00:00Z
echo
echo "\$ KIVAUX=$top/kivaux wfdxlate -o out --event $event archive/day.wfdisc"
mkdir -p out
status30=0
KIVAUX="$top/kivaux" "$bin/wfdxlate/wfdxlate" -o out --event "$event" archive/day.wfdisc || status30=$?
echo "(exit status $status30)"
echo
ls -l out
if [ -x "$bin/kivhdr/kivhdr" ]; then
    echo
    "$bin/kivhdr/kivhdr" -- out/TKL.HHZ.*.kiv
fi
[ "$status" -ne 0 ] || status=$status30

# miniSEED: three components of one station, a gap and a log record (where
# libmseed is installed, so that msxlate and its generator can be built).
build msxlate genmseed
if [ -x "$bin/msxlate/msxlate" ] && [ -x "$bin/examples/genmseed" ]; then
    echo
    "$bin/examples/genmseed" demo.mseed
    echo "\$ msxlate -o mseed --stations demo.stations demo.mseed"
    cp "$top/examples/demo.stations" .
    statusms=0
    "$bin/msxlate/msxlate" -o mseed --stations demo.stations demo.mseed || statusms=$?
    echo "(exit status $statusms)"
    if [ -x "$bin/kivhdr/kivhdr" ]; then
        echo
        echo "\$ kivhdr -H -f NPTS -f STARTTIME -f ENDTIME -f CMPAZ -f CMPINC mseed/*.kiv"
        "$bin/kivhdr/kivhdr" -H -f NPTS -f STARTTIME -f ENDTIME -f CMPAZ -f CMPINC mseed/*.kiv
    fi
    [ "$status" -ne 0 ] || status=$statusms
else
    echo
    echo "(msxlate not built: libmseed is not installed)"
fi

# The plot of the traces of one event (the Python package, where matplotlib is installed).
build kivf_python
if [ -d "$bin/python/kivf" ] && /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
    echo
    echo "\$ python3 -m kivf plot anmo.*.kiv hrv.*.kiv -o demo.png"
    PYTHONPATH="$bin/python" /usr/bin/python3 -m kivf plot anmo.*.kiv hrv.*.kiv -o demo.png
    echo "wrote $out/demo.png"
fi
exit "$status"
