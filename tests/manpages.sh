#!/bin/sh
# Every manual page man/NAME.1 must name every option that NAME --help shows.
# Usage: manpages.sh SOURCE_DIR BUILD_DIR (the programs are BUILD_DIR/NAME/NAME).
set -u
fail=0 pages=0
for page in "$1"/man/*.1; do
    [ -e "$page" ] || continue
    pages=$((pages + 1)) name=$(basename "$page" .1)
    help=$(timeout 20 "$2/$name/$name" --help </dev/null) || { echo "$name --help failed"; fail=1; }
    opts=$(printf '%s\n' "$help" | grep -oE '(^|[[:space:],[])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[^-]*//' | sort -u)
    [ -n "$opts" ] || { echo "$name --help shows no option"; fail=1; }
    text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
    for o in $opts; do
        printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z0-9-])$o([^A-Za-z0-9-]|\$)" || { echo "$page lacks $o"; fail=1; }
    done
done
[ "$pages" -gt 0 ] && exit "$fail"
