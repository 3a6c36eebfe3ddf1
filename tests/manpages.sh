#!/bin/sh
# Every manual page man/NAME.1 must mention every option that NAME --help
# prints. Usage: manpages.sh SOURCE_DIR BUILD_DIR (programs at BUILD/NAME/NAME).
set -u
src=$1 build=$2 fail=0 pages=0
for page in "$src"/man/*.1; do
    [ -e "$page" ] || continue
    pages=$((pages + 1))
    name=$(basename "$page" .1)
    help=$(timeout 20 "$build/$name/$name" --help </dev/null) || { echo "$name --help failed"; fail=1; continue; }
    opts=$(printf '%s\n' "$help" | grep -oE '(^|[[:space:],[])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[^-]*//' | sort -u)
    [ -n "$opts" ] || { echo "$name --help shows no option"; fail=1; }
    text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
    for o in $opts; do
        printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z0-9-])$o([^A-Za-z0-9-]|\$)" ||
            { echo "$page: option $o of $name --help is missing"; fail=1; }
    done
done
[ "$pages" -gt 0 ] || { echo "no manual page"; fail=1; }
exit "$fail"
