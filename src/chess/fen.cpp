#include "chess/fen.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace vez {

namespace {

constexpr char kPieceLetters[] = " PNBRQK";

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isOpcodeChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || isDigit(c) || c == '_';
}

PieceType pieceFromLetter(char c)
{
    switch (c | 0x20) {
    case 'p': return PieceType::Pawn;
    case 'n': return PieceType::Knight;
    case 'b': return PieceType::Bishop;
    case 'r': return PieceType::Rook;
    case 'q': return PieceType::Queen;
    case 'k': return PieceType::King;
    default: return PieceType::None;
    }
}

// Reads the board field up to its terminating blank.
bool readBoard(Position& pos, std::string_view text, std::size_t& at)
{
    int rank = 7;
    int filled = 0; // squares of the current rank; digits may push it past 8
    for (;; ++at) {
        if (at >= text.size())
            return false;
        const char c = text[at];
        if (c == ' ')
            return rank == 0 && filled == 8;
        if (c == '/') {
            if (filled != 8 || rank == 0)
                return false;
            --rank;
            filled = 0;
        } else if (isDigit(c)) {
            filled += c - '0';
        } else {
            const PieceType type = pieceFromLetter(c);
            if (type == PieceType::None || filled >= 8)
                return false;
            const int colour = (c >= 'a' && c <= 'z') ? kBlack : kWhite;
            pos.squares[makeSquare(filled, rank)] = makePiece(type, colour);
            ++filled;
        }
    }
}

bool readCastling(Position& pos, std::string_view text, std::size_t& at)
{
    if (at < text.size() && text[at] == '-') {
        ++at;
        return true;
    }
    for (; at < text.size() && text[at] != ' '; ++at) {
        switch (text[at]) {
        case 'K': pos.castleKingsideLost[kWhite] = 0; break;
        case 'Q': pos.castleQueensideLost[kWhite] = 0; break;
        case 'k': pos.castleKingsideLost[kBlack] = 0; break;
        case 'q': pos.castleQueensideLost[kBlack] = 0; break;
        default: return false;
        }
    }
    return true;
}

// A decimal number; absurdly long digit runs saturate instead of overflowing.
int readNumber(std::string_view text, std::size_t& at)
{
    long long value = 0;
    for (; at < text.size() && isDigit(text[at]); ++at) {
        if (value < 1000000000)
            value = value * 10 + (text[at] - '0');
    }
    return value > 2147483647 ? 2147483647 : int(value);
}

// True at the end of the text; otherwise consumes the blank that must follow, or
// reports a malformed field through ok.
bool endOrBlank(std::string_view text, std::size_t& at, bool& ok)
{
    if (at >= text.size())
        return true;
    ok = text[at] == ' ';
    if (ok)
        ++at;
    return false;
}

// One EPD operation: an opcode, optional white space and an operand that is either
// a single-quoted string (a doubled quote stands for one) or runs up to ";".
struct EpdOperation {
    std::string_view opcode;
    std::string operand;
};

bool readOperation(std::string_view text, std::size_t& at, EpdOperation& op)
{
    const std::size_t start = at;
    while (at < text.size() && isOpcodeChar(text[at]))
        ++at;
    op.opcode = text.substr(start, at - start);
    while (at < text.size() && isSpace(text[at]))
        ++at;
    op.operand.clear();
    if (at < text.size() && text[at] == '\'') {
        for (++at;; ++at) {
            if (at >= text.size())
                return false; // unclosed string
            if (text[at] == '\'') {
                if (at + 1 < text.size() && text[at + 1] == '\'') {
                    op.operand += '\'';
                    ++at;
                    continue;
                }
                ++at;
                break;
            }
            op.operand += text[at];
        }
    } else {
        const std::size_t begin = at;
        while (at < text.size() && text[at] != ';')
            ++at;
        op.operand.assign(text.substr(begin, at - begin));
    }
    if (at >= text.size())
        return true;
    if (text[at] != ';')
        return false;
    ++at;
    if (at < text.size())
        ++at; // the blank that separates operations
    return true;
}

// A bare decimal integer within the 32-bit range.
bool parseScore(std::string_view text, std::int32_t& value)
{
    std::size_t at = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++at;
    if (at >= text.size())
        return false;
    long long magnitude = 0;
    for (; at < text.size(); ++at) {
        if (!isDigit(text[at]))
            return false;
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > 2147483647)
            return false;
    }
    value = std::int32_t(negative ? -magnitude : magnitude);
    return true;
}

// "c" followed by a decimal number: a note line.
bool isNoteOpcode(std::string_view opcode)
{
    if (opcode.size() < 2 || opcode[0] != 'c')
        return false;
    for (std::size_t i = 1; i < opcode.size(); ++i) {
        if (!isDigit(opcode[i]))
            return false;
    }
    return true;
}

void appendQuoted(std::string& out, std::string_view line)
{
    for (char c : line) {
        out += c;
        if (c == '\'')
            out += '\'';
    }
}

} // namespace

int writeFen(const Position& pos, FenText& out, int halfmoveClock, int moveNumber, bool epd)
{
    char* p = out.data();
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            const std::uint8_t piece = pos.squares[makeSquare(file, rank)];
            if (piece == kEmpty) {
                ++empty;
                continue;
            }
            if (empty > 0)
                *p++ = char('0' + empty);
            empty = 0;
            const char letter = kPieceLetters[int(typeOf(piece)) % 7];
            *p++ = colourOf(piece) == kBlack ? char(letter | 0x20) : letter;
        }
        if (empty > 0)
            *p++ = char('0' + empty);
        if (rank > 0)
            *p++ = '/';
    }
    *p++ = ' ';
    *p++ = pos.sideToMove == kBlack ? 'b' : 'w';
    *p++ = ' ';
    char* castling = p;
    if (pos.castleKingsideLost[kWhite] == 0) *p++ = 'K';
    if (pos.castleQueensideLost[kWhite] == 0) *p++ = 'Q';
    if (pos.castleKingsideLost[kBlack] == 0) *p++ = 'k';
    if (pos.castleQueensideLost[kBlack] == 0) *p++ = 'q';
    if (p == castling)
        *p++ = '-';
    *p++ = ' ';
    *p++ = pos.enPassant == 1 ? char('a' + (pos.enPassantFile & 7)) : '-';
    std::size_t length = std::size_t(p - out.data());
    if (epd) {
        out[length] = '\0';
        return int(length);
    }
    const int n = std::snprintf(p, out.size() - length, " %d %d", halfmoveClock, moveNumber);
    return int(length) + n;
}

std::string writeFen(const Position& pos, int halfmoveClock, int moveNumber, bool epd)
{
    FenText text;
    const int n = writeFen(pos, text, halfmoveClock, moveNumber, epd);
    return std::string(text.data(), std::size_t(n));
}

bool readFen(Position& pos, std::string_view text, std::size_t& at, int* halfmoveClock,
             int* moveNumber)
{
    pos = Position{};
    if (halfmoveClock)
        *halfmoveClock = 0;
    if (moveNumber)
        *moveNumber = 0;
    if (!readBoard(pos, text, at))
        return false;
    ++at; // the blank after the board
    if (at >= text.size() || (text[at] != 'w' && text[at] != 'b'))
        return false;
    pos.sideToMove = text[at++] == 'b' ? kBlack : kWhite;
    pos.castleKingsideLost[kWhite] = pos.castleKingsideLost[kBlack] = 1;
    pos.castleQueensideLost[kWhite] = pos.castleQueensideLost[kBlack] = 1;
    pos.enPassant = 0;

    bool ok = true;
    if (endOrBlank(text, at, ok) || !ok)
        return ok;
    if (!readCastling(pos, text, at))
        return false;
    if (endOrBlank(text, at, ok) || !ok)
        return ok;

    if (at < text.size() && text[at] >= 'a' && text[at] <= 'h') {
        pos.enPassant = 1;
        pos.enPassantFile = text[at] - 'a';
    } else if (at >= text.size() || text[at] != '-') {
        return false;
    }
    ++at;
    if (endOrBlank(text, at, ok) || !ok)
        return ok; // "e3" is refused here: the field is the file letter alone
    if (at >= text.size() || !isDigit(text[at]))
        return true;

    const int halfmove = readNumber(text, at);
    if (halfmoveClock)
        *halfmoveClock = halfmove;
    if (endOrBlank(text, at, ok) || !ok)
        return ok;
    if (at >= text.size() || !isDigit(text[at]))
        return true;
    const int number = readNumber(text, at);
    if (moveNumber)
        *moveNumber = number;
    return true;
}

bool readFen(Position& pos, std::string_view text, int* halfmoveClock, int* moveNumber)
{
    std::size_t at = 0;
    return readFen(pos, text, at, halfmoveClock, moveNumber);
}

std::string writeEpd(const Position& pos, const PositionAnnotation* annotation)
{
    std::string out = writeFen(pos, 0, 0, true);
    if (!annotation)
        return out;
    if (annotation->flashcard)
        out += " F;";
    if (annotation->userNotation)
        out += " U;";
    if (annotation->score != kNoScore) {
        // EPD scores are from the side to move's point of view.
        const long long score = pos.sideToMove == kBlack ? -(long long)annotation->score
                                                         : (long long)annotation->score;
        out += " ce " + std::to_string(score) + ";";
    }
    // Note lines end at a line break; a final line break adds no empty line.
    const std::string_view note = annotation->note;
    std::size_t start = 0;
    for (int line = 0; start < note.size(); ++line) {
        std::size_t end = note.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = note.size();
        out += " c" + std::to_string(line) + " '";
        appendQuoted(out, note.substr(start, end - start));
        out += "';";
        start = end;
        if (start < note.size() && note[start] == '\r')
            ++start;
        if (start < note.size() && note[start] == '\n')
            ++start;
    }
    return out;
}

bool readEpd(Position& pos, std::string_view text, PositionAnnotation* annotation)
{
    std::size_t at = 0;
    if (!readFen(pos, text, at))
        return false;
    PositionAnnotation read;
    int noteLines = 0;
    EpdOperation op;
    for (;;) {
        while (at < text.size() && isSpace(text[at]))
            ++at;
        if (at >= text.size())
            break;
        if (!readOperation(text, at, op))
            return false;
        if (op.opcode == "F") {
            read.flashcard = 1;
        } else if (op.opcode == "U") {
            read.userNotation = 1;
        } else if (op.opcode == "ce") {
            if (!parseScore(op.operand, read.score))
                return false;
            if (pos.sideToMove == kBlack)
                read.score = -read.score;
        } else if (isNoteOpcode(op.opcode)) {
            if (noteLines++ > 0)
                read.note += "\r\n";
            read.note += op.operand;
        }
    }
    if (annotation)
        *annotation = std::move(read);
    return true;
}

} // namespace vez
