// What each pane of the view shows, as plain values. The view's logic builds them from the
// current game and the database (app/pane_builders.h); the widgets only paint them and
// report the user's intents back, so everything here can be checked without a display.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chess/position.h"
#include "chess/types.h"

namespace vez {

// --- Status text ------------------------------------------------------------------------

// The two lines drawn at the top of the view: the position's statistics and the game's
// description.
struct StatusLines {
    std::string first;  // "12 games (5/4) +0.35 B12 (Setup Mode)"
    std::string second; // "Kasparov -- Karpov [1985] B44 (modified) (Variation: ...)"
};

// --- Known-moves list -------------------------------------------------------------------

enum class KnownMoveColumn : int { Move = 0, Games, WhiteWins, BlackWins, Score, Notes };
inline constexpr int kKnownMoveColumns = 6;

// One row: the six column texts and what a click on it plays.
struct KnownMoveRow {
    std::string move;      // "e4!", or "(e4 ..." for a variation of the current game
    std::string games;     // "%d"
    std::string whiteWins; // "%d", or "%d%" from 100 games on
    std::string blackWins;
    std::string score; // "%+.2f" in pawns, empty without a score
    std::string note;  // the first line of at most 100 characters
    Move playMove = Move::None;
    MoveGlyph glyph = MoveGlyph::None;
    bool variation = false;

    const std::string& column(KnownMoveColumn c) const;
};

// --- Board ------------------------------------------------------------------------------

// The five kinds of lines the main board draws, each with its own colour and profile flag
// ("Chessbd arrow %d" with the kind's number).
enum class ArrowKind : int {
    Legal = 0,     // every legal move (hidden by default)
    Known = 1,     // moves the database knows from the position
    Prior = 2,     // moves the database knows into the position, and the move just played
    Next = 3,      // the next move of the current line
    Variation = 4, // first moves of the lines branching here
};
inline constexpr int kArrowKinds = 5;

// A line from the centre of the move's from-square to the centre of its to-square, both
// ends shifted right and down by offset pixels.
struct BoardArrow {
    Move move = Move::None;
    ArrowKind kind = ArrowKind::Known;
    int offset = 0;

    int from() const { return fromSquare(move); }
    int to() const { return toSquare(move); }
};

struct BoardState {
    // The shown position. In set-up mode the board keeps the position being composed and
    // takes neither this nor arrows until set-up ends.
    Position position;
    std::vector<BoardArrow> arrows; // in drawing order
    bool setupMode = false;
    bool nonstandard = false; // drops are not checked; a pawn may promote to a king
    bool descriptive = false; // move texts of the context menu
    int sideToMove() const { return position.sideToMove; }
};

// --- Scoresheet -------------------------------------------------------------------------

struct ScoresheetMove {
    Move move = Move::None;
    MoveGlyph glyph = MoveGlyph::None;
    std::string text; // SAN (or descriptive) with the glyph, as the sheet writes it
};

// The moves of the current line from the start position to the line's end.
struct ScoresheetData {
    Position startPosition;
    std::vector<ScoresheetMove> moves;
    int currentPly = 0;      // 0 before the first move .. moves.size() after the last
    bool blackFirst = false; // "1..." and the first move in Black's column
    int result = 0;          // index into kResultTexts; shown only on the main line
    bool showResult = true;  // false inside a variation: the result belongs to the main line
    bool setupMode = false;  // the sheet shows the set-up display
    bool nonstandard = false;
    bool descriptive = false;
};

// --- Move tree --------------------------------------------------------------------------

// One item: "12... Nf6 (340, 41%/22%, +0.35) note". `path` holds the moves from the
// tree's root position to and including this item's move.
struct MoveTreeItem {
    Move move = Move::None;
    std::string text;
    std::vector<Move> path;
    std::vector<MoveTreeItem> children;
    bool expanded = false;
};

struct MoveTreeData {
    Position rootPosition;
    std::vector<MoveTreeItem> items; // the root level
    std::vector<Move> selectedPath;  // the current game's moves to the current ply
};

// --- Game list --------------------------------------------------------------------------

enum class GameListColumn : int { Number = 0, White, Black, Result, Eco, Date, Site, Event, Round };
inline constexpr int kGameListColumns = 9;

struct GameListRow {
    int gameNumber = -1;
    std::vector<std::string> columns; // kGameListColumns texts
};

} // namespace vez
