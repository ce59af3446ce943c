#!/usr/bin/env bash
# vezdb import killed with SIGKILL at several moments, and an import onto a disk that fills:
# afterwards the file opens, reads and takes more games, and every game it lists is whole.
# Usage: vezdb_interrupted_test.sh PATH-TO-VEZDB CORPUS-DIR [GAMES]   (exit 77: skipped)
set -uo pipefail

vezdb=${1:?usage: vezdb_interrupted_test.sh PATH-TO-VEZDB CORPUS-DIR}
source_pgn=${2:?usage: vezdb_interrupted_test.sh PATH-TO-VEZDB CORPUS-DIR}/games-large.pgn
games=${3:-4000}
[[ -f $source_pgn ]] || { echo "skipped: $source_pgn is missing"; exit 77; }
failures=0
scratch=$(mktemp -d)
disk=$scratch/disk
cleanup()
{
    mountpoint -q "$disk" 2>/dev/null && umount "$disk"
    rm -rf "$scratch"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The first games of the corpus, some megabytes of them.
awk -v games="$games" '/^\[Event / { if (++n > games) exit } { print }' "$source_pgn" \
    >"$scratch/input.pgn"

used_bytes() { od -An -tu4 -j8 -N4 "$1" 2>/dev/null | tr -d ' '; }

# step COMMAND ARGS...: vezdb with its output in $scratch/COMMAND.txt; a failure fails the
# check named $name.
step() { "$vezdb" "$@" >"$scratch/$1.txt" 2>"$scratch/err.txt" ||
    { fail "$name: $1: $(<"$scratch/err.txt") $(head -3 "$scratch/$1.txt")"; return 1; }; }

# check_database NAME DB: opens (which mends what a kill left half done), checks, lists and
# exports the database; the statistics count as many games as the list, and they are the
# first games of a whole import. Sets $listed.
check_database()
{
    local name=$1 db=$2
    listed=-1
    step check "$db" || return
    step games "$db" || return
    listed=$(wc -l <"$scratch/games.txt")
    step stats "$db" || return
    local counted
    counted=$(sed -n 's/^[[:space:]]*\([0-9]*\) game records @.*/\1/p' "$scratch/stats.txt")
    [[ $counted == "$listed" ]] || fail "$name: stats count $counted game records, games lists $listed"
    step export "$db" "$scratch/out.pgn" || return
    local exported
    exported=$(grep -c '^\[Event ' "$scratch/out.pgn")
    [[ $exported == "$listed" ]] || fail "$name: exported $exported games of $listed"
    # The games are those of an import that ran to its end, as many as made it, each whole.
    awk -v n="$listed" '/^\[Event / { if (++games > n) exit } { print }' "$scratch/reference.pgn" |
        cmp -s - "$scratch/out.pgn" || fail "$name: the $listed games differ from a whole import's"
}

"$vezdb" import "$scratch/reference.vez" "$scratch/input.pgn" >/dev/null &&
    "$vezdb" export "$scratch/reference.vez" "$scratch/reference.pgn" ||
    { echo "FAIL: the reference import failed"; exit 1; }

# Kills at growing heap tops, as parts of the whole import's: early in the file, in the
# middle and late.
whole=$(used_bytes "$scratch/reference.vez")
for percent in 6 20 40 60 90; do
    top=$((whole * percent / 100))
    db=$scratch/killed-$top.vez
    "$vezdb" import "$db" "$scratch/input.pgn" >/dev/null 2>&1 &
    pid=$!
    while kill -0 "$pid" 2>/dev/null; do
        used=$(used_bytes "$db")
        [[ -n $used && $used -ge $top ]] && break
        sleep 0.01
    done
    if ! kill -KILL "$pid" 2>/dev/null; then
        wait "$pid"
        echo "note: the import ended before reaching $top bytes"
        continue
    fi
    wait "$pid" 2>/dev/null
    check_database "killed at $top" "$db"
    before=$listed
    # The killed file takes the import again: the games it had are found as duplicates,
    # the others are added, and it ends as the whole import did.
    if "$vezdb" import "$db" "$scratch/input.pgn" >/dev/null 2>"$scratch/err.txt"; then
        check_database "imported again after kill at $top" "$db"
        ((listed == $(grep -c '^\[Event ' "$scratch/reference.pgn"))) ||
            fail "kill at $top: $before games before importing again, $listed after"
    else
        fail "import after kill at $top: $(<"$scratch/err.txt")"
    fi
done

# A disk with room for half the whole import: the import stops with a failure, says why, and
# the file keeps what it stored.
mkdir -p "$disk"
if ! mount -t tmpfs -o size=$((whole / 2048))k tmpfs "$disk" 2>/dev/null; then
    echo "full disk: skipped, cannot mount a tmpfs here (needs root)"
else
    "$vezdb" import "$disk/full.vez" "$scratch/input.pgn" >"$scratch/out.txt" 2>"$scratch/err.txt"
    status=$?
    [[ $status == 1 ]] || fail "full disk: import exit status $status, expected 1"
    grep -q 'No space left on device' "$scratch/err.txt" ||
        fail "full disk: no reason given: $(<"$scratch/err.txt")"
    stored=$(sed -n 's/^imported \([0-9]*\) games.*/\1/p' "$scratch/out.txt")
    [[ -n $stored && $stored -gt 0 ]] || fail "full disk: no games reported: $(<"$scratch/out.txt")"
    # Opening needs no room: fill the disk to the last byte first.
    head -c 4M /dev/zero >"$disk/filler" 2>/dev/null
    check_database "full disk" "$disk/full.vez"
    [[ $listed == "$stored" ]] || fail "full disk: reported $stored games, the file lists $listed"
fi

if ((failures > 0)); then
    echo "vezdb_interrupted_test: $failures failed checks"
    exit 1
fi
echo "vezdb_interrupted_test: killed and full-disk imports left sound files"
