#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The plug-in in GNU Octave. Args: folder of sphgeo.mex and sphgeo.m, the test script, folder of
# the reference sphgeo_vec.m, 1 when built with sanitizers. Status 77: skipped.
if ! command -v octave-cli >/dev/null 2>&1; then
    echo "SKIPPED sphgeo_octave: octave-cli is not installed; the plug-in was not tested in Octave"
    exit 77
elif [ "$4" = "1" ]; then
    echo "SKIPPED sphgeo_octave: the plug-in is built with sanitizers, which octave-cli cannot load"
    exit 77
fi
SPHGEO_DIR="$1" SPHGEO_REF_DIR="$3" exec octave-cli --norc --quiet --no-history \
    --no-window-system "$2"
