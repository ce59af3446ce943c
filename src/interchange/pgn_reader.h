// The PGN reader: PGN text, game by game, into the in-memory game.
//
// Strict where it matters for the database: moves must parse and, in a standard database,
// be legal; move numbers must agree with the game from the standard start. Lenient about
// layout: text between games, "%" escape lines, unescaped quotes inside tag values, "?"
// values, lower-case or zero castling and the other move spellings the move parser takes.
// The first error is thrown as PGNGameException; the import then reports it with the
// source's line number and line text, and recovers with rewindToMark and skipGame.
#pragma once

#include <cstddef>
#include <exception>
#include <string>
#include <string_view>

#include "chess/position.h"
#include "interchange/game.h"
#include "interchange/move_check.h"
#include "interchange/opening_tree.h"
#include "interchange/pgn_source.h"

namespace vez {

class PGNGameException : public std::exception {
public:
    enum Code : int {
        NoError = 0,
        NotPgn = 1,
        DuplicateTag = 2,
        MissingResultTag = 3,
        MissingTag = 4,
        MissingValue = 5,
        UnexpectedEnd = 6,
        MissingBracket = 7,
        BadResult = 8,
        BadMoveNumber = 9,
        WrongMoveNumber = 10,
        BadMove = 11,
        IllegalMove = 12,
        BadAnnotation = 13,
        BadFen = 14,
        NoMoveBeforeVariation = 15,
    };

    explicit PGNGameException(int code, std::string argument = {});

    int code() const { return m_code; }
    const std::string& argument() const { return m_argument; }
    // The table entry for the code with the argument in place of its "%s".
    const std::string& message() const { return m_message; }
    const char* what() const noexcept override { return m_message.c_str(); }
    // The message into a caller's buffer, truncated to fit and NUL-terminated; the help
    // context is 0.
    bool getErrorMessage(char* buffer, std::size_t size, unsigned* helpContext = nullptr) const;

    // The message table entry of a code ("" outside the table).
    static std::string_view messageFormat(int code);

private:
    int m_code;
    std::string m_argument;
    std::string m_message;
};

// What reading made of a move's text in a main line from the standard start: the move, its
// glyph, and the position and legality it leads to.
struct OpeningMove {
    Move move = Move::None;
    std::int32_t glyph = 0;
    Position after;
    LineLegality legality;
};
// The opening moves of the games read so far, by their texts: a run of games that open
// alike has each shared move parsed and checked once. One reader's own, as it is not
// shared between threads.
using OpeningMoves = OpeningTree<OpeningMove>;

// Reads the next game from the source into `game`, which the caller has cleared. False at
// the end of the input. In a standard database (allowIllegal false) every move must be legal;
// with allowIllegal (a nonstandard database) any move the notation parser takes is played.
// After a game the source is consumed up to the end of the line holding its result.
// openings, when given, keeps the opening moves of the games read for those that follow.
bool readPgnGame(Game& game, PgnSource& source, bool allowIllegal,
                 OpeningMoves* openings = nullptr);

// The movetext of one line, up to the terminator text ("1-0", "*", ... for the main line,
// ")" for a variation), from the position at the line's start. Sub-lines are read
// recursively. checkMoveNumbers: move numbers must match the plies of the line (a line
// from the standard start).
void parseMovetext(Game& game, GameLine& line, PgnSource& source, std::string_view terminator,
                   const Position& start, bool allowIllegal, bool checkMoveNumbers,
                   OpeningMoves* openings = nullptr);

// Clears the game, opens a source on the text and reads one game.
bool readPgnText(Game& game, std::string text, bool allowIllegal);

} // namespace vez
