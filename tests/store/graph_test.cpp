#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "chess/movegen.h"
#include "store/graph.h"
#include "store/position_index.h"
#include "store_fixture.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;
using GraphTest = StoreTest;

int sq(const char* name) { return makeSquare(name[0] - 'a', name[1] - '1'); }
Move mv(const char* m, PieceType type = PieceType::Pawn) { return encodeMove(sq(m), sq(m + 2), type); }

PackedPosition pack(const Position& pos)
{
    PackedPosition key;
    EXPECT_TRUE(packPosition(pos, key));
    return key;
}

TEST(Packing, StartPosition)
{
    const Position start = test::standardStart();
    const PackedPosition key = pack(start);
    for (int file = 0; file < 8; ++file)
        EXPECT_EQ(key.bytes[file], 0xC3) << file;
    // Rooks that may castle are 7, black pawns carry the side to move as code 8|0.
    const std::uint8_t nibbles[16] = {0x72, 0x35, 0x63, 0x27, 0x11, 0x11, 0x11, 0x11,
                                      0x88, 0x88, 0x88, 0x88, 0xFA, 0xBD, 0xEB, 0xAF};
    EXPECT_EQ(std::memcmp(key.bytes + 8, nibbles, 16), 0);
    Position back;
    unpackPosition(key, back);
    EXPECT_TRUE(samePosition(back, start));
}

// Every position comes back from its key; the keys tell apart what the positions do.
TEST(Packing, RoundTripsAndDistinctKeys)
{
    // Two pawns on the en-passant rank, a lone one, en passant set: all come back.
    const char* fens[] = {
        "4k3/8/8/3pPp2/8/8/8/4K3 w - d",  "4k3/8/8/3pPp2/8/8/8/4K3 w - f",
        "4k3/8/8/3pP3/8/8/8/4K3 w - -",   "4k3/8/8/3pPp2/8/8/8/4K3 w - -",
        "4k3/8/8/8/3Pp3/8/8/4K3 b - d",   "4k3/8/8/8/3Pp3/8/8/4K3 b - -",
        "8/8/8/8/8/8/8/8 w - -",          "8/8/8/8/8/8/8/8 b - -",
        "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b Kq -",
        "r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", "r3k2r/8/8/8/8/8/8/R3K2R w Qkq -",
    };
    std::vector<PackedPosition> keys;
    for (const char* fen : fens) {
        const Position pos = test::positionFrom(fen);
        Position back;
        unpackPosition(pack(pos), back);
        EXPECT_TRUE(samePosition(back, pos)) << fen;
        for (const PackedPosition& other : keys)
            EXPECT_FALSE(other == pack(pos)) << fen;
        keys.push_back(pack(pos));
    }
    // A castling flag without its rook means nothing: both pack alike.
    EXPECT_TRUE(pack(test::positionFrom("4k3/8/8/8/8/8/8/4K3 w KQ -")) ==
                pack(test::positionFrom("4k3/8/8/8/8/8/8/4K3 w - -")));
}

// packPosition reads the squares with vector instructions, and where the processor has the
// newer bit instructions gathers the codes with them: every position of real games, crowded
// ones around the 32 codes a key holds, and each way of marking pawns packs as without them.
TEST(Packing, PacksAlikeWithAndWithoutTheNewerInstructions)
{
    std::vector<Position> positions;
    for (const char* fen : {
             "rnbqkbnr/rrrrrrrr/8/8/8/8/PPPPPPPP/RNBQKBNR w - -",  // 32, no pawn to mark
             "rnbqkbnr/rrrrrrr1/8/8/8/8/PPPPPPPP/RNBQKBNR w - -",  // 31 and the extra code
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w - -",  // 32, pawns marked
             "rnbqkbnr/pppppppp/8/8/8/Q7/PPPPPPPP/RNBQKBNR w - -", // 33
             "QQQQQQQQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQQ/qqqqqqqq/8/8/k6K w - -",
             "1Q1Q1Q1Q/Q1Q1Q1Q1/1Q1Q1Q1Q/Q1Q1Q1Q1/1q1q1q1q/q1q1q1q1/1q1q1q1q/k6K b - -",
             // The pawns that carry the mark: the one just advanced where it may be taken en
             // passant; all, with two or more on its rank; all but one alone on that rank.
             "rnbqkbnr/ppp1p1pp/8/3pPp2/8/8/PPPP1PPP/RNBQKBNR w KQkq f",
             "rnbqkbnr/pppp1ppp/8/8/3Pp3/8/PPP1PPPP/RNBQKBNR b KQkq d",
             "4k3/8/8/3pPp2/8/8/8/4K3 w - -",
             "4k3/p7/8/3p4/8/8/8/4K3 w - -",
             "r3k2r/8/8/8/8/8/8/R3K2R b KQkq -",
         })
        positions.push_back(test::positionFrom(fen));
    for (const Game& game : test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 500)) {
        Position pos = game.startPosition;
        positions.push_back(pos);
        for (const MoveEntry& entry : game.entries) {
            makeMove(pos, entry.move);
            positions.push_back(pos);
        }
    }
    ASSERT_GT(positions.size(), 1000u);
    for (const Position& pos : positions) {
        PackedPosition wide, portable;
        const bool packed = packPosition(pos, wide);
        ASSERT_EQ(packed, packPositionPortably(pos, portable));
        ASSERT_TRUE(!packed || wide == portable);
    }
}

TEST(Packing, Hashes)
{
    PackedPosition key;
    const std::uint8_t bytes[6] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05}; // words 0x0102, 0x0304, 0x0506
    std::memcpy(key.bytes, bytes, 6);
    // (0x0506 * 0x0102) >> 8 = 0x0510, then the middle word: 0x0510 ^ 0x0304.
    EXPECT_EQ(primaryHash(key), 0x0614);
    EXPECT_EQ(secondaryCode(key), 21);
    EXPECT_EQ(primaryHash(PackedPosition{}), 0);
    PackedPosition full;
    std::memset(full.bytes, 0xFF, sizeof full.bytes);
    EXPECT_EQ(secondaryCode(full), (24 * 255) % 256);
}

TEST(Packing, ScoreCoding)
{
    using Row = std::pair<std::int32_t, std::int32_t>;
    const Row cases[] = {{0, 0},       {15, 15},      {16, 15},   {17, 17},   {47, 47},
                         {48, 47},     {107, 107},    {300, 291}, {947, 947}, {3827, 3827},
                         {3828, 3827}, {99999, 3827}, {-3, -3},   {-16, -15}, {-5000, -3827}};
    for (const auto& [value, readBack] : cases)
        EXPECT_EQ(decodeScore(encodeScore(value)), readBack) << value;
    EXPECT_NE(encodeScore(0), kNoScoreCode);
}

// What a process stopped in the middle of a game can leave: a tiny record that leads into a
// counted position but has no way back. A new way into that position passes over it.
TEST_F(GraphTest, PromotionPassesOverATinyRecordWithoutAWayBack)
{
    Position afterE4 = test::standardStart();
    findOrAddRoot(afterE4);
    makeMove(afterE4, mv("e2e4"));
    Position afterE5 = afterE4;
    makeMove(afterE5, mv("e7e5"));
    const DbOffset stranded = addTinyPosition(pack(afterE4));
    const DbOffset target = addFullPosition(pack(afterE5));
    linkMove(stranded, target, mv("e7e5"), 0);
    promoteTinyPredecessors(target);
    EXPECT_TRUE(isTiny(stranded));
    const DbOffset in = incomingAt(target, 0);
    ASSERT_NE(in, 0u);
    EXPECT_EQ(at<MoveRecord>(in)->from, stranded);
}

TEST_F(GraphTest, ScoresAndGlyphs)
{
    const Position start = test::standardStart();
    const DbOffset root = findOrAddRoot(start);
    Position a = start;
    makeMove(a, mv("c2c4"));
    const DbOffset t = addTinyPosition(pack(a));
    linkMove(root, t, mv("c2c4"), 0);
    Position b = a;
    makeMove(b, mv("g8f6", PieceType::Knight));
    const DbOffset f = addFullPosition(pack(b));
    linkMove(t, f, mv("g8f6", PieceType::Knight), root);

    // Glyph of root -> tiny lives on the MoveRecord, tiny -> full on both.
    EXPECT_EQ(setMoveGlyph(t, mv("c2c4"), MoveGlyph::Good), MoveGlyph::None);
    EXPECT_EQ(setMoveGlyph(f, mv("g8f6", PieceType::Knight), MoveGlyph::Dubious), MoveGlyph::None);
    EXPECT_EQ(setMoveGlyph(f, mv("g8f6", PieceType::Knight), MoveGlyph(7)), MoveGlyph::None);
    EXPECT_EQ(setMoveGlyph(f, mv("g8f6", PieceType::Knight), MoveGlyph::Blunder), MoveGlyph::Dubious);
    EXPECT_EQ(successorMoves(t)[0].glyph, MoveGlyph::Blunder);
    EXPECT_EQ(successorMoves(root)[0].glyph, MoveGlyph::Good);
    EXPECT_EQ(predecessorMoves(f)[0].glyph, MoveGlyph::Blunder);

    // Scores make the record big; promotion keeps the edges and glyphs.
    const DbOffset scored = setScore(a, -123);
    EXPECT_TRUE(isBig(scored));
    EXPECT_EQ(findPosition(a), scored);
    std::int32_t value = 0;
    ASSERT_TRUE(getScore(scored, value));
    EXPECT_EQ(value, decodeScore(encodeScore(-123)));
    EXPECT_FALSE(getScore(f, value));
    EXPECT_EQ(successorMoves(scored).size(), 1u);
    EXPECT_EQ(successorMoves(scored)[0].glyph, MoveGlyph::Blunder);
    EXPECT_EQ(successorMoves(scored)[0].record, f);
    EXPECT_EQ(predecessorMoves(scored)[0].glyph, MoveGlyph::Good);
    EXPECT_EQ(pathFromRoot(f), (std::vector<Move>{mv("c2c4"), mv("g8f6", PieceType::Knight)}));
    setScore(a, kNoScore);
    EXPECT_FALSE(getScore(findPosition(a), value));
}

TEST_F(GraphTest, DeepPositionsRebuildPastAThousandMoves)
{
    // Rooks and kings walking through new positions, all tiny behind one root.
    const Game game = test::longGame(7, 1500);
    ASSERT_GT(game.entries.size(), 1000u);
    Position pos = game.startPosition;
    DbOffset prev = findOrAddRoot(pos), prevprev = 0;
    for (const MoveEntry& e : game.entries) {
        makeMove(pos, e.move);
        const DbOffset r = addTinyPosition(pack(pos));
        linkMove(prev, r, e.move, prevprev);
        prevprev = std::exchange(prev, r);
    }
    Position back;
    ASSERT_TRUE(reconstructPosition(prev, back));
    EXPECT_TRUE(samePosition(back, pos));
    EXPECT_EQ(pathFromRoot(prev).size(), game.entries.size());
}

} // namespace
} // namespace vez
