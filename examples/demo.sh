#!/usr/bin/env bash
# Builds everything and runs the converter on the bundled example data.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
cmake --preset default >/dev/null
cmake --build --preset default
if [ ! -x build/default/wfdxlate/wfdxlate ]; then
    echo "The library is built; the converter wfdxlate is not there yet, so there is nothing to convert."
    exit 0
fi
