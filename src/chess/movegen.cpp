#include "chess/movegen.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vez {

namespace {

constexpr MoveTables buildMoveTables()
{
    // Knight steps as (file, rank): square offsets +6, +15, +17, +10, -6, -15, -17, -10.
    constexpr int kKnightSteps[8][2] = {{-2, 1}, {-1, 2}, {1, 2},   {2, 1},
                                        {2, -1}, {1, -2}, {-1, -2}, {-2, -1}};
    MoveTables t{};
    for (int sq = 0; sq < 64; ++sq) {
        int file = fileOf(sq);
        int rank = rankOf(sq);
        std::uint8_t* ray = t.rayLength[sq];
        ray[Up] = std::uint8_t(7 - rank);
        ray[UpRight] = std::uint8_t(7 - rank < 7 - file ? 7 - rank : 7 - file);
        ray[Right] = std::uint8_t(7 - file);
        ray[DownRight] = std::uint8_t(rank < 7 - file ? rank : 7 - file);
        ray[Down] = std::uint8_t(rank);
        ray[DownLeft] = std::uint8_t(rank < file ? rank : file);
        ray[Left] = std::uint8_t(file);
        ray[UpLeft] = std::uint8_t(7 - rank < file ? 7 - rank : file);

        int count = 0;
        for (const auto& step : kKnightSteps) {
            int f = file + step[0];
            int r = rank + step[1];
            if (f >= 0 && f < 8 && r >= 0 && r < 8)
                t.knightTargets[sq][count++] = std::int8_t(makeSquare(f, r));
        }
        t.knightCount[sq] = std::uint8_t(count);

        count = 0;
        for (int dir = 0; dir < 8; ++dir) {
            if (ray[dir] > 0)
                t.kingTargets[sq][count++] = std::int8_t(sq + kRayOffset[dir]);
        }
        t.kingCount[sq] = std::uint8_t(count);
    }
    return t;
}

constexpr MoveTables kTables = buildMoveTables();

// For each square and ray, the squares along the ray as a bit set (a1 = bit 0).
struct RayMasks {
    std::uint64_t ray[64][8];
    std::uint64_t rookLines[64];   // the four straight rays together
    std::uint64_t bishopLines[64]; // the four diagonal ones
};

constexpr RayMasks buildRayMasks()
{
    RayMasks m{};
    for (int sq = 0; sq < 64; ++sq) {
        for (int dir = 0; dir < 8; ++dir) {
            int to = sq;
            for (int n = kTables.rayLength[sq][dir]; n > 0; --n) {
                to += kRayOffset[dir];
                m.ray[sq][dir] |= std::uint64_t(1) << to;
            }
            (dir % 2 == 0 ? m.rookLines : m.bishopLines)[sq] |= m.ray[sq][dir];
        }
    }
    return m;
}

constexpr RayMasks kRayMasks = buildRayMasks();

// For each square, the squares from which a knight, a king, or a pawn of either colour
// attacks it, as bit sets.
struct StepMasks {
    std::uint64_t knight[64];
    std::uint64_t king[64];
    std::uint64_t pawn[2][64]; // indexed by the pawn's colour
};

constexpr StepMasks buildStepMasks()
{
    StepMasks m{};
    for (int sq = 0; sq < 64; ++sq) {
        for (int i = 0; i < kTables.knightCount[sq]; ++i)
            m.knight[sq] |= std::uint64_t(1) << kTables.knightTargets[sq][i];
        for (int i = 0; i < kTables.kingCount[sq]; ++i)
            m.king[sq] |= std::uint64_t(1) << kTables.kingTargets[sq][i];
        // A black pawn attacks from the rank above, a white one from the rank below.
        for (int colour : {kWhite, kBlack}) {
            const int rank = rankOf(sq) + (colour == kWhite ? -1 : 1);
            if (rank < 0 || rank > 7)
                continue;
            if (fileOf(sq) > 0)
                m.pawn[colour][sq] |= std::uint64_t(1) << makeSquare(fileOf(sq) - 1, rank);
            if (fileOf(sq) < 7)
                m.pawn[colour][sq] |= std::uint64_t(1) << makeSquare(fileOf(sq) + 1, rank);
        }
    }
    return m;
}

constexpr StepMasks kStepMasks = buildStepMasks();

// The rays whose squares have higher numbers than the square they start from.
constexpr bool risingRay(int dir) { return kRayOffset[dir] > 0; }

// For each of the given bytes, the squares whose byte, masked, equals it, as bit sets.
template <std::size_t N>
std::array<std::uint64_t, N> squaresHolding(const Position& pos, const std::array<std::uint8_t, N>& bytes,
                                            std::uint8_t mask = 0xFF)
{
    std::array<std::uint64_t, N> sets{};
#if defined(__SSE2__)
    for (int i = 0; i < 4; ++i) {
        const __m128i row =
            _mm_and_si128(_mm_set1_epi8(char(mask)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos.squares + 16 * i)));
        for (std::size_t b = 0; b < N; ++b) {
            const __m128i equal = _mm_cmpeq_epi8(row, _mm_set1_epi8(char(bytes[b])));
            sets[b] |= std::uint64_t(unsigned(_mm_movemask_epi8(equal))) << (16 * i);
        }
    }
#else
    for (int sq = 0; sq < 64; ++sq) {
        for (std::size_t b = 0; b < N; ++b)
            sets[b] |= std::uint64_t((pos.squares[sq] & mask) == bytes[b]) << sq;
    }
#endif
    return sets;
}

// The squares holding a piece of the side.
std::uint64_t squaresOfSide(const Position& pos, int side)
{
    const auto [empty] = squaresHolding<1>(pos, {kEmpty});
    const auto [ofColour] = squaresHolding<1>(pos, {std::uint8_t(side << 3)}, kColourBit);
    return ofColour & ~empty;
}

// The nearest occupied square on the ray, which must hold one.
int nearestOn(int square, int dir, std::uint64_t occupied)
{
    const std::uint64_t blockers = kRayMasks.ray[square][dir] & occupied;
    return risingRay(dir) ? std::countr_zero(blockers) : 63 - std::countl_zero(blockers);
}

static_assert(kTables.knightCount[0] == 2 && kTables.knightCount[27] == 8);
static_assert(kTables.kingCount[0] == 3 && kTables.kingCount[27] == 8);
static_assert(kTables.knightTargets[1][0] == 16 && kTables.knightTargets[1][1] == 18);

constexpr Ray kBishopRays[4] = {UpRight, DownRight, DownLeft, UpLeft};
constexpr Ray kRookRays[4] = {Up, Right, Down, Left};

// Appends moves to the caller's list, dropping whatever would not fit.
struct MoveSink {
    MoveList& list;
    int count = 0;

    void add(int from, int to, PieceType type)
    {
        if (count < kMaxMoves)
            list[count++] = encodeMove(from, to, type);
    }
    static constexpr bool done() { return false; }
};

// A sink that has done once one move is in the list: a generation that stops there tells
// the move's place among the moves generated before it.
struct FindingSink {
    MoveList& list;
    Move wanted;
    int count = 0;
    int found = -1; // the wanted move's place

    void add(int from, int to, PieceType type)
    {
        if (count == kMaxMoves)
            return;
        const Move m = encodeMove(from, to, type);
        if (m == wanted)
            found = count;
        list[count++] = m;
    }
    bool done() const { return found >= 0; }
};

template <class Sink>
struct Generator {
    const Position& pos;
    Sink out;
    bool nonstandard;
    int side;

    bool isOwn(std::uint8_t piece) const { return piece != kEmpty && colourOf(piece) == side; }
    bool isEnemy(std::uint8_t piece) const { return piece != kEmpty && colourOf(piece) != side; }

    void pawnTarget(int from, int to, bool promotes)
    {
        if (!promotes) {
            out.add(from, to, PieceType::Pawn);
            return;
        }
        out.add(from, to, PieceType::Knight);
        out.add(from, to, PieceType::Bishop);
        out.add(from, to, PieceType::Rook);
        out.add(from, to, PieceType::Queen);
        if (nonstandard)
            out.add(from, to, PieceType::King);
    }

    void pawnMoves(int sq)
    {
        const int dir = side == kWhite ? 8 : -8;
        const int startRank = side == kWhite ? 1 : 6;
        const int promotionRank = side == kWhite ? 7 : 0;
        const int enPassantRank = side == kWhite ? 4 : 3;
        const int f = sq + dir;
        if (!isSquare(f))
            return; // a pawn standing on its last rank (set-up positions only)
        const bool promotes = rankOf(f) == promotionRank;
        if (pos.squares[f] == kEmpty) {
            pawnTarget(sq, f, promotes);
            if (!promotes && rankOf(sq) == startRank && pos.squares[f + dir] == kEmpty)
                out.add(sq, f + dir, PieceType::Pawn);
        }
        if (fileOf(sq) != 0 && isEnemy(pos.squares[f - 1]))
            pawnTarget(sq, f - 1, promotes);
        if (fileOf(sq) != 7 && isEnemy(pos.squares[f + 1]))
            pawnTarget(sq, f + 1, promotes);
        if (pos.enPassant == 1 && rankOf(sq) == enPassantRank) {
            if (fileOf(sq) - 1 == pos.enPassantFile)
                out.add(sq, f - 1, PieceType::Pawn);
            else if (fileOf(sq) + 1 == pos.enPassantFile)
                out.add(sq, f + 1, PieceType::Pawn);
        }
    }

    void stepMoves(int sq, const std::int8_t* targets, int count, PieceType type)
    {
        for (int i = 0; i < count; ++i) {
            if (!isOwn(pos.squares[targets[i]]))
                out.add(sq, targets[i], type);
        }
    }

    void kingSteps(int sq) { stepMoves(sq, kTables.kingTargets[sq], kTables.kingCount[sq], PieceType::King); }

    void slide(int sq, const Ray* rays, PieceType type)
    {
        for (int r = 0; r < 4; ++r) {
            const int offset = kRayOffset[rays[r]];
            int to = sq;
            for (int n = kTables.rayLength[sq][rays[r]]; n > 0; --n) {
                to += offset;
                const std::uint8_t piece = pos.squares[to];
                if (isOwn(piece))
                    break;
                out.add(sq, to, type);
                if (piece != kEmpty)
                    break;
            }
        }
    }

    void castling(int king)
    {
        const std::uint8_t rook = makePiece(PieceType::Rook, side);
        const std::uint8_t* sq = pos.squares;
        if (sq[king + 3] == rook && pos.castleKingsideLost[side] == 0 && sq[king + 1] == kEmpty &&
            sq[king + 2] == kEmpty && !isAttacked(pos, king + 1) && !isAttacked(pos, king))
            out.add(king, king + 2, PieceType::King);
        if (sq[king - 4] == rook && pos.castleQueensideLost[side] == 0 && sq[king - 1] == kEmpty &&
            sq[king - 2] == kEmpty && sq[king - 3] == kEmpty && !isAttacked(pos, king - 1) &&
            !isAttacked(pos, king))
            out.add(king, king - 2, PieceType::King);
    }

    // The king's moves come after every other piece's. A further king of a
    // nonstandard set-up steps at its own place in the scan, unless it stands on its
    // home square: then the king remembered so far steps here and the home king is
    // deferred instead.
    void run()
    {
        const int home = side == kWhite ? 4 : 60;
        int remembered = kNoSquare;
        for (std::uint64_t own = squaresOfSide(pos, side); own != 0; own &= own - 1) {
            const int sq = std::countr_zero(own);
            const std::uint8_t piece = pos.squares[sq];
            switch (typeOf(piece)) {
            case PieceType::Pawn:
                pawnMoves(sq);
                break;
            case PieceType::Knight:
                stepMoves(sq, kTables.knightTargets[sq], kTables.knightCount[sq], PieceType::Knight);
                break;
            case PieceType::Bishop:
                slide(sq, kBishopRays, PieceType::Bishop);
                break;
            case PieceType::Rook:
                slide(sq, kRookRays, PieceType::Rook);
                break;
            case PieceType::Queen:
                slide(sq, kBishopRays, PieceType::Queen);
                slide(sq, kRookRays, PieceType::Queen);
                break;
            case PieceType::King:
                if (remembered == kNoSquare) {
                    remembered = sq;
                } else if (nonstandard) {
                    if (sq != home) {
                        kingSteps(sq);
                    } else {
                        kingSteps(remembered);
                        remembered = sq;
                    }
                }
                break;
            default:
                break;
            }
            if (out.done())
                return;
        }
        if (remembered == kNoSquare)
            return;
        kingSteps(remembered);
        if (remembered == home)
            castling(remembered);
    }
};

} // namespace

const MoveTables& moveTables() { return kTables; }

int generateMoves(const Position& pos, MoveList& list, bool nonstandard)
{
    Generator<MoveSink> gen{pos, MoveSink{list}, nonstandard, pos.sideToMove};
    gen.run();
    return gen.out.count;
}

namespace {

// The pieces of the side not to move, read from the board in one pass, that may attack a
// square: a knight, king or pawn from its own set of squares, a rook, bishop or queen when
// it is the nearest piece on one of its rays from the square.
struct Attackers {
    int enemy;
    std::uint64_t empty, rooks, bishops, queens, knights, kings, pawns;

    explicit Attackers(const Position& pos) : enemy(pos.sideToMove ^ 1)
    {
        const auto sets = squaresHolding<7>(
            pos, {kEmpty, makePiece(PieceType::Rook, enemy), makePiece(PieceType::Bishop, enemy),
                  makePiece(PieceType::Queen, enemy), makePiece(PieceType::Knight, enemy),
                  makePiece(PieceType::King, enemy), makePiece(PieceType::Pawn, enemy)});
        empty = sets[0], rooks = sets[1], bishops = sets[2], queens = sets[3];
        knights = sets[4], kings = sets[5], pawns = sets[6];
    }

    bool attack(int square) const
    {
        if (((knights & kStepMasks.knight[square]) | (kings & kStepMasks.king[square]) |
             (pawns & kStepMasks.pawn[enemy][square])) != 0)
            return true;
        const std::uint64_t straight = (rooks | queens) & kRayMasks.rookLines[square];
        const std::uint64_t diagonal = (bishops | queens) & kRayMasks.bishopLines[square];
        if ((straight | diagonal) == 0) // most squares have none on any of their lines
            return false;
        for (int dir = 0; dir < 8; ++dir) {
            const std::uint64_t sliders = dir % 2 == 0 ? straight : diagonal;
            if ((sliders & kRayMasks.ray[square][dir]) != 0 &&
                (sliders >> nearestOn(square, dir, ~empty) & 1) != 0)
                return true;
        }
        return false;
    }
};

} // namespace

bool isAttacked(const Position& pos, int square)
{
    assert(isSquare(square) && "callers check findKing's result before asking");
    return Attackers(pos).attack(square);
}

bool leavesKingAttacked(Position& pos, Move move, int kingSquare)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    const int side = pos.sideToMove;
    std::uint8_t* sq = pos.squares;
    const std::uint8_t moving = sq[from];
    const std::uint8_t oldTo = sq[to];

    // Squares changed besides from and to (the castling rook, or the pawn taken en
    // passant), with what stood there, so that everything is restored exactly.
    int extra[2] = {kNoSquare, kNoSquare};
    std::uint8_t extraOld[2] = {kEmpty, kEmpty};
    int testSquare = kingSquare;
    if (typeOf(moving) == PieceType::King) {
        const RookMove rook = castlingRook(from, to);
        if (rook.from != kNoSquare) {
            extra[0] = rook.to;
            extraOld[0] = sq[rook.to];
            sq[rook.to] = makePiece(PieceType::Rook, side);
            extra[1] = rook.from;
            extraOld[1] = sq[rook.from];
            sq[rook.from] = kEmpty;
        }
        testSquare = to;
    } else if (typeOf(moving) == PieceType::Pawn && fileOf(from) != fileOf(to) && oldTo == kEmpty) {
        const int victim = enPassantVictim(side, to);
        if (victim != kNoSquare) {
            extra[0] = victim;
            extraOld[0] = sq[victim];
            sq[victim] = kEmpty;
        }
    }
    sq[from] = kEmpty;
    sq[to] = makePiece(pieceTypeOf(move), side);

    const bool attacked = isSquare(testSquare) && isAttacked(pos, testSquare);

    sq[to] = oldTo;
    sq[from] = moving;
    for (int i = 1; i >= 0; --i) {
        if (extra[i] != kNoSquare)
            sq[extra[i]] = extraOld[i];
    }
    return attacked;
}

namespace {

// The squares of the pieces that stand between the king and an enemy rook, bishop or
// queen on one of its lines, with nothing else between: the pieces a move may unpin.
std::uint64_t pinnedSquares(const Position& pos, int king)
{
    const int enemy = pos.sideToMove ^ 1;
    const auto [empty, rooks, bishops, queens] = squaresHolding<4>(
        pos, {kEmpty, makePiece(PieceType::Rook, enemy), makePiece(PieceType::Bishop, enemy),
              makePiece(PieceType::Queen, enemy)});
    const std::uint64_t straight = (rooks | queens) & kRayMasks.rookLines[king];
    const std::uint64_t diagonal = (bishops | queens) & kRayMasks.bishopLines[king];
    std::uint64_t pinned = 0;
    for (int dir = 0; dir < 8 && (straight | diagonal) != 0; ++dir) {
        const std::uint64_t sliders = dir % 2 == 0 ? straight : diagonal;
        if ((sliders & kRayMasks.ray[king][dir]) == 0)
            continue;
        const int first = nearestOn(king, dir, ~empty);
        if ((sliders >> first & 1) != 0 || (kRayMasks.ray[first][dir] & ~empty) == 0)
            continue;
        if ((sliders >> nearestOn(first, dir, ~empty) & 1) != 0)
            pinned |= std::uint64_t(1) << first;
    }
    return pinned;
}

// Which generated moves may leave the king (on king, or kNoSquare) attacked. Out of check,
// a move of another piece than the king can only expose the king by leaving a square where
// it stands pinned, or by taking en passant: other moves need no test.
struct KingExposure {
    const Position& pos;
    int king;
    bool inCheck;
    std::uint64_t pinned;

    KingExposure(const Position& p, int k)
        : pos(p), king(k), inCheck(isSquare(k) && isAttacked(p, k)),
          pinned(isSquare(k) ? pinnedSquares(p, k) : 0)
    {
    }

    bool needsTest(Move move) const
    {
        const int from = fromSquare(move);
        const int to = toSquare(move);
        const std::uint8_t piece = pos.squares[from];
        if (inCheck || typeOf(piece) == PieceType::King)
            return true;
        if (typeOf(piece) == PieceType::Pawn && fileOf(from) != fileOf(to) && pos.squares[to] == kEmpty)
            return true;
        return (pinned >> from & 1) != 0;
    }
};

// Removes from the generated list the moves that leave the king attacked, in the order
// legalMoves defines (an illegal move is replaced by the last one), until stop says so for
// a legal move at its final place; returns that place, or the legal count when stop never
// does. The king is the one of the side to move that the generator lets step.
template <class Stop>
int filterLegal(const KingExposure& exposure, MoveList& list, int n, Stop stop)
{
    const Position& pos = exposure.pos;
    const int king = exposure.king;
    Position scratch = pos;
    // A king's step that does not castle is judged on the board with the king's square
    // empty: the attackers are read once for all the steps of the list.
    std::optional<Attackers> kingGone;
    const auto leavesAttacked = [&](Move move) {
        const int from = fromSquare(move);
        const int to = toSquare(move);
        if (from != king || typeOf(pos.squares[from]) != PieceType::King ||
            castlingRook(from, to).from != kNoSquare)
            return leavesKingAttacked(scratch, move, king);
        if (!kingGone) {
            kingGone.emplace(pos);
            kingGone->empty |= std::uint64_t(1) << king;
        }
        return kingGone->attack(to);
    };
    int i = 0;
    while (i < n) {
        if (exposure.needsTest(list[i]) && leavesAttacked(list[i]))
            list[i] = list[--n];
        else if (stop(list[i]))
            return i;
        else
            ++i;
    }
    return n;
}

} // namespace

int legalMoves(const Position& pos, MoveList& list, bool nonstandard)
{
    const int n = generateMoves(pos, list, nonstandard);
    if (nonstandard || n == 0)
        return n;
    // The king's steps come last: the last move names the king, when it steps at all.
    const Move last = list[n - 1];
    const int king = pieceTypeOf(last) == PieceType::King ? fromSquare(last) : findKing(pos);
    return filterLegal(KingExposure(pos, king), list, n, [](Move) { return false; });
}

int legalMoveIndex(const Position& pos, Move move, bool nonstandard)
{
    MoveList list;
    if (nonstandard) {
        const int n = generateMoves(pos, list, true);
        const int i = int(std::find(list.begin(), list.begin() + n, move) - list.begin());
        return i < n ? i : -1;
    }
    const KingExposure exposure(pos, findKing(pos));
    if (pieceTypeOf(move) != PieceType::King) {
        // The moves of other pieces than the king come first, so the move's place is where
        // the generator puts it when no move up to it needs a test. Otherwise the moves are
        // filtered as legalMoves does.
        Generator<FindingSink> gen{pos, FindingSink{list, move}, false, pos.sideToMove};
        gen.run();
        const int at = gen.out.found;
        if (at < 0)
            return -1;
        if (std::none_of(list.begin(), list.begin() + at + 1,
                         [&](Move m) { return exposure.needsTest(m); }))
            return at;
    }
    const int n = generateMoves(pos, list, false);
    // The list is filtered only as far as the move's place.
    bool found = false;
    const int i = filterLegal(exposure, list, n, [&](Move m) { return found = m == move; });
    return found ? i : -1;
}

bool isLegalMove(const Position& pos, Move move)
{
    MoveList list;
    const int n = legalMoves(pos, list, false);
    for (int i = 0; i < n; ++i) {
        if (list[i] == move)
            return true;
    }
    return false;
}

int piecesReaching(const Position& pos, PieceType type, int target, int (&out)[8])
{
    if (!isSquare(target))
        return 0;
    const std::uint8_t wanted = makePiece(type, pos.sideToMove);
    int n = 0;
    auto scanTargets = [&](const std::int8_t* targets, int count) {
        for (int i = 0; i < count; ++i) {
            if (pos.squares[targets[i]] == wanted)
                out[n++] = targets[i];
        }
    };
    auto scanRays = [&](std::initializer_list<Ray> rays) {
        const auto [empty, pieces] = squaresHolding<2>(pos, {kEmpty, wanted});
        for (Ray ray : rays) {
            if ((pieces & kRayMasks.ray[target][ray]) == 0)
                continue;
            const int to = nearestOn(target, ray, ~empty);
            if (pos.squares[to] == wanted)
                out[n++] = to;
        }
    };
    switch (type) {
    case PieceType::Knight:
        scanTargets(kTables.knightTargets[target], kTables.knightCount[target]);
        break;
    case PieceType::Bishop:
        scanRays({UpRight, UpLeft, DownRight, DownLeft});
        break;
    case PieceType::Rook:
        scanRays({Up, Right, Down, Left});
        break;
    case PieceType::Queen:
        scanRays({Up, Right, Down, Left, UpRight, UpLeft, DownRight, DownLeft});
        break;
    case PieceType::King:
        scanTargets(kTables.kingTargets[target], kTables.kingCount[target]);
        break;
    default:
        break;
    }
    return n;
}

} // namespace vez
