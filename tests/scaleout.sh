#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The shell examples of docs/scaleout.md as they stand there: the recipes write, byte for byte,
# what one serial run writes (diff -r: no temporary file either) and refuse what it refuses; of
# two -k runs at once for one name exactly one writes it, whole; every example is run or marked.
# Usage: scaleout.sh DOC WFDXLATE_DIR GENARCHIVE KIVAUX WORK [MSXLATE_DIR GENMSEED]
set -eu
doc=$1 bin=$2 genarchive=$3 work=$5 msbin=${6:-} genmseed=${7:-}
export KIVAUX="$4" PATH="$bin:$PATH"
[ -n "$msbin" ] && PATH="$msbin:$PATH"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
# The block of the page whose first line (after a #! line) is $1, without its fences.
block() {
    awk -v key="$1" '/^```/ { if (take) { found = 1; exit }; inb = !inb; n = 0; next }
        inb && !take && ++n <= 2 && $0 == key && (n == 1 || first ~ /^#!/) { take = 1; if (n == 2) print first }
        inb && n == 1 { first = $0 }
        take { print }
        END { exit !found }' "$doc" || fail "no block beginning '$1' in $doc"
    printf '%s\n' "$1" >> "$work/ran.txt"
}
run() { # the block $1, its output in $2.out and $2.err, its status in st
    block "$1" > "$2.sh"
    st=0 && sh "$2.sh" > "$2.out" 2> "$2.err" || st=$?
}
quiet() { # the run $1 ended with status 0 and said nothing (-q)
    [ "$st" -eq 0 ] && [ ! -s "$1.err" ] || { cat "$1.err"; fail "$1: status $st"; }
}
same() { diff -r "$1" "$2" || fail "$2 differs from $1"; } # and holds nothing else
joblog() { awk -F'\t' 'NR > 1 { print $7 }' "$1" | sort | tr '\n' ' '; } # the jobs' statuses
refusals() { # the run $1 said exactly one line, matching $2
    [ "$(wc -l < "$1.err")" -eq 1 ] && grep -q -e "$2" "$1.err" || { cat "$1.err"; fail "$1: not one refusal '$2'"; }
}
par=false
command -v parallel >/dev/null && parallel --version 2>/dev/null | grep -q 'GNU parallel' && par=true
$par || echo "GNU parallel is not installed: its recipes are not run"

# ---- wfdxlate: eight wfdisc files, one per record; their sample files are shared.
"$genarchive" archive >/dev/null
awk '{ print > sprintf("archive/part%d.wfdisc", NR) }' archive/day.wfdisc && rm archive/day.wfdisc
wfdxlate -q -o serial archive/*.wfdisc
[ "$(ls -A serial | wc -l)" -eq 8 ] || fail "the serial run wrote $(ls -A serial | wc -l) files, not 8"
for recipe in 'GNU parallel' 'xargs -P'; do
    [ "$recipe" = 'xargs -P' ] || $par || continue
    run "# wfdxlate: $recipe, one job per wfdisc file" w
    quiet w
    run "# wfdxlate: $recipe, one job per wfdisc file" w2 # again: -k refuses every record
    [ "$st" -ne 0 ] && [ "$(grep -c '^wfdxlate: ERROR 2091: ' w2.err)" -eq 8 ] || fail "a rerun: status $st, not 8 refusals"
    same serial kiv && rm -r kiv && echo "ok: wfdxlate, $recipe, and again with nothing replaced"
done
run '# wfdxlate: the list an array job works through, one wfdisc file a line' wlist
quiet wlist
[ "$(cat list.txt)" = "$(ls archive/*.wfdisc | sort)" ] || fail "list.txt is not the 8 wfdisc files"
block '# job.sh: array task N converts the wfdisc file on line N of list.txt' > job.sh
head -1 job.sh | grep -q '^#!/bin/sh$' || fail "job.sh does not begin with #!/bin/sh"
trial="# job.sh's tasks here, all at once: a trial without a batch system"
run "$trial" wtasks
quiet wtasks
[ ! -s wtasks.out ] || { cat wtasks.out; fail "an array task failed"; }
same serial kiv && rm -r kiv && echo "ok: wfdxlate, the array job's tasks"
echo archive/missing.wfdisc >> list.txt # the trial must show a failing task
run "$trial" wtasks2
[ "$(cat wtasks2.out)" = "task 9: status 2" ] || fail "the trial loop said '$(cat wtasks2.out)' of a failing task"
rm -rf kiv
dry='# wfdxlate: names two records would write, from a dry run of every job (none: no output)'
if $par; then
    run "$dry" wdry
    quiet wdry
    [ ! -s wdry.out ] && [ ! -e kiv ] || fail "the dry-run check found collisions or made kiv: $(cat wdry.out)"
fi

# ---- -k: two wfdisc files whose records map to one name, with different samples (the same
# bytes read as s4 and as i4): 2,000,000 samples, so that the two runs overlap in time.
mkdir -p race/archive && cd race
seq 1000000 3000000 | head -c 8000000 > archive/big.w
for x in a:s4 b:i4; do
    echo "RACE BHZ 1488931200.00000 1 1 2017067 1488951199.99000 2000000 100.0 1.0 1.0 - o ${x#*:} - . big.w 0 -1 1489009080.0" > "archive/${x%%:*}.wfdisc"
done
name=RACE.BHZ.2017.067.00.00.00.000.kiv
wfdxlate -q -o ref.a archive/a.wfdisc && wfdxlate -q -o ref.b archive/b.wfdisc
cmp -s ref.a/$name ref.b/$name && fail "the two runs' files are alike: the race would prove nothing"
# Each run reads its record from a FIFO, both written at once, so that they convert side by
# side and meet at the rename into place, which must let exactly one of them through.
for round in 1 2 3 4 5 6; do
    rm -rf kiv archive/a.pipe archive/b.pipe && mkfifo archive/a.pipe archive/b.pipe
    wfdxlate -q -k -o kiv archive/a.pipe 2> a.err & pa=$!
    wfdxlate -q -k -o kiv archive/b.pipe 2> b.err & pb=$!
    sleep 0.2 # both waiting at their FIFO
    cat archive/a.wfdisc > archive/a.pipe & wa=$!
    cat archive/b.wfdisc > archive/b.pipe & wb=$!
    sa=0 sb=0
    wait $pa || sa=$?
    wait $pb || sb=$?
    kill $wa $wb 2>/dev/null || true # a writer whose run never opened its FIFO
    wait $wa $wb 2>/dev/null || true
    case "$sa $sb" in
        "0 2") win=a lose=b ;;
        "2 0") win=b lose=a ;;
        *) cat a.err b.err; fail "round $round: the -k runs ended with $sa and $sb, not 0 and 2" ;;
    esac
    [ "$(ls -A kiv)" = "$name" ] || fail "round $round: kiv holds $(ls -A kiv | tr '\n' ' ')"
    cmp ref.$win/$name kiv/$name || fail "round $round: the file is not what run $win alone writes"
    [ ! -s $win.err ] || { cat $win.err; fail "round $round: the winning run said something"; }
    refusals $lose "^wfdxlate: ERROR 2091: .*: archive/$lose.pipe:1 kiv/$name\$"
    eval "won_$win=\$((\${won_$win:-0} + 1))"
done
rm -r archive/a.pipe archive/b.pipe kiv
echo "ok: -k, two runs at once for one name, 6 rounds (run a won ${won_a:-0}, run b ${won_b:-0})"
# The page's own recipes over this archive: the name listed; one job fails with 2091.
if $par; then
    run "$dry" wdry
    [ "$(cat wdry.out)" = "kiv/$name" ] || fail "the dry-run check listed '$(cat wdry.out)', not kiv/$name"
    run '# wfdxlate: GNU parallel, one job per wfdisc file' wpar
    [ "$st" -eq 1 ] && [ "$(joblog jobs.log)" = "0 2 " ] || fail "GNU parallel: status $st, job log $(joblog jobs.log)"
    refusals wpar 'ERROR 2091'
    win=$(awk -F'\t' 'NR > 1 && $7 == 0 { sub(/.* archive\//, "", $9); sub(/\.wfdisc$/, "", $9); print $9 }' jobs.log)
    [ "$(ls -A kiv)" = "$name" ] && cmp ref.$win/$name kiv/$name || fail "the recipe's file is not run $win's"
    echo "ok: -k, GNU parallel's recipe over two wfdisc files of one name (run $win won)"
fi
cd "$work"

# ---- msxlate: the demo's records, one file per channel and day, two stations, in an SDS
# tree; one channel's day file re-delivered later, cut short (the same first segment).
if [ -n "$msbin" ] && [ -n "$genmseed" ]; then
    "$genmseed" demo.mseed
    poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; } # FILE OFFSET BYTES
    field() { dd if="$1" bs=1 skip="$2" count="$3" 2>/dev/null | tr -d ' '; } # FILE OFFSET LENGTH
    split -b 512 -a 4 demo.mseed r.
    for r in r.*; do cat "$r" >> "rec.$(field "$r" 15 3)"; done
    # A channel's files are not joined, in one run or in two: its records cut in two.
    half=$((($(wc -c < rec.BHZ) / 512 + 1) / 2))
    head -c $((half * 512)) rec.BHZ > cut.1 && tail -c +$((half * 512 + 1)) rec.BHZ > cut.2
    msxlate -q -o join.one cut.1 cut.2 && msxlate -q -o join.two cut.1 && msxlate -q -o join.two cut.2
    same join.one join.two
    [ "$(ls -A join.one | wc -l)" -eq 2 ] || fail "two files of one channel gave $(ls -A join.one | wc -l) outputs"
    echo "ok: msxlate, a channel cut in two files gives two outputs, in one run or two"
    for sta in ALPHA BRAVO; do # the station's code in each record; the later half a day on
        for f in rec.*; do
            chan=${f#rec.} loc=$(field "$f" 13 2)
            dir=mseed/2026/XK/$sta/$chan.D && mkdir -p "$dir" && rm -f r.* && split -b 512 -a 4 "$f" r.
            set -- r.*
            k=0
            for r; do
                poke "$r" 8 "$(printf '%-5s' $sta)" && k=$((k + 1)) day=341
                [ $k -gt $((($# + 1) / 2)) ] && poke "$r" 22 '\001\126' && day=342 # day 342
                cat "$r" >> "$dir/XK.$sta.$loc.$chan.D.2026.$day"
            done
        done
    done
    mkdir mseed/incoming
    head -c 512 mseed/2026/XK/ALPHA/BHZ.D/XK.ALPHA.00.BHZ.D.2026.341 > mseed/incoming/XK.ALPHA.00.BHZ.D.2026.341
    first="mseed/2026/XK/ALPHA/BHZ.D/XK.ALPHA.00.BHZ.D.2026.341"
    refused="^msxlate: ERROR 2058: .*mseed/incoming/XK.ALPHA.00.BHZ.D.2026.341 .*first written by $first\$"
    run '# msxlate: the serial run, every file in one run, in name order' mserial
    [ "$st" -ne 0 ] || fail "the serial msxlate run did not fail on the re-delivered file"
    refusals mserial "$refused"
    mv kiv mserial
    run '# msxlate: one list of files per channel (NET.STA.LOC.CHAN: a name'"'"'s first four fields)' mlists
    quiet mlists
    # One list a channel, in name order (a file lost or out of order shows in the jobs' output).
    [ "$(ls lists | wc -l)" -eq 8 ] || fail "$(ls lists | wc -l) lists, not 8 (2 stations, 4 channels)"
    [ "$(cat lists/XK.ALPHA.00.BHZ)" = "$(printf '%s\n' $first ${first%1}2 mseed/incoming/${first##*/})" ] ||
        fail "lists/XK.ALPHA.00.BHZ: $(cat lists/XK.ALPHA.00.BHZ)"
    if $par; then # one job per channel: the serial run's one refusal (the last job's), its files
        run '# msxlate: GNU parallel, one job per channel' mpar
        [ "$st" -eq 1 ] && [ "$(joblog msjobs.log)" = "0 0 0 0 0 0 0 123 " ] ||
            fail "msxlate, GNU parallel: status $st, job log $(joblog msjobs.log)"
        refusals mpar "$refused"
        same mserial kiv && rm -r kiv && echo "ok: msxlate, GNU parallel, one job per channel"
    fi
    run '# msxlate: xargs -P, one job per channel' mxargs
    [ "$st" -eq 123 ] || fail "msxlate, xargs -P: status $st, not 123"
    refusals mxargs "$refused"
    same mserial kiv && echo "ok: msxlate, xargs -P, one job per channel"
else
    echo "msxlate was not built: its recipes are not run"
fi

# Every shell example of the page is run above or marked as not run.
awk '/^```sh$/ { getline; if ($0 ~ /^#!/) getline; print }' "$doc" | grep -v '^# not run: needs ' | sort -u > blocks.txt
if [ -n "$msbin" ] && [ -n "$genmseed" ] && $par; then
    left=$(sort -u ran.txt | comm -23 blocks.txt -)
    [ -z "$left" ] || fail "examples of the page that nothing runs: $left"
fi
[ "$(grep -c '^```sh$' "$doc")" -ge 10 ] || fail "the page has fewer shell examples than it had"
echo "ok: $(wc -l < blocks.txt) shell examples of the page, all run"
