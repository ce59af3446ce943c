// Move text: SAN, English descriptive and coordinate notation, and glyphs.
//
// The formatters look a move up in the caller's legal list and qualify it only as far as
// the other listed moves make it necessary. The parsers (notation_parse.cpp) read the
// variants found in real files.
#include "chess/notation.h"

#include <algorithm>
#include <cstdio>

#include "chess/movegen.h"
#include "chess/notation_rules.h"

namespace vez {

namespace {

using namespace notation;

// Appends to a MoveText, always keeping it NUL-terminated and never writing past it.
class TextWriter {
public:
    explicit TextWriter(MoveText& out, std::size_t start = 0) : m_out(out), m_length(start)
    {
        m_out[m_length] = '\0';
    }
    void put(char c)
    {
        if (m_length + 1 < m_out.size()) {
            m_out[m_length++] = c;
            m_out[m_length] = '\0';
        }
    }
    void put(const char* text)
    {
        while (*text != '\0')
            put(*text++);
    }
    void putSquare(int square)
    {
        put(static_cast<char>('a' + fileOf(square)));
        put(static_cast<char>('1' + rankOf(square)));
    }

private:
    MoveText& m_out;
    std::size_t m_length;
};

std::size_t textLength(const MoveText& text)
{
    std::size_t length = 0;
    while (length < text.size() && text[length] != '\0')
        ++length;
    return std::min(length, text.size() - 1);
}

// What the legal list says about a move: whether it is there, and which other listed
// moves a text must tell it apart from.
struct ListSurvey {
    bool found = false;
    // Rivals: moves of a piece of the same type to the same square from elsewhere.
    bool rival = false;
    bool rivalSameFile = false;
    bool rivalSameRank = false;
    bool rivalSameGroup = false;
    // Target rivals: moves of a piece of the same type to another square that holds the
    // same type as the move's own to-square (for a non-capture: another empty square on
    // the same rank).
    bool targetRival = false;
    bool targetSameFile = false;
    bool targetSameGroup = false;
};

bool isTargetRival(const Position& pos, int to, int otherTo)
{
    if (otherTo == to)
        return false;
    const std::uint8_t target = pos.squares[to];
    const std::uint8_t other = pos.squares[otherTo];
    if (target == kEmpty)
        return other == kEmpty && rankOf(otherTo) == rankOf(to);
    return other != kEmpty && typeOf(other) == typeOf(target);
}

ListSurvey surveyList(const Position& pos, Move move, const MoveList& list, int count)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const PieceType type = typeOf(pos.squares[from]);
    ListSurvey survey;
    count = std::clamp(count, 0, kMaxMoves);
    for (int i = 0; i < count; ++i) {
        const int otherFrom = fromSquare(list[i]);
        const int otherTo = toSquare(list[i]);
        if (otherFrom == from && otherTo == to)
            survey.found = true;
        if (typeOf(pos.squares[otherFrom]) != type)
            continue;
        if (otherTo == to && otherFrom != from) {
            survey.rival = true;
            survey.rivalSameFile |= fileOf(otherFrom) == fileOf(from);
            survey.rivalSameRank |= rankOf(otherFrom) == rankOf(from);
            survey.rivalSameGroup |= kFileGroup[fileOf(otherFrom)] == kFileGroup[fileOf(from)];
        } else if (isTargetRival(pos, to, otherTo)) {
            survey.targetRival = true;
            survey.targetSameFile |= fileOf(otherTo) == fileOf(to);
            survey.targetSameGroup |= kFileGroup[fileOf(otherTo)] == kFileGroup[fileOf(to)];
        }
    }
    return survey;
}

bool isCastling(PieceType type, int from, int to)
{
    return type == PieceType::King && (to == from + 2 || to == from - 2);
}

int checkPieceToMove(const Position& pos, Move move)
{
    const std::uint8_t piece = pos.squares[fromSquare(move)];
    if (piece == kEmpty || colourOf(piece) != pos.sideToMove)
        return kNoPieceToMove;
    return 0;
}

void writeSanPawnMove(TextWriter& out, Move move)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    if (fileOf(from) != fileOf(to)) {
        out.put(static_cast<char>('a' + fileOf(from)));
        out.put('x');
    }
    out.putSquare(to);
    if (pieceTypeOf(move) != PieceType::Pawn) {
        out.put('=');
        out.put(pieceLetter(pieceTypeOf(move)));
    }
}

void writeSanPieceMove(TextWriter& out, const Position& pos, Move move, const ListSurvey& survey)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    out.put(pieceLetter(typeOf(pos.squares[from])));
    if (survey.rival) {
        if (!survey.rivalSameFile) {
            out.put(static_cast<char>('a' + fileOf(from)));
        } else if (!survey.rivalSameRank) {
            out.put(static_cast<char>('1' + rankOf(from)));
        } else {
            out.putSquare(from);
        }
    }
    if (pos.squares[to] != kEmpty)
        out.put('x');
    out.putSquare(to);
}

// A file in full where a rival in its group needs telling apart (QB), else by group (B).
const char* descriptiveFile(int file, bool rivalInGroup)
{
    return rivalInGroup ? kDescriptiveFileName[file] : kFileGroupName[file];
}

void putDescriptiveSquare(TextWriter& out, int square, int side)
{
    out.put(kDescriptiveFileName[fileOf(square)]);
    out.put(static_cast<char>('1' + relativeRank(rankOf(square), side)));
}

// The moving piece: its letter, qualified when another piece of its type could go to the
// same square (R/QR1, N/KB3, QBP, BP).
void writeDescriptiveOrigin(TextWriter& out, const Position& pos, int from,
                            const ListSurvey& survey)
{
    const PieceType type = typeOf(pos.squares[from]);
    if (!survey.rival) {
        out.put(pieceLetter(type));
    } else if (survey.rivalSameFile || type != PieceType::Pawn) {
        out.put(pieceLetter(type));
        out.put('/');
        putDescriptiveSquare(out, from, pos.sideToMove);
    } else {
        out.put(descriptiveFile(fileOf(from), survey.rivalSameGroup));
        out.put('P');
    }
}

// "x" and the captured piece, qualified when a piece of the mover's type could also take a
// piece of the same type elsewhere (xP, xN/KB3, xKBP, xBP).
void writeDescriptiveCapture(TextWriter& out, const Position& pos, int to, const ListSurvey& survey)
{
    const PieceType captured = typeOf(pos.squares[to]);
    out.put('x');
    if (!survey.targetRival) {
        out.put(pieceLetter(captured));
    } else if (survey.targetSameFile || captured != PieceType::Pawn) {
        out.put(pieceLetter(captured));
        out.put('/');
        putDescriptiveSquare(out, to, pos.sideToMove);
    } else {
        out.put(descriptiveFile(fileOf(to), survey.targetSameGroup));
        out.put('P');
    }
}

// "-" and the destination, the file named in full only where the group letter would also
// fit another square on that rank (-K4, -B4, -QB4).
void writeDescriptiveAdvance(TextWriter& out, const Position& pos, int to, const ListSurvey& survey)
{
    out.put('-');
    out.put(descriptiveFile(fileOf(to), survey.targetSameGroup));
    out.put(static_cast<char>('1' + relativeRank(rankOf(to), pos.sideToMove)));
}

void writeCoordinates(char (&text)[8], Move move)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    std::snprintf(text, sizeof text, "%c%c-%c%c", 'a' + fileOf(from), '1' + rankOf(from),
                  'a' + fileOf(to), '1' + rankOf(to));
}

int formatWith(bool descriptive, const Position& pos, MoveText& out, Move move,
               const MoveList& list, int count, MoveGlyph glyph)
{
    return descriptive ? formatDescriptive(pos, out, move, list, count, glyph)
                       : formatSan(pos, out, move, list, count, glyph);
}

bool sideToMoveInCheck(const Position& pos)
{
    const int king = findKing(pos);
    return king != kNoSquare && isAttacked(pos, king);
}

} // namespace

const char* glyphText(MoveGlyph glyph)
{
    switch (glyph) {
    case MoveGlyph::Good: return "!";
    case MoveGlyph::Mistake: return "?";
    case MoveGlyph::Brilliant: return "!!";
    case MoveGlyph::Blunder: return "??";
    case MoveGlyph::Interesting: return "!?";
    case MoveGlyph::Dubious: return "?!";
    default: return "";
    }
}

int formatSan(const Position& pos, MoveText& out, Move move, const MoveList& list, int count,
              MoveGlyph glyph)
{
    TextWriter writer(out);
    if (int result = checkPieceToMove(pos, move); result != 0)
        return result;
    const ListSurvey survey = surveyList(pos, move, list, count);
    if (!survey.found)
        return kNotInList;
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const PieceType type = typeOf(pos.squares[from]);
    if (type == PieceType::Pawn)
        writeSanPawnMove(writer, move);
    else if (isCastling(type, from, to))
        writer.put(to > from ? "O-O" : "O-O-O");
    else
        writeSanPieceMove(writer, pos, move, survey);
    writer.put(glyphText(glyph));
    return 0;
}

int formatDescriptive(const Position& pos, MoveText& out, Move move, const MoveList& list,
                      int count, MoveGlyph glyph)
{
    TextWriter writer(out);
    if (int result = checkPieceToMove(pos, move); result != 0)
        return result;
    const ListSurvey survey = surveyList(pos, move, list, count);
    if (!survey.found)
        return kNotInList;
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const PieceType type = typeOf(pos.squares[from]);
    if (isCastling(type, from, to)) {
        writer.put(to > from ? "O-O" : "O-O-O");
    } else {
        writeDescriptiveOrigin(writer, pos, from, survey);
        if (pos.squares[to] != kEmpty)
            writeDescriptiveCapture(writer, pos, to, survey);
        else
            writeDescriptiveAdvance(writer, pos, to, survey);
    }
    if (type == PieceType::Pawn && pieceTypeOf(move) != PieceType::Pawn) {
        writer.put('=');
        writer.put(pieceLetter(pieceTypeOf(move)));
    }
    writer.put(glyphText(glyph));
    return 0;
}

std::string formatMove(const Position& pos, Move move, bool nonstandard, MoveGlyph glyph,
                       bool descriptive)
{
    MoveList list;
    const int count = legalMoves(pos, list, nonstandard);
    MoveText text;
    if (descriptive && formatDescriptive(pos, text, move, list, count, glyph) == 0)
        return text.data();
    if (formatSan(pos, text, move, list, count, glyph) == 0)
        return text.data();
    char coordinates[8];
    writeCoordinates(coordinates, move);
    return coordinates;
}

int formatMoveAndPlay(Position& pos, MoveText& out, Move move, MoveList& list, int count,
                      bool nonstandard, MoveGlyph glyph, bool descriptive)
{
    const int result = formatWith(descriptive, pos, out, move, list, count, MoveGlyph::None);
    if (result != 0)
        return result;
    makeMove(pos, move);
    const int newCount = legalMoves(pos, list, nonstandard);
    TextWriter writer(out, textLength(out));
    if (!nonstandard && sideToMoveInCheck(pos))
        writer.put(newCount > 0 ? '+' : '#');
    writer.put(glyphText(glyph));
    return newCount;
}

void listMoveTexts(const Position& pos, std::vector<std::string>& out, bool nonstandard,
                   bool descriptive)
{
    out.clear();
    MoveList list;
    const int count = legalMoves(pos, list, nonstandard);
    out.reserve(static_cast<std::size_t>(count));
    MoveText text;
    for (int i = 0; i < count; ++i) {
        if (formatWith(descriptive, pos, text, list[i], list, count, MoveGlyph::None) == 0) {
            out.emplace_back(text.data());
        } else {
            char coordinates[8];
            writeCoordinates(coordinates, list[i]);
            out.emplace_back(coordinates);
        }
    }
}

} // namespace vez
