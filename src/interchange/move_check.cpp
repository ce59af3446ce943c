#include "interchange/move_check.h"

#include <array>
#include <cstdint>

#include "chess/movegen.h"

namespace vez {

namespace {

// The pseudo-legal test below follows generateMoves piece by piece for standard chess, so
// that a move is accepted exactly when the generator would list it, without generating the
// whole list on every ply of every game read.

bool isOwn(const Position& pos, std::uint8_t piece)
{
    return piece != kEmpty && colourOf(piece) == pos.sideToMove;
}

bool isEnemy(const Position& pos, std::uint8_t piece)
{
    return piece != kEmpty && colourOf(piece) != pos.sideToMove;
}

bool isStandardPromotion(PieceType type)
{
    return type == PieceType::Knight || type == PieceType::Bishop || type == PieceType::Rook ||
           type == PieceType::Queen;
}

bool pawnGenerates(const Position& pos, int from, int to, PieceType type)
{
    const bool white = pos.sideToMove == kWhite;
    const int ahead = from + (white ? 8 : -8);
    if (!isSquare(ahead))
        return false;
    const bool promotes = rankOf(ahead) == (white ? 7 : 0);
    const bool typeFits = promotes ? isStandardPromotion(type) : type == PieceType::Pawn;
    if (to == ahead)
        return typeFits && pos.squares[ahead] == kEmpty;
    if (rankOf(to) != rankOf(ahead)) {
        const int twoAhead = ahead + (white ? 8 : -8);
        return to == twoAhead && type == PieceType::Pawn && rankOf(from) == (white ? 1 : 6) &&
               pos.squares[ahead] == kEmpty && pos.squares[twoAhead] == kEmpty;
    }
    const int sideways = fileOf(to) - fileOf(from);
    if (sideways != 1 && sideways != -1)
        return false;
    if (typeFits && isEnemy(pos, pos.squares[to]))
        return true;
    return type == PieceType::Pawn && pos.enPassant == 1 && rankOf(from) == (white ? 4 : 3) &&
           fileOf(to) == pos.enPassantFile;
}

bool stepGenerates(const Position& pos, const std::int8_t* targets, int count, int to)
{
    for (int i = 0; i < count; ++i) {
        if (targets[i] == to)
            return !isOwn(pos, pos.squares[to]);
    }
    return false;
}

// The ray from one square through another, for every pair of squares; -1 when they share
// no line.
constexpr auto kRayTowards = [] {
    std::array<std::array<std::int8_t, 64>, 64> rays{};
    for (int from = 0; from < 64; ++from) {
        for (int to = 0; to < 64; ++to) {
            const int files = fileOf(to) - fileOf(from);
            const int ranks = rankOf(to) - rankOf(from);
            int ray = -1;
            if (files == 0 && ranks != 0)
                ray = ranks > 0 ? Up : Down;
            else if (ranks == 0 && files != 0)
                ray = files > 0 ? Right : Left;
            else if (files != 0 && (files == ranks || files == -ranks))
                ray =
                    ranks > 0 ? (files > 0 ? UpRight : UpLeft) : (files > 0 ? DownRight : DownLeft);
            rays[from][to] = std::int8_t(ray);
        }
    }
    return rays;
}();

// A slider reaches `to` when it lies on one of the piece's lines, every square between is
// empty and `to` holds no piece of its own side: what the generator's ray walk lists.
bool slideGenerates(const Position& pos, int from, int to, bool diagonal)
{
    const int ray = kRayTowards[from][to];
    if (ray < 0 || (ray % 2 == 1) != diagonal || isOwn(pos, pos.squares[to]))
        return false;
    const int step = kRayOffset[ray];
    for (int square = from + step; square != to; square += step) {
        if (pos.squares[square] != kEmpty)
            return false;
    }
    return true;
}

// The generator's castling: king on its home square, rook in the corner, right not lost,
// squares between empty, the king's square and the one it crosses not attacked.
bool castlingGenerates(const Position& pos, int king, int to)
{
    const std::uint8_t rook = makePiece(PieceType::Rook, pos.sideToMove);
    const std::uint8_t* sq = pos.squares;
    const int side = pos.sideToMove;
    if (to == king + 2)
        return sq[king + 3] == rook && pos.castleKingsideLost[side] == 0 &&
               sq[king + 1] == kEmpty && sq[king + 2] == kEmpty && !isAttacked(pos, king + 1) &&
               !isAttacked(pos, king);
    return sq[king - 4] == rook && pos.castleQueensideLost[side] == 0 && sq[king - 1] == kEmpty &&
           sq[king - 2] == kEmpty && sq[king - 3] == kEmpty && !isAttacked(pos, king - 1) &&
           !isAttacked(pos, king);
}

// Standard chess: only the first king of the side (from a1 on) moves.
bool kingGenerates(const Position& pos, int from, int to, int king)
{
    if (from != king)
        return false;
    const MoveTables& tables = moveTables();
    if (stepGenerates(pos, tables.kingTargets[from], tables.kingCount[from], to))
        return true;
    const int home = pos.sideToMove == kWhite ? 4 : 60;
    return from == home && (to == home + 2 || to == home - 2) && castlingGenerates(pos, home, to);
}

bool standardGenerates(const Position& pos, Move move, int king)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const std::uint8_t piece = pos.squares[from];
    if (!isOwn(pos, piece))
        return false;
    const PieceType moving = typeOf(piece);
    const PieceType type = pieceTypeOf(move);
    if (moving == PieceType::Pawn)
        return pawnGenerates(pos, from, to, type);
    if (type != moving)
        return false;
    const MoveTables& tables = moveTables();
    switch (moving) {
    case PieceType::Knight:
        return stepGenerates(pos, tables.knightTargets[from], tables.knightCount[from], to);
    case PieceType::Bishop: return slideGenerates(pos, from, to, true);
    case PieceType::Rook: return slideGenerates(pos, from, to, false);
    case PieceType::Queen:
        return slideGenerates(pos, from, to, true) || slideGenerates(pos, from, to, false);
    case PieceType::King: return kingGenerates(pos, from, to, king);
    default: return false;
    }
}

bool generatedInList(const Position& pos, Move move, bool nonstandard)
{
    MoveList list;
    const int count = generateMoves(pos, list, nonstandard);
    for (int i = 0; i < count; ++i) {
        if (list[i] == move)
            return true;
    }
    return false;
}

// Whether a rook, bishop or queen moves along the ray.
bool slidesAlong(PieceType type, int ray)
{
    return type == PieceType::Queen || type == (ray % 2 == 0 ? PieceType::Rook : PieceType::Bishop);
}

// Whether the first piece met from the king along the ray towards `through` is a rook,
// bishop or queen of attacker's side that moves along that ray. The squares vacated and
// occupied count as empty and occupied whatever the board says (a move not yet played).
bool sliderOnRay(const Position& pos, int king, int through, int attacker, int vacated = kNoSquare,
                 int occupied = kNoSquare)
{
    const int ray = kRayTowards[king][through];
    if (ray < 0)
        return false;
    const int step = kRayOffset[ray];
    int square = king;
    for (int n = moveTables().rayLength[king][ray]; n > 0; --n) {
        square += step;
        if (square == occupied)
            return false;
        const std::uint8_t piece = pos.squares[square];
        if (piece == kEmpty || square == vacated)
            continue;
        return colourOf(piece) == attacker && slidesAlong(typeOf(piece), ray);
    }
    return false;
}

// Whether a knight, pawn or king of its colour on `from` attacks the square.
bool leaperAttacks(std::uint8_t piece, int from, int square)
{
    const int files = fileOf(square) - fileOf(from);
    const int ranks = rankOf(square) - rankOf(from);
    switch (typeOf(piece)) {
    case PieceType::Knight: return files * files + ranks * ranks == 5;
    case PieceType::Pawn:
        return (files == 1 || files == -1) && ranks == (colourOf(piece) == kWhite ? 1 : -1);
    case PieceType::King: return files >= -1 && files <= 1 && ranks >= -1 && ranks <= 1;
    default: return false;
    }
}

} // namespace

LineLegality::LineLegality(const Position& start)
{
    int kings[2] = {0, 0};
    for (int square = 0; square < 64; ++square) {
        const std::uint8_t piece = start.squares[square];
        if (piece != kEmpty && typeOf(piece) == PieceType::King) {
            m_king[colourOf(piece)] = square;
            ++kings[colourOf(piece)];
        }
    }
    if (kings[kWhite] != 1 || kings[kBlack] != 1)
        return;
    // The side that moved last must not be in check: then no piece that the next move leaves
    // alone can attack the king it is played against.
    Position other = start;
    other.sideToMove ^= 1;
    if (isAttacked(other, m_king[other.sideToMove]))
        return;
    m_followed = true;
    m_inCheck = isAttacked(start, m_king[start.sideToMove]);
}

bool LineLegality::isListed(const Position& pos, Move move) const
{
    if (!m_followed)
        return isListedMove(pos, move, false);
    const int king = m_king[pos.sideToMove];
    if (!standardGenerates(pos, move, king))
        return false;
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const PieceType moving = typeOf(pos.squares[from]);
    const bool enPassant =
        moving == PieceType::Pawn && fileOf(from) != fileOf(to) && pos.squares[to] == kEmpty;
    if (m_inCheck || moving == PieceType::King || enPassant) {
        Position scratch = pos;
        return !leavesKingAttacked(scratch, move, king);
    }
    return !sliderOnRay(pos, king, from, pos.sideToMove ^ 1, from, to);
}

void LineLegality::played(const Position& before, Move move, const Position& after)
{
    if (!m_followed)
        return;
    const int mover = before.sideToMove;
    const int from = fromSquare(move);
    const int to = toSquare(move);
    // Besides from and to, the move may have left a square (the rook's corner of a castling,
    // the pawn taken en passant) and taken one (the rook's square after castling).
    int left = kNoSquare;
    int taken = kNoSquare;
    const PieceType moving = typeOf(before.squares[from]);
    if (moving == PieceType::King) {
        m_king[mover] = to;
        const RookMove rook = castlingRook(from, to);
        left = rook.from;
        taken = rook.to;
    } else if (moving == PieceType::Pawn && fileOf(from) != fileOf(to) &&
               before.squares[to] == kEmpty) {
        left = enPassantVictim(mover, to);
    }
    // Only what the move changed can attack the other king: before it, nothing did. A
    // square taken attacks along its line only with a piece that slides along it.
    const int king = m_king[mover ^ 1];
    const auto attacksFrom = [&](int square) {
        const int ray = kRayTowards[king][square];
        return ray >= 0 && slidesAlong(typeOf(after.squares[square]), ray) &&
               sliderOnRay(after, king, square, mover);
    };
    m_inCheck = leaperAttacks(after.squares[to], to, king) || attacksFrom(to) ||
                sliderOnRay(after, king, from, mover) ||
                (left != kNoSquare && sliderOnRay(after, king, left, mover)) ||
                (taken != kNoSquare && attacksFrom(taken));
}

bool isPlayable(const Position& pos, Move move)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const std::uint8_t piece = pos.squares[from];
    if (piece == kEmpty || colourOf(piece) != pos.sideToMove)
        return false;
    if (typeOf(piece) == PieceType::Pawn && fileOf(from) != fileOf(to) && pos.squares[to] == kEmpty)
        return isSquare(to + (pos.sideToMove == kWhite ? -8 : 8));
    return true;
}

bool playMove(Position& pos, Move move)
{
    if (!isPlayable(pos, move))
        return false;
    makeMove(pos, move);
    return true;
}

bool isListedMove(const Position& pos, Move move, bool nonstandard)
{
    if (nonstandard)
        return generatedInList(pos, move, true);
    // legalMoves judges every generated move with the king square of the side to move's
    // first king, which is also the one king that moves in standard chess.
    const int king = findKing(pos);
    if (!standardGenerates(pos, move, king))
        return false;
    Position scratch = pos;
    return !leavesKingAttacked(scratch, move, king);
}

} // namespace vez
