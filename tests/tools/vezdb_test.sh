#!/usr/bin/env bash
# End-to-end checks of the vezdb command-line tool: output format, counts and exit status.
# Usage: vezdb_test.sh PATH-TO-VEZDB
set -uo pipefail

vezdb=${1:?usage: vezdb_test.sh PATH-TO-VEZDB}
start='rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1'
# Perft position 5 (published reference counts): d7xc8 promotes in four ways.
promotions='rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8'
failures=0
checks=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect_status NAME STATUS COMMAND...: runs vezdb, keeps stdout in $out, stderr in $err.
expect_status()
{
    local name=$1 want=$2
    shift 2
    checks=$((checks + 1))
    out=$("$vezdb" "$@" 2>"$scratch/stderr")
    local got=$?
    err=$(<"$scratch/stderr")
    if [[ $got != "$want" ]]; then
        fail "$name: exit status $got, expected $want (stderr: $err)"
        return 1
    fi
    return 0
}

expect_last_line()
{
    [[ $(tail -n 1 <<<"$out") == "$2" ]] || fail "$1: last line '${out##*$'\n'}', expected '$2'"
}

# expect_last NAME STATUS LAST-LINE COMMAND...: expect_status, then the last line of stdout.
expect_last() { expect_status "$1" "$2" "${@:4}" && expect_last_line "$1" "$3"; }

expect_line() { grep -qxF -- "$2" <<<"$out" || fail "$1: no line '$2'"; }

# Start position, depth 3: 8,902 leaves; per-move counts as computed by Stockfish.
expect_status "perft start 3" 0 perft "$start" 3 &&
    { [[ $out == 8902 ]] || fail "perft without --divide: '$out'"; }
if expect_last "divide promotions 1" 0 44 perft "$promotions" 1 --divide; then
    [[ $(grep '^d7c8' <<<"$out" | sort | tr '\n' ,) == 'd7c8b: 1,d7c8n: 1,d7c8q: 1,d7c8r: 1,' ]] ||
        fail "divide promotions 1: promotions not one line each with their letter"
fi

expect_status "moves start" 0 moves "$start" &&
    { [[ $(wc -w <<<"$out") == 20 && " $out " == *' e4 '* && " $out " == *' Nf3 '* &&
        $out != *'  '* && $out != *' ' ]] || fail "moves start: '$out'"; }
expect_status "moves descriptive" 0 moves "$start" --descriptive &&
    { [[ " $out " == *' P-K4 '* && " $out " == *' N-KB3 '* ]] || fail "moves descriptive: '$out'"; }

# A bare board with the side to move: accepted, no moves, an empty line.
expect_status "moves empty board" 0 moves '8/8/8/8/8/8/8/8 w' &&
    { [[ $out == '' ]] || fail "moves empty board: expected an empty line, got '$out'"; }

# Refused FENs: the standard en-passant square is not this dialect's file letter.
bad='rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1'
expect_status "bad FEN perft" 2 perft "$bad" 1 &&
    { [[ $err == "vezdb: bad FEN: $bad" && -z $out ]] || fail "bad FEN perft: '$out', '$err'"; }
expect_status "bad FEN moves" 2 moves 'not a position'

# Usage errors.
expect_status "no command" 2
expect_status "unknown command" 2 frobnicate
expect_status "perft without depth" 2 perft "$start"
expect_status "perft negative depth" 2 perft "$start" -1
expect_status "help" 0 --help
for command in perft moves create import export stats check games gameset delete merge clean \
    split eco-book; do
    grep -qw "$command" <<<"$out" || fail "help does not list $command"
done

# Database commands, in the scratch folder with a private settings file.
export XDG_CONFIG_HOME=$scratch/config
data_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../data" && pwd)
sample=$data_dir/twic0920-sample.pgn
db=$scratch/db.vez

expect_status "create" 0 create "$db" --compression-ply 30 &&
    { [[ -s $db ]] || fail "create: no database file"; }
expect_status "create over a database" 1 create "$db"
expect_status "create bad ply" 2 create "$scratch/x.vez" --compression-ply many
bad_games=$scratch/bad.pgn
{
    cat "$sample"
    printf '[Event "Bad"]\n[White "A"]\n[Black "B"]\n[Result "*"]\n\n1. e4 e5 2. Ke3 *\n'
} >"$bad_games"
imported="imported 60 games (0 combined with games already stored), 0 positions, skipped"
expect_last "import" 0 "$imported 1" import "$db" "$bad_games" &&
    { [[ $err == "$bad_games: game 61, line "*": "* ]] || fail "import: bad game report '$err'"; }
expect_status "import missing file" 1 import "$db" "$scratch/none.pgn"
expect_last "import creates" 0 "$imported 0" import "$scratch/new.vez" "$sample"

# Hostile inputs: what is not a regular file is refused by name and the other files are
# imported; old Macintosh line ends; EPD lines that cannot be read or stored; every game
# and position counted once; nothing usable from something is a failure.
mkdir "$scratch/folder.pgn"
mkfifo "$scratch/fifo.pgn"
sed 's/\r$//' "$sample" | tr '\n' '\r' >"$scratch/mac.pgn"
{
    echo '; opening positions'
    echo 'rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e c0 "1. e4";'
    echo 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - c0 "start";'
    echo 'rnbqkbnr/pppppppp/8/8/3Q4/8/PPPPPPPP/RNBQKBNR w KQkq - c0 "33 pieces";'
    echo 'this is not a position'
} | tr '\n' '\r' >"$scratch/lines.epd"
printf '[Event "Extra queen"]\n[FEN "%s"]\n[Result "*"]\n\n1. Qd5 *\n' \
    'rnbqkbnr/pppppppp/8/8/3Q4/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1' >"$scratch/33.pgn"
hostile=(import "$scratch/hostile.vez" "$sample" "$scratch/folder.pgn" "$scratch/fifo.pgn"
    "$scratch/mac.pgn" "$scratch/lines.epd" "$scratch/33.pgn")
if expect_last "import hostile files" 1 \
    "imported 120 games (60 combined with games already stored), 2 positions, skipped 3" \
    "${hostile[@]}"; then
    for want in "$scratch/folder.pgn: could not open:" "$scratch/fifo.pgn: could not open:" \
        "$scratch/lines.epd: line 4: position cannot be stored" \
        "$scratch/lines.epd: line 5: Bad EPD position" \
        "$scratch/33.pgn: game 1, line 1: game cannot be stored"; do
        grep -qxF -- "$want" <<<"$err" || fail "import hostile files: no message '$want' in '$err'"
    done
fi
printf 'no games here\n' >"$scratch/prose.pgn"
expect_last "import nothing usable" 1 \
    "imported 0 games (0 combined with games already stored), 0 positions, skipped 1" \
    import "$scratch/prose.vez" "$scratch/prose.pgn"
: >"$scratch/empty.pgn"
expect_status "import empty file" 0 import "$scratch/prose.vez" "$scratch/empty.pgn"
expect_status "stats" 0 stats "$db" &&
    { [[ $(head -n 2 <<<"$out") == "$db:" ]] || fail "stats: no title line and blank line"; }
expect_status "games" 0 games "$db" &&
    { [[ $(wc -l <<<"$out") == 60 && $(head -n 1 <<<"$out") == 0 ]] || fail "games: '$out'"; }
after_e4='rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -'
expect_status "games through" 0 games "$db" --through "$after_e4" &&
    { [[ -n $out && $(sort -n <<<"$out") == "$out" ]] || fail "games through: '$out'"; }
expect_status "games bad FEN" 2 games "$db" --through "nonsense"
if expect_status "gameset create" 0 gameset "$db" create Svidler player=Svidler; then
    expect_status "gameset list" 0 gameset "$db" list && expect_line "gameset list" "Svidler"
    expect_line "gameset list" "Games from $bad_games"
fi
expect_status "gameset bad key" 2 gameset "$db" create X colour=White
expect_status "gameset refused" 1 gameset "$db" create X rule=Sideways
if expect_status "games of gameset" 0 games "$db" --gameset Svidler; then
    svidler=$(wc -l <<<"$out")
    ((svidler > 0 && svidler < 60)) || fail "games of gameset: $svidler games"
fi
expect_status "export gameset" 0 export "$db" "$scratch/svidler.pgn" --gameset Svidler &&
    { [[ $(grep -c '^\[Event ' "$scratch/svidler.pgn") == "$svidler" ]] || fail "export gameset"; }
expect_status "gameset delete" 0 gameset "$db" delete Svidler
expect_status "gameset delete again" 1 gameset "$db" delete Svidler
expect_status "export" 0 export "$db" "$scratch/all.pgn" &&
    { [[ $(grep -c '^\[Event ' "$scratch/all.pgn") == 60 ]] || fail "export: not 60 games"; }
expect_status "delete" 0 delete "$db" 0 1 2
expect_status "delete missing" 1 delete "$db" 0
expect_status "games after delete" 0 games "$db" &&
    { [[ $(wc -l <<<"$out") == 57 && $(head -n 1 <<<"$out") == 3 ]] || fail "games after delete"; }
expect_status "merge" 0 merge "$db" "$scratch/new.vez"
# Duplicates are combined by default: only the three deleted games come back.
expect_status "games after merge" 0 games "$db" &&
    { [[ $(wc -l <<<"$out") == 60 ]] || fail "games after merge: $(wc -l <<<"$out")"; }
expect_status "create nonstandard" 0 create "$scratch/odd.vez" --nonstandard
expect_status "merge nonstandard" 1 merge "$db" "$scratch/odd.vez" &&
    { [[ $err == "$scratch/odd.vez: incompatibility with nonstandard games" ]] || fail "$err"; }
expect_status "merge missing" 1 merge "$db" "$scratch/none.vez"
expect_status "clean" 0 clean "$bad_games" "$sample" -o "$scratch/clean.pgn" &&
    { [[ $(grep -c '^\[Event ' "$scratch/clean.pgn") == 120 ]] || fail "clean: not 120 games"; }
expect_status "clean onto its input" 1 clean "$sample" "$bad_games" -o "$bad_games" &&
    { [[ $err == "$bad_games: can't read and write simultaneously" ]] || fail "clean onto input"; }
expect_status "split without book" 1 split "$db" "$sample"
book=$scratch/book.pgn
printf '[Event "Book"]\n[Special "ECO opening book"]\n[Result "*"]\n\n%s\n' \
    '1. e4 {ECO[B00]: King pawn} e5 {ECO[C20]} (1... c5 {ECO[B20]}) (1... e6 {ECO[C00]}) *' >"$book"
eco_source=/usr/share/pgn-extract/eco.pgn
if [[ -r $eco_source ]] && expect_status "eco-book" 0 eco-book "$eco_source" -o "$book"; then
    grep -q '^\[Special "ECO opening book"\]' "$book" || fail "eco-book: no Special tag"
fi
expect_status "eco-book missing" 1 eco-book "$scratch/none.pgn" -o "$scratch/b.pgn"
expect_status "import book" 0 import "$scratch/eco.vez" "$book"
cp "$sample" "$scratch/split.pgn"
if expect_status "split" 0 split "$scratch/eco.vez" "$scratch/split.pgn"; then
    files=("$scratch"/split/*.pgn)
    [[ $(cat "${files[@]}" | grep -c '^\[Event ') == 60 ]] || fail "split: not 60 games in all"
    ((${#files[@]} > 4)) || fail "split: only ${#files[@]} ECO files"
fi

# export-positions: flashcards and a user note marked from EPD on positions of a stored game
# (the store's tests follow them through promotions and deletions).
cards=$scratch/cards.vez
after_a6='r1bqkbnr/1ppp1ppp/p1n5/1B2p3/4P3/5N2/PPPP1PPP/RNBQK2R w KQkq -'
after_nc6='r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq -'
after_nf3='rnbqkbnr/pppp1ppp/8/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq -'
printf '[White "A"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 *\n' >"$scratch/ruy.pgn"
printf '%s F;\n%s F;\n%s U; c0 '"'knight out'"';\n' "$after_a6" "$after_nc6" "$after_nf3" \
    >"$scratch/marks.epd"
expect_last "import for cards" 0 \
    "imported 1 games (0 combined with games already stored), 3 positions, skipped 0" \
    import "$cards" "$scratch/ruy.pgn" "$scratch/marks.epd"
expect_status "export user notes" 0 export-positions "$cards" "$scratch/notes.epd" &&
    { [[ $(<"$scratch/notes.epd") == "$after_nf3 U; c0 'knight out';" ]] || fail "user notes"; }
expect_status "export flashcards" 0 export-positions "$cards" "$scratch/cards.epd" --flashcards &&
    { [[ $(<"$scratch/cards.epd") == "$after_a6 F; U;"$'\n'"$after_nc6 F; U;" ]] || fail "cards"; }
expect_status "export positions unwritable" 1 export-positions "$cards" "$scratch/no/cards.epd"

# serve: a client on 127.0.0.1 talks to it; SIGTERM says goodbye and ends it cleanly; the
# options are written back to the settings.
served=$scratch/served.vez
if expect_status "import for serve" 0 import "$served" "$sample"; then
    checks=$((checks + 1))
    "$vezdb" serve "$served" --port 0 --log "$scratch/server.log" >"$scratch/serve.out" 2>&1 &
    server_pid=$!
    port=
    for _ in $(seq 100); do
        port=$(grep -o 'on port [0-9]*' "$scratch/serve.out" | cut -d' ' -f3)
        [[ -n $port ]] && break
        sleep 0.1
    done
    if [[ -z $port ]] || ! exec 3<>"/dev/tcp/127.0.0.1/$port"; then
        fail "serve: no port to connect to ($(cat "$scratch/serve.out"))"
        kill -TERM "$server_pid"
    else
        IFS= read -r -t 5 greeting <&3
        [[ $greeting == "+VEZ 1.5 server $served"$'\r' ]] || fail "serve: greeting '$greeting'"
        printf 'stats\n' >&3
        IFS= read -r -t 5 reply <&3
        [[ $reply == $'+games 60 1-0 26 0-1 12\r' ]] || fail "serve: stats answered '$reply'"
        kill -TERM "$server_pid"
        IFS= read -r -t 5 reply <&3
        [[ $reply == $'-shutting down!\r' ]] || fail "serve: stop said '$reply'"
        exec 3<&-
    fi
    wait "$server_pid" || fail "serve: exit status $? after SIGTERM"
    grep -q ': <stats>' "$scratch/server.log" || fail "serve: stats not logged"
    grep -rqE '^server(%20| )port=0' "$XDG_CONFIG_HOME" || fail "serve: port not written back"
    expect_status "stats after serve" 0 stats "$served"
fi

# Analysis: usage, then a short game through the adapter and Stockfish, White's moves only.
expect_status "analyze without game" 2 analyze "$db"
expect_status "analyze missing game" 1 analyze "$db" --game 9999
expect_status "analyze missing gameset" 1 analyze "$db" --gameset Nobody
printf '[White "A"]\n[Black "B"]\n\n1. e4 e5 2. Nf3 Nc6 3. Bb5 a6 *\n' >"$scratch/mini.pgn"
expect_status "import mini" 0 import "$scratch/mini.vez" "$scratch/mini.pgn"
have_stockfish=false
command -v stockfish >/dev/null || [[ -x /usr/games/stockfish ]] && have_stockfish=true
if $have_stockfish; then
    export VEZ_ENGINE_TIME_SCALE=0.01
    if expect_last "analyze" 0 "analysed 1 game, 3 positions" analyze "$scratch/mini.vez" --game 0 \
        --slider 0 --white; then
        expect_line "analyze" "Analysis of [A - B] by Crafty, 1 minute"
        expect_line "analyze" "game 0: A -- B [?], 6 plies"
    fi
    unset VEZ_ENGINE_TIME_SCALE
    expect_status "export analysed" 0 export "$scratch/mini.vez" "$scratch/mini-out.pgn" && {
        grep -qF '[AnalysisMins "1"]' "$scratch/mini-out.pgn" || fail "analyze: no AnalysisMins"
    }
fi

# Every database built above is sound.
for built in "$db" "$scratch/new.vez" "$scratch/eco.vez" "$cards" "$served" "$scratch/mini.vez"; do
    [[ -f $built ]] || continue
    expect_last "check $(basename "$built")" 0 sound check "$built"
done

# A damaged copy: the reference to game 5's record points past the end of the file. Check
# names the damage; export writes the other games, reports game 5 and fails.
damaged=$scratch/damaged.vez
cp "$scratch/new.vez" "$damaged"
first_block=$(od -An -tu4 -j56 -N4 "$damaged" | tr -d ' ')
printf '\xf0\xff\xff\x7f' | dd of="$damaged" bs=1 seek=$((first_block + 8 + 5 * 4)) conv=notrunc \
    status=none
expect_status "check damaged" 1 check "$damaged" &&
    { [[ $out == *"offset "*": expected "* ]] || fail "check damaged: no problem listed: $out"; }
expect_status "export damaged" 1 export "$damaged" "$scratch/damaged.pgn" &&
    { [[ $err == "game 5: damaged: "* && $(grep -c '^\[Event ' "$scratch/damaged.pgn") == 59 ]] ||
        fail "export damaged: not the 59 readable games and game 5 reported: '$err'"; }
expect_status "stats damaged" 0 stats "$damaged"
expect_status "games damaged" 0 games "$damaged"

# Every command of the README's sh blocks, in order, as a user would type it: what the README
# shows must work.
readme=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/README.md
examples=$scratch/examples
mkdir -p "$examples/bin"
ln -s "$(realpath "$vezdb")" "$examples/bin/vezdb"
cp "$sample" "$examples/games.pgn"
ran=0
while IFS= read -r command; do
    missing=
    [[ ($command == *book.pgn* || $command == *classified*) && ! -r $eco_source ]] &&
        missing="pgn-extract's ECO file"
    [[ $command == *analyze* ]] && ! $have_stockfish && missing=Stockfish
    if [[ -n $missing ]]; then
        echo "README example skipped (needs $missing): $command"
        continue
    fi
    checks=$((checks + 1))
    ran=$((ran + 1))
    if ! output=$(cd "$examples" && PATH=$examples/bin:$PATH bash -c "$command" 2>&1 </dev/null); then
        fail "README example failed: $command"$'\n'"$output"
    fi
done < <(awk '/^```sh$/ { inside = 1; next } /^```/ { inside = 0 } inside' "$readme")
((ran >= 15)) || fail "README examples: only $ran found"

if ((failures > 0)); then
    echo "vezdb_test: $failures failed checks in $checks commands"
    exit 1
fi
echo "vezdb_test: all $checks commands behaved as expected"
