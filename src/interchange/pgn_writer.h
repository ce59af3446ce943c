// The PGN writer: an in-memory game as PGN text, into a file or into a text (for the
// clipboard or a server client).
//
// Output: the seven-tag roster in our own order (Event, Round, Site, Date, White, Black,
// Result) with "?" for missing values, ECO when known, SetUp and FEN only for a set-up start,
// then the other tags in their order; the movetext in SAN with move numbers, glyphs,
// numeric annotation glyphs, variations and comments, wrapped at 79 columns. Lines end in
// CR LF.
//
// What PGN cannot say directly is escaped so that our reader gets back exactly what was
// written and other readers still read the file:
//  - tag values: a double quote or a backslash gets a backslash before it (PGN strings), as
//    does a "%" that begins a line of a value running over several lines;
//  - comments: PGN has no escape inside braces, so a "}" in a comment is written as the
//    four characters \x7d, a "%" that begins a line of the comment (which readers would
//    skip as an escape line) as \x25, and a backslash that would otherwise start one of
//    \x7d, \x25 or \x5c as \x5c. Other readers see those characters inside an ordinary
//    comment; our reader turns them back (see decodeComment). Tag lines and comments are
//    never broken or trimmed by the line wrapping, so their text survives unchanged;
//  - FEN: the en-passant field is written as a square ("e3"), as PGN readers expect.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "chess/position.h"
#include "interchange/game.h"

namespace vez {

class PgnSink {
public:
    // A sink that gathers its output as text (lines ending in "\r\n").
    PgnSink() = default;
    // A sink that writes each finished line to the stream (line feeds become "\r\n").
    explicit PgnSink(std::ostream& file) : m_file(&file) {}

    static constexpr std::size_t kLineWidth = 79;

    // Adds a piece of movetext. A piece that would make the gathered line longer than 79
    // characters first ends the line; a piece at the start of a line loses its leading
    // blanks; a piece holding a line feed ends the line after it.
    void append(std::string_view piece);
    // Drops carriage returns and appends the text in pieces, with a backslash before every
    // occurrence of `escaped`.
    void appendEscaped(std::string_view text, char escaped);
    // Adds text as it is: no line is ended before it and no blank is dropped (tag lines,
    // comment texts, lines copied from a source). A line feed in it still ends the line.
    void appendUnwrapped(std::string_view text);
    // Hands the gathered line to the file or the output text.
    void flush();

    const std::string& text() const { return m_output; }
    std::string takeText() { return std::move(m_output); }

private:
    void emit(std::string_view text);

    std::ostream* m_file = nullptr;
    std::string m_line;
    std::string m_output;
};

// A tag value with backslashes before double quotes, backslashes and a "%" at the start of a
// line, carriage returns dropped.
std::string escapeTagValue(std::string_view value);
// A comment text as written between braces (see the top of this file), carriage returns
// dropped; decodeComment undoes it.
std::string encodeComment(std::string_view comment);
std::string decodeComment(std::string_view text);

// The whole game, ending with a flush.
void writeGame(const Game& game, PgnSink& sink, bool nonstandard);
// The movetext of one line from the position at its start and, recursively, its sub-lines.
// Sub-lines after a line's last entry are not written.
void writeLine(const GameLine& line, PgnSink& sink, const Position& start, bool nonstandard);
void writeGameToFile(const Game& game, std::ostream& file, bool nonstandard);
// The game as text, lines ending in "\r\n".
std::string writeGameToText(const Game& game, bool nonstandard);

} // namespace vez
