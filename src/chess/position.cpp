#include "chess/position.h"

#include <bit>

namespace vez {

void setStandardStart(Position& pos)
{
    static constexpr PieceType kBackRank[8] = {PieceType::Rook,  PieceType::Knight, PieceType::Bishop,
                                               PieceType::Queen, PieceType::King,   PieceType::Bishop,
                                               PieceType::Knight, PieceType::Rook};
    pos = Position{};
    for (int file = 0; file < 8; ++file) {
        pos.squares[makeSquare(file, 0)] = makePiece(kBackRank[file], kWhite);
        pos.squares[makeSquare(file, 1)] = makePiece(PieceType::Pawn, kWhite);
        pos.squares[makeSquare(file, 6)] = makePiece(PieceType::Pawn, kBlack);
        pos.squares[makeSquare(file, 7)] = makePiece(kBackRank[file], kBlack);
    }
}

namespace {

// The bounds checks of castlingRook only keep odd parser input on the board.
void castleRook(Position& pos, int side, int from, int to)
{
    const RookMove rook = castlingRook(from, to);
    if (rook.from != kNoSquare) {
        pos.squares[rook.to] = makePiece(PieceType::Rook, side);
        pos.squares[rook.from] = kEmpty;
    }
}

// Losing castling rights when a rook leaves its own corner or is captured on one.
// Only the first applicable branch of makeMove runs, which decides which stored
// positions compare equal: a rook or king capturing a rook on its corner leaves the
// captured side's flags alone.
void rookLeaves(Position& pos, int side, int from)
{
    int home = side == kWhite ? 0 : 56;
    if (from == home)
        pos.castleQueensideLost[side] = 1;
    else if (from == home + 7)
        pos.castleKingsideLost[side] = 1;
}

void pawnMoved(Position& pos, int side, int from, int to, std::uint8_t captured)
{
    int enemy = side ^ 1;
    if (fileOf(from) != fileOf(to) && captured == kEmpty) {
        // En passant; a sideways move on the edge rank (odd parser input) has no victim.
        const int victim = enPassantVictim(side, to);
        if (victim != kNoSquare)
            pos.squares[victim] = kEmpty;
        return;
    }
    if (to != (side == kWhite ? from + 16 : from - 16))
        return;
    std::uint8_t enemyPawn = makePiece(PieceType::Pawn, enemy);
    bool left = fileOf(to) != 0 && pos.squares[to - 1] == enemyPawn;
    bool right = fileOf(to) != 7 && pos.squares[to + 1] == enemyPawn;
    if (left || right) {
        pos.enPassant = 1;
        pos.enPassantFile = fileOf(to);
    }
}

} // namespace

int makeMove(Position& pos, Move move)
{
    int from = fromSquare(move);
    int to = toSquare(move);
    PieceType moving = typeOf(pos.squares[from]);
    std::uint8_t captured = pos.squares[to];
    int side = pos.sideToMove;

    pos.squares[from] = kEmpty;
    pos.squares[to] = makePiece(pieceTypeOf(move), side);
    pos.enPassant = 0;

    if (moving == PieceType::King) {
        castleRook(pos, side, from, to);
        pos.castleKingsideLost[side] = 1;
        pos.castleQueensideLost[side] = 1;
    } else if (moving == PieceType::Rook) {
        rookLeaves(pos, side, from);
    } else if (typeOf(captured) == PieceType::Rook) {
        rookLeaves(pos, side ^ 1, to);
    } else if (moving == PieceType::Pawn) {
        pawnMoved(pos, side, from, to, captured);
    }
    pos.sideToMove = side ^ 1;
    return pos.sideToMove;
}

bool samePosition(const Position& a, const Position& b)
{
    if (a.sideToMove != b.sideToMove || a.enPassant != b.enPassant)
        return false;
    if (a.enPassant == 1 && a.enPassantFile != b.enPassantFile)
        return false;
    for (int colour = 0; colour < 2; ++colour) {
        if (a.castleKingsideLost[colour] != b.castleKingsideLost[colour] ||
            a.castleQueensideLost[colour] != b.castleQueensideLost[colour])
            return false;
    }
    for (int sq = 0; sq < 64; ++sq) {
        if (a.squares[sq] != b.squares[sq])
            return false;
    }
    return true;
}

int findKing(const Position& pos)
{
    const std::uint64_t king = makePiece(PieceType::King, pos.sideToMove) * kEveryByte;
    for (int rank = 0; rank < 8; ++rank) {
        // The high bit of each byte that equals the king.
        const std::uint64_t equal = ~nonZeroBytes(rankWord(pos, rank) ^ king) & (kEveryByte << 7);
        if (equal != 0)
            return rank * 8 + std::countr_zero(equal) / 8;
    }
    return kNoSquare;
}

} // namespace vez
