// Reading move text: the algebraic and coordinate parser and the descriptive parser. They
// accept the variants found in real files: zeros in castling, missing "x", missing ranks of
// pawn captures, lower-case piece letters, ":" captures, "ep", promotion without "=", long
// algebraic and coordinates.
// Every read goes through TextReader, which yields '\0' past the end of the view, so no
// parser looks beyond the text it was given whatever that text holds.
#include "chess/notation.h"

#include <algorithm>

#include "chess/movegen.h"
#include "chess/notation_rules.h"

namespace vez {

namespace {

using namespace notation;

// Reads a move text. Past the end of the view it yields '\0', which no grammar piece
// accepts, so the readers below never look beyond the text whatever it holds.
class TextReader {
public:
    TextReader(std::string_view text, std::size_t at)
        : m_text(text), m_at(std::min(at, text.size()))
    {
    }
    char peek(std::size_t ahead = 0) const
    {
        return ahead < m_text.size() - std::min(m_at, m_text.size()) ? m_text[m_at + ahead] : '\0';
    }
    std::string_view view(std::size_t length) const { return m_text.substr(m_at, length); }
    void skip(std::size_t count = 1) { m_at = std::min(m_at + count, m_text.size()); }
    std::size_t at() const { return m_at; }
    void rewind(std::size_t at) { m_at = at; }

private:
    std::string_view m_text;
    std::size_t m_at;
};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool isFileLetter(char c) { return c >= 'a' && c <= 'h'; }
bool isRankDigit(char c) { return c >= '1' && c <= '8'; }
bool isCaptureSign(char c) { return c == 'x' || c == 'X' || c == ':'; }
bool isCastlingLetter(char c) { return c == 'O' || c == 'o' || c == '0'; }
bool isUpperPromotionLetter(char c)
{
    return c == 'Q' || c == 'R' || c == 'B' || c == 'N' || c == 'K';
}

std::size_t skipBlanks(std::string_view text, std::size_t at)
{
    while (at < text.size() && isBlank(text[at]))
        ++at;
    return at;
}

int squareAt(char file, char rank) { return makeSquare(file - 'a', rank - '1'); }

// B, K, N, Q, R in either case: the piece letters of the piece form and of promotions.
PieceType algebraicPiece(char c)
{
    switch (c) {
    case 'B':
    case 'b': return PieceType::Bishop;
    case 'K':
    case 'k': return PieceType::King;
    case 'N':
    case 'n': return PieceType::Knight;
    case 'Q':
    case 'q': return PieceType::Queen;
    case 'R':
    case 'r': return PieceType::Rook;
    default: return PieceType::None;
    }
}

// Drops the candidate squares whose move would leave the mover's king attacked, each
// replaced by the last candidate. Pins are consulted only to choose between several.
template <class MoveFrom>
int dropPinned(const Position& pos, int* candidates, int count, MoveFrom moveFrom)
{
    if (count <= 1)
        return count;
    Position board = pos;
    const int king = findKing(board);
    for (int i = 0; i < count;) {
        if (leavesKingAttacked(board, moveFrom(candidates[i]), king))
            candidates[i] = candidates[--count];
        else
            ++i;
    }
    return count;
}

// --- Coordinate form: e2e4, e2-e4, e4xd5, e4:d5, e7e8=N ---

enum class FormResult { NotThisForm, Rejected, Accepted };

bool readCoordinatePromotion(TextReader& in, PieceType& type, int to, int side)
{
    const char c = in.peek();
    if (c == '=' || c == '/') {
        type = algebraicPiece(in.peek(1));
        in.skip(2);
        return type != PieceType::None;
    }
    if (isUpperPromotionLetter(c)) {
        type = algebraicPiece(c);
        in.skip();
    } else if (type == PieceType::Pawn && rankOf(to) == lastRank(side)) {
        type = PieceType::Queen;
    }
    return true;
}

FormResult parseCoordinateForm(const Position& pos, TextReader& in, Move& move, bool* legal)
{
    if (!isFileLetter(in.peek(0)) || !isRankDigit(in.peek(1)))
        return FormResult::NotThisForm;
    const bool capture = isCaptureSign(in.peek(2));
    const std::size_t toAt = capture || in.peek(2) == '-' ? 3 : 2;
    if (!isFileLetter(in.peek(toAt)) || !isRankDigit(in.peek(toAt + 1)))
        return FormResult::NotThisForm;
    const int from = squareAt(in.peek(0), in.peek(1));
    const int to = squareAt(in.peek(toAt), in.peek(toAt + 1));
    in.skip(toAt + 2);
    if (capture && !isEnemyPiece(pos, to) && !isEnPassantTarget(pos, to))
        return FormResult::Rejected;
    PieceType type = typeOf(pos.squares[from]);
    if (!readCoordinatePromotion(in, type, to, pos.sideToMove))
        return FormResult::Rejected;
    move = encodeMove(from, to, type);
    if (legal)
        *legal = isLegalMove(pos, move);
    return FormResult::Accepted;
}

// --- Pawn form: e4, exd5, ed, ed5, e4d, exd6ep, e8=Q, e8Q, e8/q, Pe4 ---

// What the text of a pawn move names; -1 where it is not (yet) known.
struct PawnText {
    int fromFile = -1;
    int fromRank = -1;
    int toFile = -1;
    int toRank = -1;
    bool capture = false;
    PieceType promotion = PieceType::Pawn;
};

bool readPawnShape(TextReader& in, PawnText& pawn)
{
    const char first = in.peek(0);
    const char second = in.peek(1);
    const char third = in.peek(2);
    if (!isFileLetter(first))
        return false;
    if (isRankDigit(second) && isFileLetter(third) && third != first) { // e4d
        pawn = {first - 'a', second - '1', third - 'a', -1, true};
        in.skip(3);
    } else if (isRankDigit(second)) { // e4
        pawn = {-1, -1, first - 'a', second - '1', false};
        in.skip(2);
    } else if (isFileLetter(second)) { // ed, ed5
        pawn = {first - 'a', -1, second - 'a', -1, true};
        in.skip(2);
        if (isRankDigit(in.peek())) {
            pawn.toRank = in.peek() - '1';
            in.skip();
        }
    } else if (isCaptureSign(second) && isFileLetter(third) && isRankDigit(in.peek(3))) { // exd5
        pawn = {first - 'a', -1, third - 'a', in.peek(3) - '1', true};
        in.skip(4);
    } else {
        return false;
    }
    return true;
}

bool readPawnPromotion(TextReader& in, PawnText& pawn, int side)
{
    const char c = in.peek();
    const bool separator = c == '=' || c == '/';
    if (!separator && !isUpperPromotionLetter(c))
        return pawn.toRank != 0 && pawn.toRank != 7; // "e8" alone is no pawn move
    if (pawn.toRank >= 0 && pawn.toRank != lastRank(side))
        return false;
    pawn.toRank = lastRank(side);
    if (separator)
        in.skip();
    pawn.promotion = algebraicPiece(in.peek());
    in.skip();
    return pawn.promotion != PieceType::None;
}

// "d5" onto an enemy piece or the en-passant square is a capture by the one own pawn
// diagonally behind it, when there is exactly one.
void takeImpliedCapture(const Position& pos, PawnText& pawn)
{
    const int to = makeSquare(pawn.toFile, pawn.toRank);
    if (!isEnemyPiece(pos, to) && !isEnPassantTarget(pos, to))
        return;
    const int behind = to - pawnDirection(pos.sideToMove);
    const bool left = pawn.toFile > 0 && isOwnPiece(pos, behind - 1, PieceType::Pawn);
    const bool right = pawn.toFile < 7 && isOwnPiece(pos, behind + 1, PieceType::Pawn);
    if (left == right)
        return;
    pawn.capture = true;
    pawn.fromFile = pawn.toFile + (left ? -1 : 1);
    pawn.fromRank = pawn.toRank - rankStep(pos.sideToMove);
}

bool findAdvancingPawn(const Position& pos, PawnText& pawn)
{
    const int side = pos.sideToMove;
    const int to = makeSquare(pawn.toFile, pawn.toRank);
    const int behind = to - pawnDirection(side);
    pawn.fromFile = pawn.toFile;
    if (pos.squares[to] != kEmpty || !isSquare(behind))
        return false;
    if (isOwnPiece(pos, behind, PieceType::Pawn)) {
        pawn.fromRank = rankOf(behind);
        return true;
    }
    const bool doubleStep = pawn.toRank == (side == kWhite ? 3 : 4);
    const int start = behind - pawnDirection(side);
    if (!doubleStep || pos.squares[behind] != kEmpty || !isOwnPiece(pos, start, PieceType::Pawn))
        return false;
    pawn.fromRank = rankOf(start);
    return true;
}

// "ed": the one own pawn on the from-file that can take towards the to-file.
bool findCapturingPawn(const Position& pos, PawnText& pawn)
{
    const int side = pos.sideToMove;
    const int step = pawnDirection(side) + pawn.toFile - pawn.fromFile;
    int candidates[8];
    int count = 0;
    for (int rank = 1; rank <= 6; ++rank) {
        const int from = makeSquare(pawn.fromFile, rank);
        if (isOwnPiece(pos, from, PieceType::Pawn) && isEnemyPiece(pos, from + step))
            candidates[count++] = from;
    }
    if (pos.enPassant == 1 && pos.enPassantFile == pawn.toFile) {
        const int from = makeSquare(pawn.fromFile, side == kWhite ? 4 : 3);
        if (isOwnPiece(pos, from, PieceType::Pawn) && !isEnemyPiece(pos, from + step))
            candidates[count++] = from;
    }
    const PieceType type = pawn.promotion;
    count = dropPinned(pos, candidates, count,
                       [&](int from) { return encodeMove(from, from + step, type); });
    if (count != 1)
        return false;
    pawn.fromRank = rankOf(candidates[0]);
    pawn.toRank = pawn.fromRank + rankStep(side);
    return true;
}

bool placeCapture(const Position& pos, PawnText& pawn)
{
    const int step = rankStep(pos.sideToMove);
    if (pawn.fromRank < 0 && pawn.toRank < 0)
        return findCapturingPawn(pos, pawn);
    if (pawn.fromRank < 0)
        pawn.fromRank = pawn.toRank - step;
    else if (pawn.toRank < 0)
        pawn.toRank = pawn.fromRank + step;
    // "e5d=Q" names both ranks; they must be one step apart.
    return pawn.toRank == pawn.fromRank + step && pawn.fromRank >= 0 && pawn.fromRank <= 7 &&
           pawn.toRank >= 0 && pawn.toRank <= 7;
}

bool pawnMoveFits(const Position& pos, const PawnText& pawn)
{
    const int side = pos.sideToMove;
    const int from = makeSquare(pawn.fromFile, pawn.fromRank);
    const int to = makeSquare(pawn.toFile, pawn.toRank);
    if (!isOwnPiece(pos, from, PieceType::Pawn))
        return false;
    if (pawn.promotion == PieceType::Pawn && pawn.toRank == lastRank(side))
        return false;
    if (!pawn.capture || isEnemyPiece(pos, to))
        return true;
    return pos.enPassant == 1 && pos.enPassantFile == pawn.toFile &&
           pawn.fromRank == (side == kWhite ? 4 : 3);
}

// False sends the text on to the castling and piece forms.
bool parsePawnForm(const Position& pos, TextReader& in, Move& move)
{
    PawnText pawn;
    if (!readPawnShape(in, pawn))
        return false;
    if (pawn.capture && pawn.toFile - pawn.fromFile != 1 && pawn.fromFile - pawn.toFile != 1)
        return false;
    if (!readPawnPromotion(in, pawn, pos.sideToMove))
        return false;
    if (in.peek(0) == 'e' && in.peek(1) == 'p')
        in.skip(2);
    if (!pawn.capture)
        takeImpliedCapture(pos, pawn);
    const bool placed = pawn.capture ? placeCapture(pos, pawn) : findAdvancingPawn(pos, pawn);
    if (!placed || !pawnMoveFits(pos, pawn))
        return false;
    move = encodeMove(makeSquare(pawn.fromFile, pawn.fromRank),
                      makeSquare(pawn.toFile, pawn.toRank), pawn.promotion);
    return true;
}

// --- Castling: O-O, 0-0, o-o, O-O-O ---

bool castlingAllowed(const Position& pos, bool queenside)
{
    const int side = pos.sideToMove;
    const int king = side == kWhite ? 4 : 60;
    const int rook = queenside ? king - 4 : king + 3;
    const int lost = queenside ? pos.castleQueensideLost[side] : pos.castleKingsideLost[side];
    if (lost != 0 || !isOwnPiece(pos, king, PieceType::King) ||
        !isOwnPiece(pos, rook, PieceType::Rook))
        return false;
    const int step = queenside ? -1 : 1;
    for (int square = king + step; square != rook; square += step) {
        if (pos.squares[square] != kEmpty)
            return false;
    }
    return !isAttacked(pos, king) && !isAttacked(pos, king + step);
}

bool parseCastling(const Position& pos, TextReader& in, Move& move, bool* legal)
{
    if (in.peek(1) != '-' || !isCastlingLetter(in.peek(2)))
        return false;
    in.skip(3);
    const bool queenside = in.peek() == '-';
    if (queenside) {
        if (!isCastlingLetter(in.peek(1)))
            return false;
        in.skip(2);
    }
    const int king = pos.sideToMove == kWhite ? 4 : 60;
    move = encodeMove(king, queenside ? king - 2 : king + 2, PieceType::King);
    if (legal && !castlingAllowed(pos, queenside))
        *legal = false;
    return true;
}

// --- Piece form: Nf3, nf3, Nbd2, N1d2, Nb1d2, Ng1-f3, Nxe5, R:e5 ---

int dropContradicting(int* candidates, int count, int hintFile, int hintRank)
{
    for (int i = 0; i < count;) {
        const bool contradicts = (hintFile >= 0 && fileOf(candidates[i]) != hintFile) ||
                                 (hintRank >= 0 && rankOf(candidates[i]) != hintRank);
        if (contradicts)
            candidates[i] = candidates[--count];
        else
            ++i;
    }
    return count;
}

// What a piece move's text names: the piece, the destination, the from-square hints.
struct PieceText {
    PieceType type = PieceType::None;
    int to = kNoSquare;
    int hintFile = -1;
    int hintRank = -1;
    bool capture = false;
};

bool readPieceText(TextReader& in, PieceText& piece)
{
    piece.type = algebraicPiece(in.peek());
    if (piece.type == PieceType::None)
        return false;
    in.skip();
    if (isFileLetter(in.peek())) {
        piece.hintFile = in.peek() - 'a';
        in.skip();
    }
    if (isRankDigit(in.peek())) {
        piece.hintRank = in.peek() - '1';
        in.skip();
    }
    piece.capture = isCaptureSign(in.peek());
    const bool separated = piece.capture || in.peek() == '-';
    if (separated)
        in.skip();
    if (isFileLetter(in.peek(0)) && isRankDigit(in.peek(1))) {
        piece.to = squareAt(in.peek(0), in.peek(1));
        in.skip(2);
        return true;
    }
    if (separated || piece.hintFile < 0 || piece.hintRank < 0)
        return false;
    piece.to = makeSquare(piece.hintFile, piece.hintRank); // "Nf3": the hints were the square
    piece.hintFile = piece.hintRank = -1;
    return true;
}

bool parsePieceForm(const Position& pos, TextReader& in, Move& move)
{
    PieceText piece;
    if (!readPieceText(in, piece) || (piece.capture && pos.squares[piece.to] == kEmpty))
        return false;
    int candidates[8];
    int count = piecesReaching(pos, piece.type, piece.to, candidates);
    count = dropContradicting(candidates, count, piece.hintFile, piece.hintRank);
    count = dropPinned(pos, candidates, count,
                       [&](int from) { return encodeMove(from, piece.to, piece.type); });
    if (count != 1)
        return false;
    move = encodeMove(candidates[0], piece.to, piece.type);
    return true;
}

bool readAlgebraic(const Position& pos, TextReader& in, Move& move, bool* legal)
{
    switch (parseCoordinateForm(pos, in, move, legal)) {
    case FormResult::Accepted: return true;
    case FormResult::Rejected: return false;
    case FormResult::NotThisForm: break;
    }
    const std::size_t start = in.at();
    if (in.peek() == 'P' || isFileLetter(in.peek())) {
        if (in.peek() == 'P') {
            if (!isFileLetter(in.peek(1)))
                return false;
            in.skip();
        }
        if (parsePawnForm(pos, in, move))
            return true;
        in.rewind(start);
    }
    if (isCastlingLetter(in.peek()))
        return parseCastling(pos, in, move, legal);
    return parsePieceForm(pos, in, move);
}

// --- Descriptive: P-K4, N-KB3, R/QR1-Q1, BPxP, PxN/KB3, P-K8=Q, O-O ---

// The piece a designation names, and the files and ranks (counted from the mover's side)
// it allows, one bit per file or rank index.
struct Designation {
    PieceType piece = PieceType::None;
    std::uint8_t files = 0xff;
    std::uint8_t ranks = 0xff;
};

struct DescriptiveText {
    Designation mover;
    Designation target; // the captured piece, or PieceType::None for an empty square
    bool capture = false;
    PieceType promotion = PieceType::None;
};

PieceType descriptivePiece(char c)
{
    switch (c) {
    case 'P': return PieceType::Pawn;
    case 'N': return PieceType::Knight;
    case 'B': return PieceType::Bishop;
    case 'R': return PieceType::Rook;
    case 'Q': return PieceType::Queen;
    case 'K': return PieceType::King;
    default: return PieceType::None;
    }
}

// The files one or two letters name: the last gives a file group (or the d- or e-file),
// a first K or Q keeps the files of that wing. 0 when the letters name no file.
std::uint8_t descriptiveFiles(std::string_view letters)
{
    std::uint8_t files = 0;
    switch (letters.back()) {
    case 'R': files = 0x81; break; // a, h
    case 'N': files = 0x42; break; // b, g
    case 'B': files = 0x24; break; // c, f
    case 'Q': files = 0x08; break; // d
    case 'K': files = 0x10; break; // e
    default: return 0;
    }
    if (letters.size() == 1)
        return files;
    if (letters[0] == 'K')
        return files & 0xe0; // f, g, h
    if (letters[0] == 'Q')
        return files & 0x07; // a, b, c
    return 0;
}

bool isDesignationLetter(char c)
{
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && c != 'x' && c != 'X';
}

std::size_t letterRun(const TextReader& in, std::size_t ahead = 0)
{
    std::size_t length = 0;
    while (isDesignationLetter(in.peek(ahead + length)))
        ++length;
    return length;
}

bool narrowFiles(Designation& designation, std::string_view letters)
{
    designation.files &= descriptiveFiles(letters);
    return designation.files != 0;
}

// "/QR1" after a designation names one square. A "/" not followed by one or two letters
// and a rank digit is left alone: it introduces the promotion piece ("PxR/Q").
bool readQualifyingSquare(TextReader& in, Designation& designation)
{
    const std::size_t length = letterRun(in, 1);
    if (in.peek() != '/' || length < 1 || length > 2 || !isRankDigit(in.peek(1 + length)))
        return true;
    in.skip();
    if (!narrowFiles(designation, in.view(length)))
        return false;
    designation.ranks &= static_cast<std::uint8_t>(1 << (in.peek(length) - '1'));
    in.skip(length + 1);
    return true;
}

bool readDesignation(TextReader& in, Designation& designation)
{
    const std::size_t length = letterRun(in);
    if (length < 1 || length > 3)
        return false;
    const std::string_view letters = in.view(length);
    designation.piece = descriptivePiece(letters.back());
    if (designation.piece == PieceType::None)
        return false;
    if (length > 1 && !narrowFiles(designation, letters.substr(0, length - 1)))
        return false;
    in.skip(length);
    return readQualifyingSquare(in, designation);
}

bool readDestination(TextReader& in, Designation& designation)
{
    const std::size_t length = letterRun(in);
    if (length < 1 || length > 2 || !isRankDigit(in.peek(length)))
        return false;
    if (!narrowFiles(designation, in.view(length)))
        return false;
    designation.ranks = static_cast<std::uint8_t>(1 << (in.peek(length) - '1'));
    in.skip(length + 1);
    return true;
}

bool readDescriptivePromotion(TextReader& in, DescriptiveText& move)
{
    move.promotion = move.mover.piece; // matches no pawn move to the last rank
    if (in.peek() != '=' && in.peek() != '/')
        return true;
    in.skip();
    Designation piece;
    if (!readDesignation(in, piece) || piece.files != 0xff || piece.ranks != 0xff)
        return false;
    move.promotion = piece.piece;
    return true;
}

bool readDescriptiveText(TextReader& in, DescriptiveText& move)
{
    if (!readDesignation(in, move.mover))
        return false;
    if (in.peek() == '-') {
        in.skip();
        if (!readDestination(in, move.target))
            return false;
    } else if (in.peek() == 'x' || in.peek() == 'X') {
        in.skip();
        move.capture = true;
        if (!readDesignation(in, move.target))
            return false;
    } else {
        return false;
    }
    return readDescriptivePromotion(in, move);
}

bool designates(const Designation& designation, int square, int side)
{
    return ((designation.files >> fileOf(square)) & 1) != 0 &&
           ((designation.ranks >> relativeRank(rankOf(square), side)) & 1) != 0;
}

bool describes(const Position& pos, const DescriptiveText& text, Move move)
{
    const int side = pos.sideToMove;
    const int from = fromSquare(move);
    const int to = toSquare(move);
    if (typeOf(pos.squares[from]) != text.mover.piece || !designates(text.mover, from, side) ||
        !designates(text.target, to, side))
        return false;
    const std::uint8_t captured = pos.squares[to];
    if (text.capture ? captured == kEmpty || typeOf(captured) != text.target.piece
                     : captured != kEmpty)
        return false;
    if (text.mover.piece == PieceType::Pawn && rankOf(to) == lastRank(side))
        return pieceTypeOf(move) == text.promotion;
    return true;
}

// The one legal move (by standard rules) the text describes.
bool findDescribedMove(const Position& pos, const DescriptiveText& text, Move& move)
{
    MoveList list;
    const int count = legalMoves(pos, list, false);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        if (!describes(pos, text, list[i]))
            continue;
        if (found)
            return false;
        found = true;
        move = list[i];
    }
    return found;
}

bool readDescriptiveCastling(const Position& pos, TextReader& in, Move& move)
{
    const auto isO = [](char c) { return c == 'O' || c == 'o'; };
    if (!isO(in.peek(0)) || in.peek(1) != '-' || !isO(in.peek(2)))
        return false;
    const bool queenside = in.peek(3) == '-' && isO(in.peek(4));
    in.skip(queenside ? 5 : 3);
    const int king = pos.sideToMove == kWhite ? 4 : 60;
    move = encodeMove(king, queenside ? king - 2 : king + 2, PieceType::King);
    return true;
}

} // namespace

bool parseMoveSuffix(std::string_view text, std::size_t& cursor, MoveGlyph* glyph)
{
    TextReader in(text, cursor);
    while (in.peek() == '+')
        in.skip();
    if (in.peek() == '#')
        in.skip();
    // Longest texts first: "??" before "?", "!?" before "!".
    static constexpr MoveGlyph kGlyphs[] = {MoveGlyph::Blunder,   MoveGlyph::Dubious,
                                            MoveGlyph::Mistake,   MoveGlyph::Interesting,
                                            MoveGlyph::Brilliant, MoveGlyph::Good};
    const bool glyphFollows = in.peek() == '!' || in.peek() == '?';
    for (MoveGlyph candidate : kGlyphs) {
        if (!glyphFollows)
            break;
        const std::string_view written = glyphText(candidate);
        if (in.view(written.size()) == written) {
            in.skip(written.size());
            if (glyph)
                *glyph = candidate;
            break;
        }
    }
    cursor = skipBlanks(text, in.at());
    return cursor == text.size();
}

bool parseMove(const Position& pos, Move& move, bool* legal, MoveGlyph* glyph,
               std::string_view text)
{
    if (glyph)
        *glyph = MoveGlyph::None;
    if (legal)
        *legal = true;
    TextReader in(text, skipBlanks(text, 0));
    if (!readAlgebraic(pos, in, move, legal))
        return false;
    std::size_t cursor = in.at();
    return parseMoveSuffix(text, cursor, glyph);
}

bool parseDescriptive(const Position& pos, Move& move, bool* legal, MoveGlyph* glyph,
                      std::string_view text)
{
    if (glyph)
        *glyph = MoveGlyph::None;
    TextReader in(text, skipBlanks(text, 0));
    bool isLegal = true;
    if (readDescriptiveCastling(pos, in, move)) {
        isLegal = isLegalMove(pos, move);
    } else {
        DescriptiveText described;
        if (!readDescriptiveText(in, described) || !findDescribedMove(pos, described, move))
            return false;
    }
    if (legal)
        *legal = isLegal;
    std::size_t cursor = in.at();
    return parseMoveSuffix(text, cursor, glyph);
}

} // namespace vez
