#include "interchange/move_check.h"

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

// A slider reaches `to` when it lies on one of the piece's lines, every square between is
// empty and `to` holds no piece of its own side: what the generator's ray walk lists.
bool slideGenerates(const Position& pos, int from, int to, bool diagonal)
{
    const int files = fileOf(to) - fileOf(from);
    const int ranks = rankOf(to) - rankOf(from);
    if ((files == 0 && ranks == 0) || isOwn(pos, pos.squares[to]))
        return false;
    const bool straightLine = files == 0 || ranks == 0;
    const bool diagonalLine = files == ranks || files == -ranks;
    if (diagonal ? !diagonalLine : !straightLine)
        return false;
    const int step = (files > 0) - (files < 0) + 8 * ((ranks > 0) - (ranks < 0));
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

} // namespace

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
