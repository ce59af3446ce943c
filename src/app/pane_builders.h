// Pure builders of what each pane shows (app/pane_data.h), from the current game, the line
// and ply reached in it, and the database's statistics of the positions on the way. Notes
// and comments are single-byte texts in the database; what the panes get is UTF-8 (a text
// that is not valid UTF-8 is taken as Latin-1), cut on character boundaries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/pane_data.h"
#include "interchange/game.h"
#include "store/graph.h"

namespace vez {

class CVezDoc;

// --- Text helpers -------------------------------------------------------------------------

// The text as UTF-8: valid UTF-8 as it is, anything else read as Latin-1.
std::string displayText(std::string_view text);
// The first line of a UTF-8 text (up to its first "\r" or "\n").
std::string firstLine(std::string_view text);
// At most `count` characters of a UTF-8 text, never splitting one.
std::string cutCharacters(std::string_view text, std::size_t count);
// "%+.2f" of the score in pawns; empty for kNoScore.
std::string scoreText(std::int32_t score);
// " (5/4)" up to `limit` games, " (41%/22%)" above it (whole percentages, rounded down).
std::string winsText(const PositionCounts& counts, std::uint32_t limit);

// --- Status lines -------------------------------------------------------------------------

struct StatusFacts {
    PositionCounts counts;
    std::int32_t score = kNoScore; // the entry just played, else the position's
    std::string eco;
    bool setupMode = false;
    bool storedGame = false; // the game was read from the database
    bool modified = false;
};
StatusLines buildStatusLines(const StatusFacts& facts, const Game& game, const GameLine& line);

// --- Lines of the game --------------------------------------------------------------------

// The entries the line plays from the game's start, 0 .. line.endPly - 1, those below its
// start ply taken from its ancestors.
std::vector<const MoveEntry*> lineEntries(const GameLine& line);

// The moves the game plays at a ply of a line: the line's own next move (none at its end)
// and the first moves of the other lines that branch there, in list order. At the end of
// the line these are its own sub-lines after the end.
struct PlyMoves {
    const MoveEntry* next = nullptr;
    std::vector<const MoveEntry*> branches;
};
PlyMoves movesAtPly(const GameLine& line, int ply);

// --- Known-moves list ---------------------------------------------------------------------

// One row for a move from `position` (the successor's counts, score and note from the
// database when the row brings none).
KnownMoveRow buildKnownMoveRow(const CVezDoc& doc, const Position& position, Move move,
                               bool variation, MoveGlyph glyph, std::int32_t score,
                               const std::string& note);
// The rows for the shown position: the line's next move, the first moves of the lines that
// branch at the ply (after the line's end, its own sub-lines after the end), then the
// database's other moves in the graph's order.
std::vector<KnownMoveRow> buildKnownMoveRows(const CVezDoc& doc, const Game& game,
                                             const GameLine& line, int ply);

// --- Board --------------------------------------------------------------------------------

std::vector<BoardArrow> buildBoardArrows(const CVezDoc& doc, const Game& game, const GameLine& line,
                                         int ply);

// --- Scoresheet ---------------------------------------------------------------------------

ScoresheetData buildScoresheet(const CVezDoc& doc, const Game& game, const GameLine& line, int ply,
                               bool setupMode);

// --- Move tree ----------------------------------------------------------------------------

// "12... Nf6 (340, 41%/22%, +0.35) note" for the move from `before`, played at `ply`.
std::string moveTreeItemText(const CVezDoc& doc, const Position& before, int ply, Move move);
// The tree for the game's moves to the ply: each level on the way lists the database's
// moves (and the game's move when the database lacks it), the current position's two
// levels below.
MoveTreeData buildMoveTree(const CVezDoc& doc, const Game& game, const GameLine& line, int ply);
// The items below a path from the root position, two levels deep (an item expanded).
std::vector<MoveTreeItem> buildMoveTreeChildren(const CVezDoc& doc, const Position& root,
                                                const std::vector<Move>& path);

// --- Game list ----------------------------------------------------------------------------

GameListRow buildGameListRow(int gameNumber, const Game& header);
// The rows of the listed games in the given order; numbers without a game are left out.
std::vector<GameListRow> buildGameListRows(const CVezDoc& doc, const std::vector<int>& numbers);

} // namespace vez
