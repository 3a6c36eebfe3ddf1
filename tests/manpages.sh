#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Every page man/NAME.1 names every option of NAME --help. Args: SOURCE BUILD (BUILD/NAME/NAME).
fail=0
for page in "$1"/man/*.1; do
    name=$(basename "$page" .1)
    case $name in # built only with libmseed, or with the Python module
        msxlate | kiv2ms | kivf) [ -x "$2/$name/$name" ] || { echo "$name not built: its page is not checked" && continue; } ;;
    esac
    help=$(timeout 20 "$2/$name/$name" --help </dev/null) || { echo "$name --help failed"; fail=1; }
    # A program of commands ("usage: kivf [-h] {info,plot,...} ..."): each command's options too.
    for cmd in $(printf '%s\n' "$help" | sed -n 's/^usage: [^{]*{\([a-z,]*\)}.*/\1/p' | tr , ' '); do
        more=$(timeout 20 "$2/$name/$name" "$cmd" --help </dev/null) || { echo "$name $cmd --help failed"; fail=1; }
        sed 's/\\f[BIRP]//g' "$page" | grep -qE "$name $cmd([^a-z]|\$)" || { echo "$page lacks $name $cmd"; fail=1; }
        help=$(printf '%s\n%s' "$help" "$more")
    done
    opts=$(printf '%s\n' "$help" | grep -oE '(^|[[:space:],[])--?[A-Za-z][A-Za-z0-9-]*' | sed 's/^[^-]*//' | sort -u)
    [ -n "$opts" ] || { echo "$name --help shows no option"; fail=1; }
    text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
    for o in $opts; do
        printf '%s\n' "$text" | grep -qE -- "(^|[^A-Za-z0-9-])$o([^A-Za-z0-9-]|\$)" || { echo "$page lacks $o"; fail=1; }
    done
done
exit "$fail"
