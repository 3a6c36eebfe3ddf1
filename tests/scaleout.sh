#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# The shell examples of docs/scaleout.md, run as they stand there:
# - wfdxlate's recipes (GNU parallel when installed, xargs -P, an array job's tasks) over
#   eight wfdisc files write, byte for byte, what one serial run writes, every job status 0;
# - -k: two runs started together whose records map to one output name leave that one file,
#   whole and equal to what the winning run alone writes; the other run exits 2 with ERROR
#   2091; without -k the later run replaces the file; the dry-run check lists the name;
# - msxlate's per-channel recipes over an archive of day files (a re-delivered file among
#   them) write what one serial run writes and refuse what it refuses;
# - every shell example of the page is run here or marked "# not run: needs ...".
# No temporary file may be left anywhere (diff -r and ls -A see dot files).
# Usage: scaleout.sh DOC WFDXLATE_DIR GENARCHIVE KIVAUX WORK [MSXLATE_DIR GENMSEED]
set -eu
doc=$1 bin=$2 genarchive=$3 work=$5 msbin=${6:-} genmseed=${7:-}
export KIVAUX="$4" PATH="$bin:$PATH"
[ -n "$msbin" ] && PATH="$msbin:$PATH"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The fenced block of the page whose first line (after a #! line) is $1, fences left out.
block() {
    awk -v first="$1" '
        /^```/ { if (inb) { inb = 0; if (take) { found = 1; exit } ; next }
                 inb = 1; n = 0; key = ""; buf = ""; next }
        inb { n++
              if (key == "") {
                  buf = buf $0 "\n"
                  if (!(n == 1 && $0 ~ /^#!/)) { key = $0; take = (key == first); if (take) printf "%s", buf }
                  next }
              if (take) print }
        END { exit !found }' "$doc" || fail "no block beginning '$1' in $doc"
    printf '%s\n' "$1" >> "$work/ran.txt"
}
# Runs the block $1 in the working directory, its output into $2.out and $2.err; its status.
run() {
    block "$1" > "$2.sh"
    st=0
    sh "$2.sh" > "$2.out" 2> "$2.err" || st=$?
    return 0
}
same() { # the folder $2 holds what the folder $1 holds, and nothing else
    diff -r "$1" "$2" || fail "$2 differs from $1"
}
noerrors() { # $1.err empty (the runs are quiet, -q), status $st 0
    [ "$st" -eq 0 ] || { cat "$1.err"; fail "$1: status $st"; }
    [ ! -s "$1.err" ] || { cat "$1.err"; fail "$1: standard error not empty"; }
}
joblog() { # the exit statuses GNU parallel's job log $1 recorded, sorted, one line
    awk -F'\t' 'NR > 1 { print $7 }' "$1" | sort | tr '\n' ' '
}
# The lines of $1 matching $2, counted.
count() { grep -c -e "$2" "$1" || true; }

: > ran.txt
have_parallel=false
command -v parallel >/dev/null && parallel --version 2>/dev/null | grep -q 'GNU parallel' && have_parallel=true
$have_parallel || echo "GNU parallel is not installed: its recipes are not run"

# ---- wfdxlate: eight wfdisc files, one per record; their sample files are shared.
"$genarchive" archive >/dev/null
awk '{ print > sprintf("archive/part%d.wfdisc", NR) }' archive/day.wfdisc && rm archive/day.wfdisc
wfdxlate -q -o serial archive/*.wfdisc
[ "$(ls -A serial | wc -l)" -eq 8 ] || fail "the serial run wrote $(ls -A serial | wc -l) files, not 8"

if $have_parallel; then
    run '# wfdxlate: GNU parallel, one job per wfdisc file' wpar
    noerrors wpar
    [ "$(joblog jobs.log)" = "0 0 0 0 0 0 0 0 " ] || fail "GNU parallel's job log: $(joblog jobs.log)"
    same serial kiv && mv kiv out.parallel && echo "ok: wfdxlate, GNU parallel"
fi
run '# wfdxlate: xargs -P, one job per wfdisc file' wxargs
noerrors wxargs
same serial kiv && mv kiv out.xargs && echo "ok: wfdxlate, xargs -P"

# A rerun with -k into the same folder refuses every record (2091) and keeps every file, even
# a damaged one; a rerun without -k replaces them whole.
cp -r out.xargs kiv
victim=$(ls kiv | head -1) && : > "kiv/$victim"
run '# wfdxlate: xargs -P, one job per wfdisc file' wrerun
[ "$st" -eq 123 ] || fail "a rerun with -k: status $st, not 123"
[ "$(count wrerun.err '^wfdxlate: ERROR 2091: ')" -eq 8 ] && [ "$(wc -l < wrerun.err)" -eq 8 ] ||
    { cat wrerun.err; fail "a rerun with -k did not refuse each of the 8 records once"; }
[ ! -s "kiv/$victim" ] || fail "a rerun with -k replaced $victim"
wfdxlate -q -o kiv archive/*.wfdisc
same serial kiv && rm -r kiv && echo "ok: wfdxlate, a rerun with -k keeps, one without replaces"

run '# wfdxlate: the list an array job works through, one wfdisc file a line' wlist
noerrors wlist
[ "$(sort list.txt)" = "$(ls archive/*.wfdisc | sort)" ] || fail "list.txt is not the 8 wfdisc files"
block '# job.sh: array task N converts the wfdisc file on line N of list.txt' > job.sh
head -1 job.sh | grep -q '^#!/bin/sh$' || fail "job.sh does not begin with #!/bin/sh"
run '# job.sh'"'"'s tasks here, all at once: a trial without a batch system' wtasks
noerrors wtasks
[ ! -s wtasks.out ] || { cat wtasks.out; fail "an array task failed"; }
same serial kiv && mv kiv out.array && echo "ok: wfdxlate, the array job's tasks"
# The trial loop must show a failing task: one whose line names no file.
echo archive/missing.wfdisc >> list.txt
run '# job.sh'"'"'s tasks here, all at once: a trial without a batch system' wtasks2
[ "$(cat wtasks2.out)" = "task 9: status 2" ] || fail "the trial loop said '$(cat wtasks2.out)' of a failing task"
rm -rf kiv

run '# wfdxlate: names two records would write, from a dry run of every job (none: no output)' wdry
if $have_parallel; then
    noerrors wdry
    [ ! -s wdry.out ] || fail "the dry-run check found collisions in a clean archive: $(cat wdry.out)"
    [ ! -e kiv ] || fail "a dry run made kiv"
fi

# ---- -k: two wfdisc files whose records map to one name, with different samples (the same
# bytes read as s4 and as i4): 2,000,000 samples, so that the two runs overlap in time.
mkdir -p race/archive
seq 1000000 3000000 | head -c 8000000 > race/archive/big.w
for x in a:s4 b:i4; do
    echo "RACE BHZ 1488931200.00000 1 1 2017067 1488951199.99000 2000000 100.0 1.0 1.0 - o ${x#*:} - . big.w 0 -1 1489009080.0" > "race/archive/${x%%:*}.wfdisc"
done
cd race
name=RACE.BHZ.2017.067.00.00.00.000.kiv
wfdxlate -q -o ref.a archive/a.wfdisc && wfdxlate -q -o ref.b archive/b.wfdisc
cmp -s ref.a/$name ref.b/$name && fail "the two runs' files are alike: the race would prove nothing"
[ "$(stat -c %s ref.a/$name)" -eq 8000632 ] || fail "the reference is $(stat -c %s ref.a/$name) bytes"
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
    [ "$(wc -l < $lose.err)" -eq 1 ] && grep -q "^wfdxlate: ERROR 2091: .*: archive/$lose.pipe:1 kiv/$name\$" $lose.err ||
        { cat $lose.err; fail "round $round: the refusing run did not say ERROR 2091 once, naming its record"; }
    eval "won_$win=\$((\${won_$win:-0} + 1))"
done
rm archive/a.pipe archive/b.pipe
echo "ok: -k, two runs at once for one name, 6 rounds (run a won ${won_a:-0}, run b ${won_b:-0})"

# Without -k the later of two runs replaces the earlier's file, both with status 0.
rm -rf kiv
wfdxlate -q -o kiv archive/a.wfdisc && wfdxlate -q -o kiv archive/b.wfdisc
[ "$(ls -A kiv)" = "$name" ] && cmp ref.b/$name kiv/$name || fail "without -k the later run's file is not there"
echo "ok: without -k, the later run replaces"

# The page's own recipe over this archive: one job fails with 2091, the file is whole.
rm -rf kiv
if $have_parallel; then
    run '# wfdxlate: names two records would write, from a dry run of every job (none: no output)' wdry
    [ "$(cat wdry.out)" = "kiv/$name" ] || fail "the dry-run check listed '$(cat wdry.out)', not kiv/$name"
    run '# wfdxlate: GNU parallel, one job per wfdisc file' wpar
    [ "$st" -eq 1 ] || fail "GNU parallel's status is $st, not 1 (one job failed)"
    [ "$(joblog jobs.log)" = "0 2 " ] || fail "GNU parallel's job log: $(joblog jobs.log)"
    [ "$(count wpar.err 'ERROR 2091')" -eq 1 ] && [ "$(wc -l < wpar.err)" -eq 1 ] || { cat wpar.err; fail "not one ERROR 2091"; }
    win=$(awk -F'\t' 'NR > 1 && $7 == 0 { sub(/.* archive\//, "", $9); sub(/\.wfdisc$/, "", $9); print $9 }' jobs.log)
    [ "$(ls -A kiv)" = "$name" ] && cmp ref.$win/$name kiv/$name || fail "the recipe's file is not run $win's"
    echo "ok: -k, GNU parallel's recipe over two wfdisc files of one name (run $win won)"
fi
cd "$work"

# ---- msxlate: the demo's records, one file per channel and day, two stations, in an SDS
# tree; one channel's day file re-delivered later, cut short (the same first segment).
if [ -n "$msbin" ] && [ -n "$genmseed" ]; then
    "$genmseed" demo.mseed
    recs=$(($(wc -c < demo.mseed) / 512))
    [ $((recs * 512)) -eq "$(wc -c < demo.mseed)" ] || fail "demo.mseed is not made of 512-byte records"
    poke() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc 2>/dev/null; } # FILE OFFSET BYTES
    i=0
    while [ $i -lt $recs ]; do
        chan=$(dd if=demo.mseed bs=1 skip=$((i * 512 + 15)) count=3 2>/dev/null)
        dd if=demo.mseed bs=512 skip=$i count=1 2>/dev/null >> "rec.$chan"
        i=$((i + 1))
    done
    # A channel's files are not joined, in one run or in two: its records cut in two.
    half=$((($(wc -c < rec.BHZ) / 512 + 1) / 2))
    head -c $((half * 512)) rec.BHZ > cut.1 && tail -c +$((half * 512 + 1)) rec.BHZ > cut.2
    [ -s cut.2 ] || fail "rec.BHZ is one record"
    msxlate -q -o join.one cut.1 cut.2 && msxlate -q -o join.two cut.1 && msxlate -q -o join.two cut.2
    same join.one join.two
    [ "$(ls -A join.one | wc -l)" -eq 2 ] || fail "two files of one channel gave $(ls -A join.one | wc -l) outputs"
    echo "ok: msxlate, a channel cut in two files gives two outputs, in one run or two"
    for sta in ALPHA BRAVO; do
        for f in rec.*; do
            chan=${f#rec.}
            dir=mseed/2026/XK/$sta/$chan.D && mkdir -p "$dir"
            n=$(($(wc -c < "$f") / 512)) half=$((($(wc -c < "$f") / 512 + 1) / 2))
            cp "$f" tmp.ms
            k=0
            while [ $k -lt "$n" ]; do # the station's code; the later half a day on (day 342)
                poke tmp.ms $((k * 512 + 8)) "$(printf '%-5s' $sta)"
                [ $k -ge "$half" ] && poke tmp.ms $((k * 512 + 22)) '\001\126'
                k=$((k + 1))
            done
            loc=$(dd if=tmp.ms bs=1 skip=13 count=2 2>/dev/null | tr -d ' ')
            head -c $((half * 512)) tmp.ms > "$dir/XK.$sta.$loc.$chan.D.2026.341"
            [ "$n" -gt "$half" ] && tail -c +$((half * 512 + 1)) tmp.ms > "$dir/XK.$sta.$loc.$chan.D.2026.342"
        done
    done
    rm tmp.ms rec.*
    mkdir -p mseed/incoming
    head -c 512 mseed/2026/XK/ALPHA/BHZ.D/XK.ALPHA.00.BHZ.D.2026.341 > mseed/incoming/XK.ALPHA.00.BHZ.D.2026.341
    nfiles=$(find mseed -type f | wc -l)
    [ "$nfiles" -ge 10 ] || fail "the miniSEED archive has $nfiles files"

    run '# msxlate: the serial run, every file in one run, in name order' mserial
    [ "$st" -ne 0 ] || fail "the serial msxlate run did not fail on the re-delivered file"
    [ "$(wc -l < mserial.err)" -eq 1 ] && grep -q '^msxlate: ERROR 2058: .*mseed/incoming/XK.ALPHA.00.BHZ.D.2026.341 .*first written by mseed/2026/XK/ALPHA/BHZ.D/XK.ALPHA.00.BHZ.D.2026.341$' mserial.err ||
        { cat mserial.err; fail "the serial run did not refuse the re-delivered file alone (ERROR 2058)"; }
    for sta in ALPHA BRAVO; do # each channel's two day files
        for day in 341 342; do
            [ "$(ls kiv | grep -c "^XK\.$sta\.00\.BHZ\.2026\.$day\.")" -eq 1 ] || fail "not one output of XK.$sta.00.BHZ day $day"
        done
    done
    mv kiv mserial
    run '# msxlate: one list of files per channel (NET.STA.LOC.CHAN: a name'"'"'s first four fields)' mlists
    noerrors mlists
    # The lists hold every file once, a channel's in name order, nothing of another channel.
    [ "$(cat lists/* | sort)" = "$(find mseed -type f | sort)" ] || fail "the lists are not the archive's files"
    for l in lists/*; do
        [ "$(cat "$l")" = "$(sort "$l")" ] || fail "$l is not in name order"
        [ "$(sed 's|.*/||' "$l" | cut -d. -f1-4 | sort -u)" = "${l#lists/}" ] || fail "$l mixes channels"
    done
    [ "$(ls lists | wc -l)" -eq 8 ] || fail "$(ls lists | wc -l) lists, not 8 (2 stations, 4 channels)"
    [ "$(cat lists/XK.ALPHA.00.BHZ)" = "$(printf '%s\n' mseed/2026/XK/ALPHA/BHZ.D/XK.ALPHA.00.BHZ.D.2026.341 \
        mseed/2026/XK/ALPHA/BHZ.D/XK.ALPHA.00.BHZ.D.2026.342 mseed/incoming/XK.ALPHA.00.BHZ.D.2026.341)" ] ||
        fail "lists/XK.ALPHA.00.BHZ: $(cat lists/XK.ALPHA.00.BHZ)"
    check_ms() { # $1: the run's name; the status it must have
        [ "$(count "$1.err" ERROR)" -eq 1 ] && grep -q "^msxlate: ERROR 2058: .*mseed/incoming/XK.ALPHA.00.BHZ.D.2026.341 " "$1.err" ||
            { cat "$1.err"; fail "$1: not the serial run's one refusal"; }
        same mserial kiv && mv kiv "out.$1"
    }
    if $have_parallel; then
        run '# msxlate: GNU parallel, one job per channel' mpar
        [ "$st" -eq 1 ] || fail "msxlate, GNU parallel: status $st, not 1 (the one channel's job)"
        [ "$(joblog msjobs.log)" = "0 0 0 0 0 0 0 123 " ] || fail "msxlate, GNU parallel's job log: $(joblog msjobs.log)"
        check_ms mpar && echo "ok: msxlate, GNU parallel, one job per channel"
    fi
    run '# msxlate: xargs -P, one job per channel' mxargs
    [ "$st" -eq 123 ] || fail "msxlate, xargs -P: status $st, not 123"
    check_ms mxargs && echo "ok: msxlate, xargs -P, one job per channel"
else
    echo "msxlate was not built: its recipes are not run"
fi

# Every shell example of the page is run above or marked as not run.
awk '/^```sh$/ { getline; if ($0 ~ /^#!/) getline; print }' "$doc" | grep -v '^# not run: needs ' |
    sort -u > blocks.txt
sort -u ran.txt > ran.sorted
if [ -n "$msbin" ] && [ -n "$genmseed" ] && $have_parallel; then
    left=$(comm -23 blocks.txt ran.sorted)
    [ -z "$left" ] || fail "examples of the page that nothing runs: $left"
fi
[ "$(grep -c '^```sh$' "$doc")" -ge 10 ] || fail "the page has fewer shell examples than it had"
echo "ok: $(wc -l < blocks.txt) shell examples of the page, all run"
