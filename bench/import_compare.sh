#!/usr/bin/env bash
# Imports one PGN file with vezdb, with SCID (tkscid under xvfb-run) and reads it with
# pgn-extract, in the same run, and prints the time, games per second and bytes per game of
# each. Usage: bench/import_compare.sh [VEZDB] [PGN]
# Needs the Debian packages scid, xvfb and pgn-extract; a missing one is skipped.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
vezdb=${1:-$root/build/release/tools/vezdb/vezdb}
pgn=${2:-$(cd "$root/.." && pwd)/shared/corpus/games-large.pgn}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { date +%s.%N; }
report() { # name start end games bytes
    awk -v n="$1" -v s="$(awk -v a="$2" -v b="$3" 'BEGIN { print b - a }')" -v g="$4" -v b="$5" 'BEGIN {
        printf "%-12s %8.2f s %9d games %9.0f games/s %8s bytes/game\n", n, s, g, g / s,
               (b > 0 ? sprintf("%.0f", b / g) : "-") }'
}

start=$(seconds)
line=$("$vezdb" import "$work/vez.vez" "$pgn" 2>/dev/null | tail -n 1)
end=$(seconds)
games=$(sed -E 's/imported ([0-9]+) games.*/\1/' <<<"$line")
report vezdb "$start" "$end" "$games" "$(stat -c %s "$work/vez.vez")"

if [[ -x /usr/games/tkscid ]] && command -v xvfb-run >/dev/null; then
    cat >"$work/import.tcl" <<'TCL'
set base [sc_base create [lindex $argv 1]]
set result [sc_base import $base [lindex $argv 0]]
puts "games [sc_base numGames $base]"
sc_base close $base
exit
TCL
    start=$(seconds)
    out=$(xvfb-run -a /usr/games/tkscid "$work/import.tcl" "$pgn" "$work/scid" 2>/dev/null)
    end=$(seconds)
    games=$(grep -oE 'games [0-9]+' <<<"$out" | tail -n 1 | cut -d' ' -f2)
    bytes=$(cat "$work"/scid.si4 "$work"/scid.sg4 "$work"/scid.sn4 | wc -c)
    report scid "$start" "$end" "${games:-0}" "$bytes"
fi

extract=$(command -v pgn-extract || true)
[[ -n $extract ]] || { [[ -x /usr/games/pgn-extract ]] && extract=/usr/games/pgn-extract; }
if [[ -n $extract ]]; then
    # Reads and checks every game, writes nothing.
    start=$(seconds)
    "$extract" -s -o /dev/null "$pgn" >/dev/null 2>&1 || true
    end=$(seconds)
    report pgn-extract "$start" "$end" "$(grep -c '^\[Event ' "$pgn" || true)" 0
fi
