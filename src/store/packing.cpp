#include "store/packing.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "store/records.h"

namespace vez {

namespace {

int nibbleAt(const PackedPosition& key, int index)
{
    const std::uint8_t b = key.bytes[8 + index / 2];
    return index % 2 == 0 ? b >> 4 : b & 15;
}

// Which pawns of the side not to move carry the side-to-move mark (code 0).
struct PawnMarking {
    int epRank;           // rank index of a pawn that has just advanced two squares
    int markedEpSquare;   // en passant possible: only this pawn is marked
    bool markEpRankPawns; // two or more pawns on the en-passant rank are all marked
};

PawnMarking pawnMarking(const Position& pos)
{
    const int mover = pos.sideToMove;
    const int other = mover ^ 1;
    PawnMarking m{mover == kWhite ? 4 : 3, kNoSquare, false};
    if (pos.enPassant == 1) {
        m.markedEpSquare = makeSquare(pos.enPassantFile & 7, m.epRank);
        return m;
    }
    // The high bit of each byte of the rank that holds such a pawn: are two or more set?
    const std::uint64_t pawns = makePiece(PieceType::Pawn, other) * kEveryByte;
    const std::uint64_t onEpRank =
        ~nonZeroBytes(rankWord(pos, m.epRank) ^ pawns) & (kEveryByte << 7);
    m.markEpRankPawns = (onEpRank & (onEpRank - 1)) != 0;
    return m;
}

// The squares where a pawn of the side not to move carries the mark.
std::uint64_t markableSquares(const PawnMarking& marking)
{
    if (marking.markedEpSquare != kNoSquare)
        return std::uint64_t(1) << marking.markedEpSquare;
    if (marking.markEpRankPawns)
        return ~std::uint64_t(0);
    return ~(std::uint64_t(0xFF) << (marking.epRank * 8));
}

} // namespace

namespace {

constexpr std::uint64_t kHigh = kEveryByte << 7;
constexpr std::uint64_t kOnes = kEveryByte;

// The 8 x 8 bits of a word with rows and columns exchanged: bit 8 * i + j goes to 8 * j + i.
std::uint64_t transposed(std::uint64_t x)
{
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAull;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCull;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0ull;
    return x ^ t ^ (t << 28);
}

// The 8 bits of a row spread to the high bits of its 8 bytes (bit f to byte f).
std::uint64_t spreadBits(unsigned bits)
{
    return nonZeroBytes((std::uint64_t(bits & 0xFF) * kOnes) & 0x8040201008040201ull);
}

// std::popcount without the processor's own instruction (not in the baseline instruction
// set) is a call into the compiler's library; this is the same count in a few operations.
int countBits(std::uint64_t x)
{
    x -= (x >> 1) & 0x5555555555555555ull;
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return int((x * kOnes) >> 56);
}

// The codes of a key, word n in bits 64 n and up. Made and handed back in registers: two
// words written to memory and read back at once as one would wait for the writes.
__extension__ typedef unsigned __int128 Codes;

// Writes the key of the occupied squares (bit s for square s) and their codes, in the
// key's order.
void storeKey(std::uint64_t squares, Codes codes, PackedPosition& out)
{
    // Byte f: bit r where file f of rank r is occupied.
    const std::uint64_t occupancy = transposed(squares);
    const auto low = std::uint64_t(codes), high = std::uint64_t(codes >> 64);
#if defined(__SSE2__)
    // The first 16 bytes in one write, as the hashes read them back at once: a read that
    // spans two writes still on their way waits for both.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out.bytes),
                     _mm_set_epi64x(std::int64_t(low), std::int64_t(occupancy)));
#else
    std::memcpy(out.bytes, &occupancy, sizeof occupancy);
    std::memcpy(out.bytes + 8, &low, sizeof low);
#endif
    std::memcpy(out.bytes + 16, &high, sizeof high);
}

// The codes of the occupied squares in square order (rank by rank, files a to h), two to a
// byte, the first in the high half: code n goes to bit 4 * (n ^ 1) of its word of 16. Rows
// hold a code below 16 in each byte; squares has bit s set where square s is occupied, 32
// squares at most.
Codes gatherCodes(const std::uint64_t (&rows)[8], std::uint64_t squares)
{
    std::uint64_t words[2] = {0, 0};
    for (int n = 0; squares != 0 && n < 32; ++n, squares &= squares - 1) {
        const int square = std::countr_zero(squares);
        const std::uint64_t code = (rows[square / 8] >> (square % 8 * 8)) & 0xFF;
        words[n / 16] |= code << (4 * ((n % 16) ^ 1));
    }
    return Codes(words[1]) << 64 | words[0];
}

#if defined(__x86_64__)
bool hasWideBitInstructions()
{
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("bmi2") || !__builtin_cpu_supports("popcnt"))
        return false;
    if (__builtin_cpu_is("intel"))
        return true;
    // AMD's processors before family 19h run the gathering instructions in microcode, far
    // slower than the loop; so may others.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__builtin_cpu_is("amd") || !__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned base = eax >> 8 & 0xF;
    const unsigned family = base == 0xF ? base + (eax >> 20 & 0xFF) : base;
    return family >= 0x19;
}
#else
bool hasWideBitInstructions() { return false; }
#endif

// The codes of the squares, a row of eight to a word (square s in byte s % 8 of row s / 8),
// before the castling rooks are marked; which squares are occupied; and whether a pawn of
// the side not to move carries the side-to-move mark.
struct SquareCodes {
    std::uint64_t rows[8];
    std::uint64_t squares; // bit s where square s is occupied
    bool sideMarked;
};

// A square byte is its own code (colour bit and piece type) but for two kinds of piece: a
// pawn of the side not to move that carries the mark, and a rook that may still castle.
// markable has bit s set where a pawn of otherPawn's would carry the mark.
void squareCodes(const Position& pos, std::uint64_t markable, std::uint8_t otherPawn,
                 std::uint8_t markedPawn, SquareCodes& out)
{
    out.squares = 0;
    out.sideMarked = false;
    // Eight squares at a time.
#pragma GCC unroll 8
    for (int rank = 0; rank < 8; ++rank) {
        const std::uint64_t row = rankWord(pos, rank);
        const std::uint64_t occupied = nonZeroBytes(row);
        const std::uint64_t pawns = ~nonZeroBytes(row ^ (otherPawn * kOnes)) & kHigh;
        const std::uint64_t marked = pawns & spreadBits(unsigned(markable >> (rank * 8)));
        const std::uint64_t mask = (marked >> 7) * 0xFF;
        out.rows[rank] = (row & ~mask) | ((markedPawn * kOnes) & mask);
        out.sideMarked |= marked != 0;
        out.squares |= (((occupied >> 7) * 0x0102040810204080ull) >> 56) << (rank * 8);
    }
}

#if defined(__SSE2__)
// Sixteen squares from square 16 i: their codes, with the mark in place of a marked pawn's;
// which of them are occupied; which carry the mark.
struct SixteenSquares {
    __m128i codes;
    unsigned occupied;
    unsigned marked;
};

inline SixteenSquares sixteenSquares(const Position& pos, int i, std::uint64_t markable,
                                     std::uint8_t otherPawn, std::uint8_t markedPawn)
{
    const __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos.squares + 16 * i));
    const auto vacant = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(row, _mm_setzero_si128())));
    // Byte j of each half holds bit j: a half filled with eight bits of markable, masked with
    // it, says which of the row's squares may carry the mark.
    const __m128i bit = _mm_set_epi8(-128, 64, 32, 16, 8, 4, 2, 1, -128, 64, 32, 16, 8, 4, 2, 1);
    const unsigned bits = unsigned(markable >> (16 * i));
    const __m128i spread = _mm_set_epi64x(std::int64_t((bits >> 8 & 0xFF) * kOnes),
                                          std::int64_t((bits & 0xFF) * kOnes));
    const __m128i marks =
        _mm_and_si128(_mm_cmpeq_epi8(row, _mm_set1_epi8(static_cast<char>(otherPawn))),
                      _mm_cmpeq_epi8(_mm_and_si128(spread, bit), bit));
    const __m128i mark = _mm_set1_epi8(static_cast<char>(markedPawn));
    return {_mm_or_si128(_mm_andnot_si128(marks, row), _mm_and_si128(marks, mark)),
            ~vacant & 0xFFFF, unsigned(_mm_movemask_epi8(marks))};
}

// squareCodes, sixteen squares at a time.
void squareCodesInVectors(const Position& pos, std::uint64_t markable, std::uint8_t otherPawn,
                          std::uint8_t markedPawn, SquareCodes& out)
{
    std::uint64_t squares = 0;
    unsigned marked = 0;
    for (int i = 0; i < 4; ++i) {
        const SixteenSquares sixteen = sixteenSquares(pos, i, markable, otherPawn, markedPawn);
        squares |= std::uint64_t(sixteen.occupied) << (16 * i);
        marked |= sixteen.marked;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out.rows + 2 * i), sixteen.codes);
    }
    out.squares = squares;
    out.sideMarked = marked != 0;
}
#endif

// The key of a position. vectors says whether to read the squares with the processor's
// vector instructions.
bool packWith(const Position& pos, PackedPosition& out, bool vectors)
{
    const PawnMarking marking = pawnMarking(pos);
    const int other = pos.sideToMove ^ 1;
    const std::uint8_t otherPawn = makePiece(PieceType::Pawn, other);
    const std::uint8_t markedPawn = std::uint8_t(other << 3);
    const std::uint64_t markable = markableSquares(marking);
    SquareCodes codesOf;
#if defined(__SSE2__)
    if (vectors)
        squareCodesInVectors(pos, markable, otherPawn, markedPawn, codesOf);
    else
        squareCodes(pos, markable, otherPawn, markedPawn, codesOf);
#else
    (void)vectors;
    squareCodes(pos, markable, otherPawn, markedPawn, codesOf);
#endif
    auto& rows = codesOf.rows;
    const std::uint64_t squares = codesOf.squares;
    for (const int colour : {kWhite, kBlack}) {
        const int rank = colour == kWhite ? 0 : 7;
        const std::uint8_t rook = makePiece(PieceType::Rook, colour);
        if (pos.castleQueensideLost[colour] == 0 && pos.squares[rank * 8] == rook)
            rows[rank] |= 7;
        if (pos.castleKingsideLost[colour] == 0 && pos.squares[rank * 8 + 7] == rook)
            rows[rank] |= std::uint64_t(7) << 56;
    }
    const int count = countBits(squares);
    if (count > 32)
        return false;
    Codes codes = gatherCodes(rows, squares);
    if (!codesOf.sideMarked) {
        if (count == 32)
            return false;
        codes |= Codes(markedPawn) << (64 * (count / 16) + 4 * ((count % 16) ^ 1));
    }
    storeKey(squares, codes, out);
    return true;
}

#if defined(__x86_64__)
// Codes with code n in bits 4 n and up as a key holds them: two to a byte, the first in
// the high half.
Codes keyOrder(Codes stream)
{
    constexpr std::uint64_t kLow = 0x0F0F0F0F0F0F0F0Full;
    const auto swapped = [](std::uint64_t w) { return (w & kLow) << 4 | (w >> 4 & kLow); };
    return Codes(swapped(std::uint64_t(stream >> 64))) << 64 | swapped(std::uint64_t(stream));
}

// packWith with the bit-gathering instructions of newer processors. The squares' codes are
// made sixteen at a time, two to a byte in square order, and the codes of the occupied
// squares are taken out of each sixteen at once.
__attribute__((target("bmi2,popcnt"))) bool packWide(const Position& pos, PackedPosition& out)
{
    const PawnMarking marking = pawnMarking(pos);
    const int other = pos.sideToMove ^ 1;
    const std::uint8_t otherPawn = makePiece(PieceType::Pawn, other);
    const std::uint8_t markedPawn = std::uint8_t(other << 3);
    const std::uint64_t markable = markableSquares(marking);
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    std::uint64_t squares = 0;
    unsigned marked = 0;
    std::uint64_t nibbles[4]; // square s in bits 4 (s % 16) of word s / 16
    for (int i = 0; i < 4; ++i) {
        const SixteenSquares sixteen = sixteenSquares(pos, i, markable, otherPawn, markedPawn);
        squares |= std::uint64_t(sixteen.occupied) << (16 * i);
        marked |= sixteen.marked;
        // Each pair of squares to one byte, the first in the low half.
        const __m128i codes = sixteen.codes;
        const __m128i pairs = _mm_and_si128(_mm_or_si128(codes, _mm_srli_epi16(codes, 4)), lowBytes);
        nibbles[i] =
            std::uint64_t(_mm_cvtsi128_si64(_mm_packus_epi16(pairs, _mm_setzero_si128())));
    }
    for (const int colour : {kWhite, kBlack}) {
        const int corner = colour == kWhite ? 0 : 56;
        const std::uint8_t rook = makePiece(PieceType::Rook, colour);
        if (pos.castleQueensideLost[colour] == 0 && pos.squares[corner] == rook)
            nibbles[corner / 16] |= std::uint64_t(7) << (4 * (corner % 16));
        if (pos.castleKingsideLost[colour] == 0 && pos.squares[corner + 7] == rook)
            nibbles[(corner + 7) / 16] |= std::uint64_t(7) << (4 * ((corner + 7) % 16));
    }
    const int count = std::popcount(squares);
    if (count > 32)
        return false;
    Codes stream = 0;
    int at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t occupied = squares >> (16 * i) & 0xFFFF;
        if (occupied == 0)
            continue;
        const std::uint64_t taken =
            _pext_u64(nibbles[i], _pdep_u64(occupied, 0x1111111111111111ull) * 0xF);
        stream |= Codes(taken) << at;
        at += 4 * std::popcount(occupied);
    }
    if (marked == 0) {
        if (count == 32)
            return false;
        stream |= Codes(markedPawn) << (4 * count);
    }
    storeKey(squares, keyOrder(stream), out);
    return true;
}
#endif

} // namespace

bool packPosition(const Position& pos, PackedPosition& out)
{
#if defined(__x86_64__)
    static const bool wide = hasWideBitInstructions();
    if (wide)
        return packWide(pos, out);
#endif
    return packWith(pos, out, true);
}

bool packPositionPortably(const Position& pos, PackedPosition& out)
{
    return packWith(pos, out, false);
}

bool packable(const Position& pos)
{
    int pieces = 0;
    for (int rank = 0; rank < 8; ++rank)
        pieces += int((nonZeroBytes(rankWord(pos, rank)) >> 7) * kOnes >> 56);
    if (pieces < 32)
        return true;
    PackedPosition key;
    return packPosition(pos, key);
}

void unpackPosition(const PackedPosition& key, Position& pos)
{
    pos = Position{};
    pos.castleKingsideLost[kWhite] = pos.castleKingsideLost[kBlack] = 1;
    pos.castleQueensideLost[kWhite] = pos.castleQueensideLost[kBlack] = 1;
    std::uint64_t squares;
    std::memcpy(&squares, key.bytes, sizeof squares);
    squares = transposed(squares); // bit s where square s is occupied
    int index = 0;
    int marks = 0;
    for (; squares != 0 && index < 32; squares &= squares - 1) {
        const int sq = std::countr_zero(squares);
        const int code = nibbleAt(key, index++);
        const int colour = code >> 3;
        switch (code & 7) {
        case 0:
            pos.squares[sq] = makePiece(PieceType::Pawn, colour);
            if (++marks == 1) {
                pos.sideToMove = colour ^ 1;
                if (rankOf(sq) == (colour == kWhite ? 3 : 4)) {
                    pos.enPassant = 1;
                    pos.enPassantFile = fileOf(sq);
                }
            } else if (marks == 2) {
                pos.enPassant = 0;
            }
            break;
        case 7:
            pos.squares[sq] = makePiece(PieceType::Rook, colour);
            if (fileOf(sq) == 0)
                pos.castleQueensideLost[colour] = 0;
            else
                pos.castleKingsideLost[colour] = 0;
            break;
        default:
            pos.squares[sq] = makePiece(PieceType(code & 7), colour);
            break;
        }
    }
    if (marks == 0 && index < 32)
        pos.sideToMove = (nibbleAt(key, index) >> 3) ^ 1;
}

std::uint16_t primaryHash(const PackedPosition& key)
{
    std::uint16_t w[12]; // the key's little-endian 16-bit words
    static_assert(sizeof w == sizeof key.bytes);
    std::memcpy(w, key.bytes, sizeof w);
    int hi = 11;
    while (hi >= 0 && w[hi] == 0)
        --hi;
    // The words up to the last non-zero one, folded from both ends: the product of each pair
    // (first and last, second and second last, ...) shifted down, and the middle word of an
    // odd count as it is. Masking to 16 bits after every xor or once at the end is the same,
    // so the products do not wait for one another.
    std::uint32_t h = 0;
    for (int lo = 0; lo < (hi + 1) / 2; ++lo)
        h ^= (std::uint32_t(w[hi - lo]) * std::uint32_t(w[lo])) >> 8;
    h &= 0xFFFF;
    if (hi >= 0 && hi % 2 == 0)
        h ^= w[hi / 2];
    return std::uint16_t(h);
}

std::uint8_t secondaryCode(const PackedPosition& key)
{
    // The sum of the bytes, eight at a time: each 16-bit lane adds up six bytes (1,530 at
    // most), and the multiplication gathers the four lanes in the top one.
    constexpr std::uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    std::uint64_t words[3];
    static_assert(sizeof words == sizeof key.bytes);
    std::memcpy(words, key.bytes, sizeof words);
    std::uint64_t lanes = 0;
    for (const std::uint64_t w : words)
        lanes += (w & kLowBytes) + (w >> 8 & kLowBytes);
    return std::uint8_t((lanes * 0x0001000100010001ull) >> 48);
}

std::uint8_t encodeScore(std::int32_t value)
{
    const std::int64_t a = value < 0 ? -std::int64_t(value) : value;
    int code;
    if (a <= 15)
        code = int(a);
    else if (a <= 47)
        code = 0x10 + int((a - 15) >> 1);
    else if (a <= 107)
        code = 0x20 + int((a - 47) >> 2);
    else if (a <= 227)
        code = 0x30 + int((a - 107) >> 3);
    else if (a <= 467)
        code = 0x40 + int((a - 227) >> 4);
    else if (a <= 947)
        code = 0x50 + int((a - 467) >> 5);
    else if (a <= 1907)
        code = 0x60 + int((a - 947) >> 6);
    else if (a <= 3827)
        code = 0x70 + int((a - 1907) >> 7);
    else
        code = 0x7F;
    return std::uint8_t(value < 0 ? code | 0x80 : code);
}

std::int32_t decodeScore(std::uint8_t code)
{
    static constexpr int kScale[8] = {1, 2, 4, 8, 16, 32, 64, 128};
    static constexpr int kBase[8] = {0, 15, 47, 107, 227, 467, 947, 1907};
    const int m = code & 15;
    const int e = (code >> 4) & 7;
    const int value = kScale[e] * m + kBase[e];
    return (code & 0x80) ? -value : value;
}

} // namespace vez
