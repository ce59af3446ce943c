#include "interchange/pgn_writer.h"

#include <cstdio>
#include <cstring>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "interchange/move_check.h"
#include "store/codes.h"

namespace vez {

namespace {

constexpr std::string_view kStandardStartFen =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0";
constexpr std::string_view kCommentBrace = "\\x7d";
constexpr std::string_view kCommentBackslash = "\\x5c";
constexpr std::string_view kCommentPercent = "\\x25";

std::string_view valueOrUnknown(const std::string& value)
{
    return value.empty() ? std::string_view("?") : std::string_view(value);
}

void writeTag(PgnSink& sink, std::string_view name, std::string_view value, bool escape)
{
    std::string line = "[";
    line += name;
    line += " \"";
    line += escape ? escapeTagValue(value) : std::string(value);
    line += "\"]\n";
    sink.appendUnwrapped(line);
}

// FEN of the start position as PGN readers expect it: the en-passant field as a square.
std::string startFen(const Position& pos)
{
    std::string fen = writeFen(pos, 0, 0);
    if (pos.enPassant == 1) {
        // Fields: board, side, castling, en-passant file, clock, number.
        std::size_t field = fen.find(' ');
        for (int i = 0; i < 2 && field != std::string::npos; ++i)
            field = fen.find(' ', field + 1);
        if (field != std::string::npos)
            fen.insert(field + 2, 1, pos.sideToMove == kWhite ? '6' : '3');
    }
    return fen;
}

void writeHeader(const Game& game, PgnSink& sink)
{
    writeTag(sink, "Event", valueOrUnknown(game.event), true);
    writeTag(sink, "Round", game.round == 0 ? "?" : std::to_string(game.round), false);
    writeTag(sink, "Site", valueOrUnknown(game.site), true);
    writeTag(sink, "Date",
             game.year == 0 ? "????.??.??" : formatDate(game.year, game.month, game.day), false);
    writeTag(sink, "White", valueOrUnknown(game.white), true);
    writeTag(sink, "Black", valueOrUnknown(game.black), true);
    writeTag(sink, "Result", resultText(game.result), false);
    if (!game.eco.empty())
        writeTag(sink, "ECO", game.eco, true);
    const std::string fen = writeFen(game.startPosition, 0, 0);
    if (fen != kStandardStartFen) {
        writeTag(sink, "SetUp", "1", false);
        writeTag(sink, "FEN", startFen(game.startPosition), false);
    }
    for (const TagPair& tag : game.tags)
        writeTag(sink, tag.name, tag.value, true);
}

void writeComment(PgnSink& sink, std::string_view opening, std::string_view comment)
{
    sink.append(opening);
    sink.appendUnwrapped(encodeComment(comment));
    sink.appendUnwrapped("}");
    sink.append(" ");
}

// Text for a move the legal list does not hold (a game read with illegal moves allowed):
// coordinates, with the new piece when it is not what the coordinate reader assumes.
void formatUnlisted(const Position& pos, Move move, MoveText& out)
{
    static constexpr char kLetters[] = "?PNBRQK?";
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const PieceType moving = typeOf(pos.squares[from]);
    const PieceType type = pieceTypeOf(move);
    char promotion[3] = {};
    if (type != moving && type != PieceType::Pawn && type != PieceType::None) {
        promotion[0] = '=';
        promotion[1] = kLetters[static_cast<int>(type)];
    }
    std::snprintf(out.data(), out.size(), "%c%c-%c%c%s", 'a' + fileOf(from), '1' + rankOf(from),
                  'a' + fileOf(to), '1' + rankOf(to), promotion);
}

// The legal moves to the move's target square by pieces of the moving piece's type: all
// that SAN disambiguation looks at, so formatSan gives with them the text it gives with the
// whole legal list. In standard chess they are found from the target square; a nonstandard
// position's list is its generated list. None when the move itself is not in the list (a
// move only made of the same squares, with another piece arriving, is not the move).
int movesToTarget(const Position& pos, Move move, bool nonstandard, MoveList& out)
{
    const int to = toSquare(move);
    int count = 0;
    if (nonstandard) {
        MoveList all;
        const int total = generateMoves(pos, all, true);
        bool listed = false;
        for (int i = 0; i < total; ++i) {
            const Move candidate = all[static_cast<std::size_t>(i)];
            listed = listed || candidate == move;
            if (toSquare(candidate) == to)
                out[static_cast<std::size_t>(count++)] = candidate;
        }
        return listed ? count : 0;
    }
    if (!isListedMove(pos, move, false))
        return 0;
    const PieceType type = typeOf(pos.squares[fromSquare(move)]);
    if (type == PieceType::Pawn || type == PieceType::King) {
        out[0] = move; // pawns have no rivals in SAN, and only one king moves
        return 1;
    }
    int origins[8];
    const int reaching = piecesReaching(pos, type, to, origins);
    for (int i = 0; i < reaching; ++i) {
        const Move candidate = encodeMove(origins[i], to, type);
        if (isListedMove(pos, candidate, false))
            out[static_cast<std::size_t>(count++)] = candidate;
    }
    return count;
}

// Whether the side to move has a legal move (standard chess).
bool hasLegalMove(const Position& pos)
{
    MoveList list;
    const int count = generateMoves(pos, list, false);
    const int king = findKing(pos);
    for (int i = 0; i < count; ++i) {
        Position scratch = pos;
        if (!leavesKingAttacked(scratch, list[static_cast<std::size_t>(i)], king))
            return true;
    }
    return false;
}

void appendText(MoveText& text, char c)
{
    const std::size_t length = std::strlen(text.data());
    if (length + 1 < text.size()) {
        text[length] = c;
        text[length + 1] = '\0';
    }
}

// Cursor over a line: the position before its next move.
struct LineWriter {
    PgnSink& sink;
    bool nonstandard;
    Position pos;

    void moveText(Move move, MoveText& text);
    void entry(const GameLine& line, const MoveEntry& entry, int ply);
};

// The text formatMoveAndPlay gives (SAN, then "+" or "#" in standard chess) and the move
// played; a move the legal list does not hold is written in coordinates, so that reading it
// back gives that very move, and played when it can be.
void LineWriter::moveText(Move move, MoveText& text)
{
    MoveList candidates;
    const int count = movesToTarget(pos, move, nonstandard, candidates);
    if (formatSan(pos, text, move, candidates, count, MoveGlyph::None) != 0) {
        formatUnlisted(pos, move, text);
        playMove(pos, move);
        return;
    }
    makeMove(pos, move);
    if (nonstandard)
        return;
    const int king = findKing(pos);
    if (king != kNoSquare && isAttacked(pos, king))
        appendText(text, hasLegalMove(pos) ? '+' : '#');
}

void LineWriter::entry(const GameLine& line, const MoveEntry& entry, int ply)
{
    const Position before = pos;
    MoveText move;
    moveText(entry.move, move);
    char number[24];
    if (ply % 2 == 0) {
        std::snprintf(number, sizeof number, " %d.", ply / 2 + 1);
        sink.append(number);
    } else if (ply == line.startPly) {
        std::snprintf(number, sizeof number, " %d...", ply / 2 + 1);
        sink.append(number);
    }
    std::string text = " ";
    text += move.data();
    const bool named = entry.glyph >= 1 && entry.glyph <= 6;
    if (named)
        text += glyphText(static_cast<MoveGlyph>(entry.glyph));
    sink.append(text);
    if (!named && entry.glyph != 0) {
        std::snprintf(number, sizeof number, " $%d", entry.glyph);
        sink.append(number);
    }
    for (const auto& sub : entry.subLines) {
        sink.append(" (");
        writeLine(*sub, sink, before, nonstandard);
        sink.append(") ");
    }
    if (!entry.comment.empty())
        writeComment(sink, "\n{", entry.comment);
}

} // namespace

void PgnSink::append(std::string_view piece)
{
    if (m_line.size() + piece.size() > kLineWidth) {
        m_line += '\n';
        flush();
    }
    if (m_line.empty()) {
        const std::size_t first = piece.find_first_not_of(' ');
        piece.remove_prefix(first == std::string_view::npos ? piece.size() : first);
    }
    m_line += piece;
    if (piece.find('\n') != std::string_view::npos)
        flush();
}

void PgnSink::appendEscaped(std::string_view text, char escaped)
{
    std::string piece;
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == escaped) {
            append(piece);
            piece = "\\";
        }
        piece += c;
    }
    append(piece);
}

void PgnSink::appendUnwrapped(std::string_view text)
{
    m_line += text;
    if (text.find('\n') != std::string_view::npos)
        flush();
}

void PgnSink::flush()
{
    if (m_line.empty())
        return;
    emit(m_line);
    m_line.clear();
}

void PgnSink::emit(std::string_view text)
{
    std::size_t start = 0;
    for (std::size_t feed = text.find('\n'); feed != std::string_view::npos;
         start = feed + 1, feed = text.find('\n', start)) {
        if (m_file) {
            m_file->write(text.data() + start, static_cast<std::streamsize>(feed - start));
            m_file->write("\r\n", 2);
        } else {
            m_output.append(text, start, feed - start);
            m_output += "\r\n";
        }
    }
    const std::string_view rest = text.substr(start);
    if (m_file)
        m_file->write(rest.data(), static_cast<std::streamsize>(rest.size()));
    else
        m_output += rest;
}

std::string escapeTagValue(std::string_view value)
{
    std::string text;
    text.reserve(value.size());
    bool lineStart = false;
    for (char c : value) {
        if (c == '\r')
            continue;
        // A "%" beginning a line of a value that runs over lines would make it an escape line.
        if (c == '"' || c == '\\' || (c == '%' && lineStart))
            text += '\\';
        text += c;
        lineStart = c == '\n';
    }
    return text;
}

std::string encodeComment(std::string_view comment)
{
    std::string text;
    text.reserve(comment.size());
    bool lineStart = true;
    for (std::size_t i = 0; i < comment.size(); ++i) {
        const char c = comment[i];
        const std::string_view rest = comment.substr(i + 1);
        if (c == '\r')
            continue;
        if (c == '}')
            text += kCommentBrace;
        else if (c == '%' && lineStart)
            text += kCommentPercent; // a line starting with "%" would be skipped as an escape
        else if (c == '\\' &&
                 (rest.starts_with("x7d") || rest.starts_with("x5c") || rest.starts_with("x25")))
            text += kCommentBackslash;
        else
            text += c;
        lineStart = c == '\n';
    }
    return text;
}

std::string decodeComment(std::string_view text)
{
    std::string comment;
    comment.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view rest = text.substr(i);
        if (rest.starts_with(kCommentBrace)) {
            comment += '}';
            i += kCommentBrace.size() - 1;
        } else if (rest.starts_with(kCommentBackslash)) {
            comment += '\\';
            i += kCommentBackslash.size() - 1;
        } else if (rest.starts_with(kCommentPercent)) {
            comment += '%';
            i += kCommentPercent.size() - 1;
        } else {
            comment += text[i];
        }
    }
    return comment;
}

void writeLine(const GameLine& line, PgnSink& sink, const Position& start, bool nonstandard)
{
    LineWriter writer{sink, nonstandard, start};
    int ply = line.startPly;
    for (const MoveEntry& entry : line.entries)
        writer.entry(line, entry, ply++);
}

void writeGame(const Game& game, PgnSink& sink, bool nonstandard)
{
    writeHeader(game, sink);
    sink.append("\n");
    if (!game.initialComment.empty())
        writeComment(sink, "{", game.initialComment);
    writeLine(game, sink, game.startPosition, nonstandard);
    sink.append(" " + std::string(resultText(game.result)));
    sink.append("\n\n");
    sink.flush();
}

void writeGameToFile(const Game& game, std::ostream& file, bool nonstandard)
{
    PgnSink sink(file);
    writeGame(game, sink, nonstandard);
}

std::string writeGameToText(const Game& game, bool nonstandard)
{
    PgnSink sink;
    writeGame(game, sink, nonstandard);
    return sink.takeText();
}

} // namespace vez
