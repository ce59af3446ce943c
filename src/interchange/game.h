// The in-memory game: header, tags, start position, initial comment and the tree of lines
// (main line, variations and their sub-variations), each move with its glyph, score and
// comment. The PGN reader fills it, the store reads and fills it, the view edits it, the
// engine analysis extends it and the PGN writer prints it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "chess/position.h"

namespace vez {

// The results table: a game's result is an index into it; 0 also stands for "not given".
inline constexpr std::array<std::string_view, 4> kResultTexts = {"*", "1-0", "0-1", "1/2-1/2"};

// The text of a result index; "*" for an index outside the table.
std::string_view resultText(int result);

struct GameLine;

// One move of a line. Glyph: 0 none, 1-6 the MoveGlyph values, any other positive value a
// numeric annotation glyph. Comment lines are separated by "\r\n".
struct MoveEntry {
    Move move = Move::None;
    std::int32_t glyph = 0;
    std::int32_t score = kNoScore;
    std::string comment;
    // Alternatives to this move, all starting at its ply, first alternative first.
    std::vector<std::unique_ptr<GameLine>> subLines;
};

// One line of play. Ply 0 is the first move from the game's start position, whichever side
// moves there. A line owns its entries and, through them, its sub-lines; `parent` points
// back at the line a sub-line branches from (none for the main line).
struct GameLine {
    GameLine() = default;
    GameLine(const GameLine&) = delete;
    GameLine& operator=(const GameLine&) = delete;
    ~GameLine() = default;

    bool mainLine = false;
    std::int32_t endPly = 0;   // startPly + number of entries
    std::int32_t startPly = 0; // ply of the first entry
    GameLine* parent = nullptr;
    std::vector<MoveEntry> entries;
    // Sub-lines that continue after the last entry (alternatives to a move not yet in the
    // line); they start at endPly as it was when they were made.
    std::vector<std::unique_ptr<GameLine>> subLinesAfterEnd;

    // Appends a move at endPly.
    MoveEntry& append(Move move, std::int32_t glyph = 0, std::int32_t score = kNoScore);
    // The entry played at the ply, or none outside [startPly, endPly).
    MoveEntry* entryAt(int ply);
    const MoveEntry* entryAt(int ply) const;

protected:
    GameLine(GameLine&&) = default;
    GameLine& operator=(GameLine&&) = default;
};

struct TagPair {
    std::string name;
    std::string value;
};

struct MoveWithGlyph {
    Move move = Move::None;
    std::int32_t glyph = 0;
};

// Where a new sub-line goes in its list: the general rule puts it first (the newest
// alternative is shown first); the PGN reader and merging keep the order of their source.
enum class SubLinePlace { First, Last };

// A game is its main line with the header. It is cleared and reused rather than rebuilt;
// moving it keeps its sub-lines pointing at the moved main line.
struct Game : GameLine {
    Game();
    Game(Game&& other) noexcept;
    Game& operator=(Game&& other) noexcept;

    std::int32_t result = 0; // index into kResultTexts
    std::string white, black, event, site, eco;
    std::int32_t year = 0, month = 0, day = 0; // 0 = not given
    std::int32_t round = 0;                    // 0 = not given
    std::vector<TagPair> tags;                 // every other tag, in the order read
    Position startPosition;                    // the position before ply 0
    std::string initialComment;                // the comment before the first move

    // No moves, standard start, result 0, empty texts and tags, date and round 0.
    void clear();
    // Exchanges the two games, storage and all (cheaper than three moves, each of which
    // clears what it leaves).
    void swap(Game& other) noexcept;

    // The position before the line's first entry.
    Position lineStartPosition(const GameLine& line) const;
    // The position before the move at `ply` of the line (after all its entries when the ply
    // lies beyond them); a ply before the line's start is answered by its parent.
    Position positionAtPly(const GameLine& line, int ply) const;

    // The line that plays `move` at `ply`, looking at the line and its alternatives there;
    // a sub-line that starts at the ply hands the question to its parent. None if no line
    // plays it.
    GameLine* findLine(GameLine& line, int ply, Move move);

    // A new, empty sub-line branching from `line` at `ply`: while the chosen parent is a
    // sub-line starting at that ply its own parent is taken; then the line becomes an
    // alternative to the parent's move at the ply, or, when the parent has no move there,
    // one of its sub-lines after the end.
    GameLine& createSubLine(GameLine& line, int ply, SubLinePlace place = SubLinePlace::First);

    // Follows the moves from `line` at `ply` through existing lines; the first move not
    // found starts a new sub-line holding it (with its glyph, `score` and `comment`, the
    // comment only when no move was found before it) and the remaining moves with their
    // glyphs. False when every move was already there.
    bool addLine(GameLine& line, int ply, std::span<const MoveWithGlyph> moves, std::int32_t score,
                 std::string_view comment);

    // Tags by name: the seven-tag roster and ECO map to the header fields, any other name to
    // the tag list.
    bool hasTag(std::string_view name) const;
    std::string getTag(std::string_view name) const;
    void setTag(std::string_view name, std::string_view value);
    // True for the names kept in header fields rather than in the tag list.
    static bool isHeaderTag(std::string_view name);

    // "White -- Black [1998] B12", with "?" for unknown players and year.
    std::string title() const;

    // A game that only carries a comment (no moves, header or tags except "Source"); the
    // comment goes to `comment` when given.
    bool isCommentOnly(std::string* comment = nullptr) const;

private:
    void adoptSubLines();
};

// Completes `game` from another copy of the same game: header fields, date, ECO and tags
// that are missing are taken from `other`; entries are paired in order, missing glyphs and
// comments are taken, `other`'s real scores replace ours, its surplus entries are appended,
// and sub-lines are matched by their first move and merged alike (missing ones are added).
// True when anything conflicted (both set and different, or a different number of tags or
// sub-lines in the end).
bool mergeGame(Game& game, const Game& other);

} // namespace vez
