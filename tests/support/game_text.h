// A game's lines as one text, so that a test compares a whole tree in one expectation: each
// move in SAN (no check signs) with its glyph ($n), score ([n]) and comment ({...}), its
// alternatives in parentheses after it, and the lines after a line's end as |(...).
#pragma once

#include <string>

#include "chess/notation.h"
#include "interchange/game.h"

namespace vez::test {

inline std::string lineText(const Game& game, const GameLine& line, bool nonstandard = false)
{
    std::string out;
    const auto add = [&out](const std::string& word) { out += (out.empty() ? "" : " ") + word; };
    Position pos = game.lineStartPosition(line);
    for (const MoveEntry& entry : line.entries) {
        add(formatMove(pos, entry.move, nonstandard, MoveGlyph::None, false));
        if (entry.glyph != 0)
            out += "$" + std::to_string(entry.glyph);
        if (entry.score != kNoScore)
            out += "[" + std::to_string(entry.score) + "]";
        if (!entry.comment.empty())
            add("{" + entry.comment + "}");
        for (const auto& sub : entry.subLines)
            add("(" + lineText(game, *sub, nonstandard) + ")");
        makeMove(pos, entry.move);
    }
    for (const auto& sub : line.subLinesAfterEnd)
        add("|(" + lineText(game, *sub, nonstandard) + ")");
    return out;
}

inline std::string movetextOf(const Game& game, bool nonstandard = false)
{
    const std::string moves = lineText(game, game, nonstandard);
    return game.initialComment.empty() ? moves : "{" + game.initialComment + "} " + moves;
}

} // namespace vez::test
