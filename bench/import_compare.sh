#!/usr/bin/env bash
# Imports one PGN file with vezdb and with SCID (tkscid under xvfb-run), and reads it with
# pgn-extract, in the same run, and prints for each run side by side:
#   - the import's wall and CPU time, games per second, the time ratios vezdb/SCID;
#   - the import's peak resident memory and its ratio to the database it wrote;
#   - the games through the Najdorf (1.e4 c5 2.Nf3 d6 3.d4 cxd4 4.Nxd4 Nf6 5.Nc3 a6) on
#     the database just opened: vezdb's whole process against SCID's open plus board
#     search (timed inside tkscid, whose start-up under xvfb is not counted), and whether
#     both find the same number of games; vezdb first with the index its import saved beside
#     the database, then again with that index removed (the walk through the graph).
# Then, once, the time of adding 3,000 games to a database of the rest, and the database's
# bytes per game at compression ply 100, 40 and 20 and how many such games fit the 4 GiB
# limit of a database file (and the 22-bit game numbers).
#
# With --busy a process that keeps one core busy runs beside each import (vezdb's and SCID's).
#
# Usage: bench/import_compare.sh [-n RUNS] [--no-plies] [--busy] [VEZDB] [PGN]
# Needs the Debian packages scid, xvfb and pgn-extract; a missing one is skipped.
set -euo pipefail

runs=1
plies=(100 40 20)
busy=0
while [[ $# -gt 0 && $1 == -* ]]; do
    case $1 in
    -n) runs=$2; shift 2 ;;
    --no-plies) plies=(); shift ;;
    --busy) busy=1; shift ;;
    *) echo "usage: $0 [-n RUNS] [--no-plies] [--busy] [VEZDB] [PGN]" >&2; exit 2 ;;
    esac
done

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vezdb=${1:-$root/build/release/tools/vezdb/vezdb}
pgn=${2:-$(cd "$root/.." && pwd)/shared/corpus/games-large.pgn}
work=$(mktemp -d)
spinner=
trap 'stop_busy; rm -rf "$work"' EXIT

# With --busy, a loop of the shell's own keeps a core busy until stop_busy.
start_busy() {
    ((busy)) || return 0
    (while :; do :; done) &
    spinner=$!
}
stop_busy() {
    [[ -n $spinner ]] || return 0
    kill "$spinner" 2>/dev/null || true
    wait "$spinner" 2>/dev/null || true
    spinner=
}

najdorf='rnbqkb1r/1p2pppp/p2p1n2/8/3NP3/2N5/PPP2PPP/R1BQKB1R w KQkq - 0 6'
have_scid=0
[[ -x /usr/games/tkscid ]] && command -v xvfb-run >/dev/null && have_scid=1

# timed FILE COMMAND...: runs it under /usr/bin/time; FILE gets "wall user sys maxKB".
timed() {
    local out=$1
    shift
    /usr/bin/time -f '%e %U %S %M' -o "$out" "$@"
}
# The system may drop pages of files not read for a second or two: every timed run reads
# its files from memory, as the one before it did.
warm() { cat "$@" >/dev/null; }
field() { awk -v i="$2" '{ v = $i } END { print v }' "$1"; }
cpu() { awk '{ c = $2 + $3 } END { print c }' "$1"; }

# import.tcl PGN BASE [open]: into a new base, or with "open" into the existing one.
cat >"$work/import.tcl" <<'TCL'
set base [sc_base [expr {[lindex $argv 2] eq "open" ? "open" : "create"}] [lindex $argv 1]]
sc_base import $base [lindex $argv 0]
puts "games [sc_base numGames $base]"
sc_base close $base
exit
TCL
# The board search as the program's own search window runs it: the position set up on
# the board, the filter reset to the games that reach it exactly, main lines only.
cat >"$work/search.tcl" <<'TCL'
proc ::progressCallBack {args} {}
set start [clock microseconds]
set base [sc_base open [lindex $argv 0]]
sc_base switch $base
sc_game new
foreach move {e4 c5 Nf3 d6 d4 cxd4 Nxd4 Nf6 Nc3 a6} { sc_move addSan $move }
sc_search board RESET Exact false 0
set found [sc_filter count]
puts "search [expr {[clock microseconds] - $start}] $found"
exit
TCL

((busy)) && echo "one core kept busy beside each import"
printf '%-4s | %-30s | %-30s | %-9s | %-16s | %-16s | %-22s | %-15s | %s\n' run \
    'vezdb import wall/cpu s' 'scid import wall/cpu s' 'ratio w/c' 'vezdb MB (xfile)' \
    'scid MB (xfile)' 'najdorf vezdb ms w/cpu' 'no index ms w/cpu' 'najdorf scid ms, games'
for ((run = 1; run <= runs; ++run)) do
    rm -f "$work"/vez.vez "$work"/vez.vez.idx "$work"/scid.*
    warm "$pgn"
    start_busy
    timed "$work/vt" "$vezdb" import "$work/vez.vez" "$pgn" >"$work/vout" 2>/dev/null || true
    stop_busy
    games=$(sed -nE 's/imported ([0-9]+) games.*/\1/p' "$work/vout")
    combined=$(sed -nE 's/.*\(([0-9]+) combined.*/\1/p' "$work/vout")
    vbytes=$(stat -c %s "$work/vez.vez")
    timed "$work/vs" "$vezdb" games "$work/vez.vez" --through "$najdorf" >"$work/vgames"
    vfound=$(wc -l <"$work/vgames")
    rm -f "$work/vez.vez.idx"
    timed "$work/vw" "$vezdb" games "$work/vez.vez" --through "$najdorf" | cmp -s - "$work/vgames" ||
        echo "vezdb: the walk found other games than the saved index" >&2
    sw=- sc=- smem=- sbytes=0 ratio=- ssearch=- sfound=- sgames=0
    if ((have_scid)); then
        # Timed inside xvfb-run: the X server's start and memory are not SCID's.
        warm "$pgn"
        start_busy
        xvfb-run -a /usr/bin/time -f '%e %U %S %M' -o "$work/st" /usr/games/tkscid \
            "$work/import.tcl" "$pgn" "$work/scid" >"$work/sout" 2>&1
        stop_busy
        sgames=$(sed -nE 's/^games ([0-9]+)$/\1/p' "$work/sout")
        sbytes=$(cat "$work"/scid.si4 "$work"/scid.sg4 "$work"/scid.sn4 | wc -c)
        sw=$(field "$work/st" 1) sc=$(cpu "$work/st") smem=$(field "$work/st" 4)
        ratio=$(awk -v a="$(field "$work/vt" 1)" -v b="$sw" -v c="$(cpu "$work/vt")" -v d="$sc" \
            'BEGIN { printf "%.2f/%.2f", a / b, (d > 0 ? c / d : 0) }')
        read -r _ ssearch sfound < <(xvfb-run -a /usr/games/tkscid "$work/search.tcl" \
            "$work/scid" 2>/dev/null | grep '^search ' | tail -n 1)
        ssearch=$(awk -v u="$ssearch" 'BEGIN { printf "%.0f", u / 1000 }')
    fi
    awk -v r="$run" -v vw="$(field "$work/vt" 1)" -v vc="$(cpu "$work/vt")" \
        -v vm="$(field "$work/vt" 4)" -v vb="$vbytes" -v g="$games" -v sw="$sw" -v sc="$sc" \
        -v sm="$smem" -v sb="$sbytes" -v ratio="$ratio" -v qw="$(field "$work/vs" 1)" \
        -v qc="$(cpu "$work/vs")" -v ww="$(field "$work/vw" 1)" -v wc="$(cpu "$work/vw")" \
        -v vf="$vfound" -v qs="$ssearch" -v sf="$sfound" \
        -v folded="${combined:-0}" -v sg="${sgames:-0}" 'BEGIN {
        # SCID reads the file into more games than vezdb (it keeps games vezdb refuses);
        # an import that stopped short is marked, and its ratio means nothing.
        scid = sw == "-" ? "-" : sprintf("%6.2f/%6.2f %7.0f g/s%s", sw, sc, sg / sw, sg < g ? " SHORT" : "")
        smem = sm == "-" ? "-" : sprintf("%5.0f (%.2f)", sm / 1024, sm * 1024 / sb)
        # vezdb folds duplicate games into one; SCID keeps each copy.
        same = sf == "-" ? "" : (sf == vf ? " same" : sprintf(" (vezdb folded %d duplicates)", folded))
        printf "%-4s | %6.2f/%6.2f %7.0f g/s | %-30s | %-9s | %5.0f (%.2f)     | %-16s | %5.0f/%5.0f (%5d) | %5.0f/%5.0f     | %s, %s%s\n",
               r, vw, vc, g / vw, scid, ratio, vm / 1024, vm * 1024 / vb, smem,
               qw * 1000, qc * 1000, vf, ww * 1000, wc * 1000, qs, sf, same }'
done

# Adding games to a large database: all but the last 3,000 games imported first, untimed,
# then those 3,000 added, timed (vezdb builds its position index of the open database, or
# walks the hash chains, whichever it judges cheaper).
added=3000
total=$(grep -c '^\[Event ' "$pgn" || true)
if ((total > 2 * added)); then
    awk -v n=$((total - added)) '/^\[Event /{ g++ } g <= n' "$pgn" >"$work/base.pgn"
    awk -v n=$((total - added)) '/^\[Event /{ g++ } g > n' "$pgn" >"$work/added.pgn"
    rm -f "$work"/add.vez "$work"/add.vez.idx "$work"/addscid.*
    "$vezdb" import "$work/add.vez" "$work/base.pgn" >/dev/null 2>&1 || true
    warm "$work"/add.vez* "$work/added.pgn"
    timed "$work/at" "$vezdb" import "$work/add.vez" "$work/added.pgn" >/dev/null 2>&1 || true
    line="adding $added games to $((total - added)): vezdb $(field "$work/at" 1) s, $(awk '{ printf "%.0f", $4 / 1024 }' "$work/at") MB"
    if ((have_scid)); then
        xvfb-run -a /usr/games/tkscid "$work/import.tcl" "$work/base.pgn" "$work/addscid" \
            >/dev/null 2>&1
        warm "$work"/addscid.* "$work/added.pgn"
        xvfb-run -a /usr/bin/time -f '%e %U %S %M' -o "$work/sat" /usr/games/tkscid \
            "$work/import.tcl" "$work/added.pgn" "$work/addscid" open >/dev/null 2>&1
        line="$line; SCID $(field "$work/sat" 1) s, $(awk '{ printf "%.0f", $4 / 1024 }' "$work/sat") MB"
    fi
    echo "$line"
fi

extract=$(command -v pgn-extract || true)
[[ -n $extract ]] || { [[ -x /usr/games/pgn-extract ]] && extract=/usr/games/pgn-extract; }
if [[ -n $extract ]]; then
    # Reads and checks every game, writes nothing.
    timed "$work/pt" "$extract" -s -o /dev/null "$pgn" >/dev/null 2>&1 || true
    echo "pgn-extract reads the file in $(field "$work/pt" 1) s"
fi

for ply in "${plies[@]}"; do
    rm -f "$work/ply.vez" "$work/ply.vez.idx"
    "$vezdb" create "$work/ply.vez" --compression-ply "$ply"
    games=$("$vezdb" import "$work/ply.vez" "$pgn" 2>/dev/null |
        sed -nE 's/imported ([0-9]+) games.*/\1/p')
    # Game numbers have 22 bits: no more than 4,194,304 games, however small.
    awk -v p="$ply" -v b="$(stat -c %s "$work/ply.vez")" -v g="$games" 'BEGIN {
        fit = 4294967296 / (b / g)
        printf "compression ply %3d: %.0f bytes per game, %.1f M games fit 4 GiB%s\n",
               p, b / g, fit / 1e6, (fit > 4194304 ? " (game numbers stop at 4.19 M)" : "") }'
done
