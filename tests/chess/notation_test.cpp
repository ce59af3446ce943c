// Move notation: SAN, descriptive and coordinate text, both ways, with glyphs and signs.
#include "chess/notation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "chess/movegen.h"
#include "support/board.h"

namespace vez {
namespace {

using test::moveFrom, test::positionFrom;

// Positions, in this system's FEN (the en-passant field is the file letter).
constexpr const char* kStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* kAfterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - 0 1";
constexpr const char* kAfterE4D5 = "rnbqkbnr/ppp1pppp/8/3p4/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2";
constexpr const char* kCastling = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1";
constexpr const char* kF1Attacked = "r3kr2/8/8/8/8/8/8/R3K2R w KQq - 0 1";
constexpr const char* kG1Attacked = "r3k1r1/8/8/8/8/8/8/R3K2R w KQq - 0 1";
constexpr const char* kPromotion = "7k/4P3/8/8/8/8/8/4K3 w - - 0 1";
constexpr const char* kPromotionCapture = "r6k/1P6/8/8/8/8/8/4K3 w - - 0 1";
constexpr const char* kEnPassant = "4k3/8/8/3pP3/8/8/8/4K3 w - d 0 2";
constexpr const char* kKnights = "4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1";
constexpr const char* kPinnedKnight = "4k3/8/8/3b4/8/5N2/8/1N5K w - - 0 1"; // f3 pinned
constexpr const char* kRooks = "4k3/8/8/R7/8/8/8/R3K3 w - - 0 1";
constexpr const char* kQueens = "4k3/8/8/8/8/Q7/8/Q1Q1K3 w - - 0 1";
constexpr const char* kPawnOrBishop = "4k3/8/8/4B3/8/2n5/1P6/4K3 w - - 0 1";
constexpr const char* kPawnTakesKnights = "4k3/8/8/8/8/3n1n2/4P3/K7 w - - 0 1";
constexpr const char* kBlackTakesKnights = "4k3/3p4/2N1N3/8/8/8/8/K7 b - - 0 1";
constexpr const char* kPawnsTakePawns = "4k3/8/8/2p2p2/1P2P3/8/8/4K3 w - - 0 1";
constexpr const char* kOneTakesTwo = "4k3/8/8/3p1p2/4P3/8/8/4K3 w - - 0 1";
constexpr const char* kTwoTakeD5 = "4k3/8/8/3p4/2P1P3/8/8/4K3 w - - 0 1";
// 1. e4 e5 2. Qh5 Nc6 3. Bc4 Nf6: 4. Qxf7 mates.
constexpr const char* kScholar =
    "r1bqkb1r/pppp1ppp/2n2n2/4p2Q/2B1P3/8/PPPP1PPP/RNB1K1NR w KQkq - 4 4";
// 1. e4 f5: 2. Qh5+ leaves only g6.
constexpr const char* kQueenChecks = "rnbqkbnr/ppppp1pp/8/5p2/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2";
// Sides without a king.
constexpr const char* kWhiteRookAlone = "4k3/8/8/8/8/8/8/R7 w - - 0 1";
constexpr const char* kKnightsNoKing = "4k3/8/8/8/8/5N2/8/1N6 w - - 0 1";
constexpr const char* kTwoEPawnsNoKing = "4k3/8/8/3p4/4P3/3p4/4P3/8 w - - 0 1";

// formatSan or formatDescriptive: the text, and the code when it is not 0.
std::string formatted(const char* fen, const char* move, bool nonstandard, MoveGlyph glyph,
                      bool descriptive)
{
    const Position pos = positionFrom(fen);
    MoveList list;
    const int count = legalMoves(pos, list, nonstandard);
    MoveText text{};
    const int result = descriptive
                           ? formatDescriptive(pos, text, moveFrom(move), list, count, glyph)
                           : formatSan(pos, text, moveFrom(move), list, count, glyph);
    return text.data() + (result != 0 ? " " + std::to_string(result) : "");
}

// formatMoveAndPlay: its text, or its code when it refuses the move; " changed" when the
// position or the list it leaves is not the one after the move (or, refused, before it).
std::string played(const char* fen, const char* move, bool nonstandard, MoveGlyph glyph,
                   bool descriptive)
{
    Position pos = positionFrom(fen);
    MoveList list;
    const int count = legalMoves(pos, list, nonstandard);
    MoveText text{};
    const int result =
        formatMoveAndPlay(pos, text, moveFrom(move), list, count, nonstandard, glyph, descriptive);
    Position after = positionFrom(fen);
    if (result >= 0)
        makeMove(after, moveFrom(move));
    MoveList fresh;
    const int next = legalMoves(after, fresh, nonstandard);
    const bool same = samePosition(pos, after) && (result < 0 || result == next) &&
                      std::equal(fresh.begin(), fresh.begin() + next, list.begin());
    return (result < 0 ? std::to_string(result) : text.data()) +
           std::string(same ? "" : " changed");
}

// Reads the text as the move given (nullptr: the text is refused), legal or not, with its glyph.
void expectParse(bool descriptive, const char* fen, std::string_view text, const char* expected,
                 bool expectLegal = true, MoveGlyph expectGlyph = MoveGlyph::None)
{
    const Position pos = positionFrom(fen);
    const auto parse = [&](Move& move, bool* legal, MoveGlyph* glyph) {
        return descriptive ? parseDescriptive(pos, move, legal, glyph, text)
                           : parseMove(pos, move, legal, glyph, text);
    };
    Move move = Move::None;
    bool legal = !expectLegal;
    MoveGlyph glyph = MoveGlyph{99};
    const bool accepted = parse(move, &legal, &glyph);
    if (expected == nullptr) {
        EXPECT_FALSE(accepted) << fen << " '" << text << "'";
        return;
    }
    EXPECT_EQ(std::tuple(accepted, move, legal, glyph),
              std::tuple(true, moveFrom(expected), expectLegal, expectGlyph))
        << fen << " '" << text << "'";
    EXPECT_TRUE(parse(move, nullptr, nullptr)); // the outputs are optional
}

// Real games check the common spellings both ways (notation_corpus_test); these are the
// rare ones: each is written exactly so in both notations and reads back as the move.
TEST(Notation, WritesAndReadsBackBothNotations)
{
    // The position, the move, its glyph, whether nonstandard, its SAN and descriptive texts.
    const std::tuple<const char*, const char*, MoveGlyph, bool, const char*, const char*> cases[] =
        {
            {kStart, "e2e4P", MoveGlyph::Dubious, false, "e4?!", "P-K4?!"},
            // c3 is a "B3" too; numeric glyphs are not written; ranks count from the mover.
            {kStart, "g1f3N", MoveGlyph::Interesting, false, "Nf3!?", "N-KB3!?"},
            {kStart, "c2c4P", MoveGlyph{146}, false, "c4", "P-QB4"},
            {kAfterE4, "g8f6N", MoveGlyph::None, false, "Nf6", "N-KB3"},
            {"4k3/8/8/8/8/8/2P5/4K3 w - - 0 1", "c2c4P", MoveGlyph::None, false, "c4", "P-B4"},
            {kEnPassant, "e5d6P", MoveGlyph::None, false, "exd6", "P-Q6"},
            {kCastling, "e1c1K", MoveGlyph::Good, false, "O-O-O!", "O-O-O!"},
            // Rxh8 takes a rook too.
            {kCastling, "a1a8R", MoveGlyph::None, false, "Rxa8", "RxR/QR8"},
            {kKnights, "f3d2N", MoveGlyph::None, false, "Nfd2", "N/KB3-Q2"},
            {kPinnedKnight, "b1d2N", MoveGlyph::None, false, "Nd2", "N-Q2"}, // f3 is no rival
            {kRooks, "a5a3R", MoveGlyph::None, false, "R5a3", "R/QR5-R3"},
            {kQueens, "a1c3Q", MoveGlyph::None, false, "Qa1c3", "Q/QR1-QB3"},
            {kQueens, "a3c3Q", MoveGlyph::None, false, "Q3c3", "Q/QR3-QB3"},
            {kQueens, "c1c3Q", MoveGlyph::None, false, "Qcc3", "Q/QB1-QB3"},
            {kPromotion, "e7e8N", MoveGlyph::Brilliant, false, "e8=N!!", "P-K8=N!!"},
            {kPromotion, "e7e8K", MoveGlyph::None, true, "e8=K", "P-K8=K"},
            {kPromotionCapture, "b7a8Q", MoveGlyph::None, false, "bxa8=Q", "PxR=Q"},
            {kPromotionCapture, "b7b8N", MoveGlyph::None, false, "b8=N", "P-N8=N"},
            {kPawnOrBishop, "e5c3B", MoveGlyph::None, false, "Bxc3", "BxN"},
            {kPawnOrBishop, "b2c3P", MoveGlyph::None, false, "bxc3", "PxN"},
            {kAfterE4D5, "e4d5P", MoveGlyph::None, false, "exd5", "PxP"},
            {kPawnTakesKnights, "e2f3P", MoveGlyph::None, false, "exf3", "PxN/KB3"},
            {kBlackTakesKnights, "d7e6P", MoveGlyph::None, false, "dxe6", "PxN/K3"},
            {kPawnsTakePawns, "e4f5P", MoveGlyph::None, false, "exf5", "PxKBP"},
            {kOneTakesTwo, "e4f5P", MoveGlyph::None, false, "exf5", "PxBP"},
            {kTwoTakeD5, "c4d5P", MoveGlyph::None, false, "cxd5", "BPxP"},
        };
    for (const auto& [fen, move, glyph, nonstandard, san, descriptiveText] : cases) {
        for (bool descriptive : {false, true}) {
            const char* text = descriptive ? descriptiveText : san;
            EXPECT_EQ(formatted(fen, move, nonstandard, glyph, descriptive), text) << fen << move;
            // Read back in a standard database; a king is promoted to only in a nonstandard one.
            const bool numeric = static_cast<int>(glyph) > 6;
            if (!nonstandard)
                expectParse(descriptive, fen, text, move, true, numeric ? MoveGlyph::None : glyph);
        }
    }
    // Moves that cannot be written: an empty from-square (-1), the opponent's piece, three
    // squares (-2), a pinned piece, castling through an attacked square.
    for (auto [fen, move, code] : {std::tuple{kStart, "e3e4P", "-1"},
                                   {kStart, "e7e5P", "-1"},
                                   {kStart, "e2e5P", "-2"},
                                   {kPinnedKnight, "f3d2N", "-2"},
                                   {kF1Attacked, "e1g1K", "-2"}})
        for (bool descriptive : {false, true})
            EXPECT_EQ(played(fen, move, false, MoveGlyph::None, descriptive), code) << fen << move;
}

// The rarer spellings found in files, and texts that are no move. Each text reads as the
// move given ("e2e4P"); a "~" after it: read, but not legal (coordinates are taken as written,
// castling is produced and the flag judges it, a king promotion only in a nonstandard
// database); a digit after it: the glyph. A side to move without a king is never in check,
// and choosing between candidates must not ask whether a missing king is attacked.
using Readings =
    std::vector<std::pair<const char*, std::vector<std::pair<const char*, std::string_view>>>>;

void expectReadings(const Readings& table, bool descriptive)
{
    for (const auto& [fen, readings] : table) {
        for (const auto& [text, expected] : readings) {
            const std::string move(expected.substr(0, 5));
            const char mark = expected.size() > 5 ? expected[5] : ' ';
            expectParse(descriptive, fen, text, move.c_str(), mark != '~',
                        MoveGlyph(mark >= '0' && mark <= '9' ? mark - '0' : 0));
        }
    }
}

TEST(NotationParse, ReadsRareSpellingsAndRefusesWhatIsNoMove)
{
    expectReadings({{kStart, {{"Pe4", "e2e4P"}, {"  e4  ", "e2e4P"}, {"Ng1f3", "g1f3N"}}},
                    {kStart, {{"N-f3", "g1f3N"}, {"e2-e5", "e2e5P~"}, {"e3e4", "e3e4-~"}}},
                    {kStart, {{"O-O", "e1g1K~"}, {"e4++", "e2e4P"}, {"e4?", "e2e4P2"}}},
                    {kStart, {{"e4??\r\n", "e2e4P4"}, {"e4+#?! \t", "e2e4P6"}}},
                    {kAfterE4D5, {{"ed", "e4d5P"}, {"d5", "e4d5P"}, {"e4Xd5", "e4d5P"}}},
                    {kCastling, {{"0-O", "e1g1K"}}},
                    {"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1", {{"o-o-o", "e8c8K"}}},
                    {"r3k2r/8/8/8/8/8/8/R3K2R w Qkq - 0 1", {{"O-O", "e1g1K~"}}},
                    {kF1Attacked, {{"O-O", "e1g1K~"}, {"O-O-O", "e1c1K"}}},
                    {kPromotion, {{"e7e8", "e7e8Q"}, {"e7e8N", "e7e8N"}, {"e7e8=K", "e7e8K~"}}},
                    {kPromotionCapture, {{"ba=N", "b7a8N"}, {"b7xa8=B", "b7a8B"}}},
                    {kEnPassant, {{"exd6ep", "e5d6P"}, {"e5d", "e5d6P"}, {"d6", "e5d6P"}}},
                    {"4k3/8/8/3p4/r3P2K/3p4/4P3/8 w - - 0 1", {{"ed", "e2d3P"}}}, // e4 pinned
                    {kKnights, {{"N1d2", "b1d2N"}}},
                    {"4k3/8/8/4B3/8/2n5/8/4K3 w - - 0 1", {{"bc3", "e5c3B"}, {"B:c3", "e5c3B"}}},
                    {kKnightsNoKing, {{"Nbd2", "b1d2N"}, {"O-O", "e1g1K~"}}},
                    {kTwoEPawnsNoKing, {{"ed5", "e4d5P"}}},
                    {kWhiteRookAlone, {{"Ra8+", "a1a8R"}}}},
                   false);
    expectReadings({{kStart, {{"KP-K4", "e2e4P"}, {"P/K2-K4", "e2e4P"}, {" P-K4 ", "e2e4P"}}},
                    {kRooks, {{"R/R1-QR3", "a1a3R"}}},
                    {kAfterE4D5, {{"PXP", "e4d5P"}}},
                    {kBlackTakesKnights, {{"PxN/QB3", "d7c6P"}}},
                    {kPawnsTakePawns, {{"KPxP", "e4f5P"}}},
                    {kTwoTakeD5, {{"QBPxP", "c4d5P"}}},
                    {kCastling, {{"o-o", "e1g1K"}, {"O-O-O+", "e1c1K"}}},
                    {kF1Attacked, {{"O-O", "e1g1K~"}}},
                    // No rank: the "/" is the promotion's.
                    {kPromotion, {{"P-K8/N", "e7e8N"}, {"P-K8=Q+", "e7e8Q"}}},
                    {kPromotionCapture, {{"PxR/Q", "b7a8Q"}, {"PxR/QR8=Q", "b7a8Q"}}},
                    {kKnightsNoKing, {{"N/QN1-Q2", "b1d2N"}}}},
                   true);
    // Algebraic: nothing to take, blocked, a capture sign with nothing to take, a pawn that
    // does not say what it becomes, a lower-case letter without "=" or "/", files not
    // adjacent, two pawns or two knights that can go there. Descriptive: two pawns or
    // pieces that could go there, zeros, no promotion piece.
    using Refused = std::vector<std::pair<const char*, std::vector<const char*>>>;
    const Refused refusedAlgebraic = {
        {kStart,
         {"", "e5", "e4 x", "e4x", "e4!!!", "e4#+", "e4## ", "Nxf3", "Qh5", "Nf", "N", "Pxd5",
          "e2xe4", "Z4", "xe4", "O-"}},
        {kCastling, {"O-O-", "O-O x"}},
        {kPromotion, {"e8", "e8q", "e7e8q", "e8=", "e7e8=X"}},
        {kPromotionCapture, {"bxa8"}},
        {kAfterE4D5, {"exd", "ec", "e4xd6"}},
        {kEnPassant, {"e5xe6"}},
        {"4k3/8/8/3p4/4P3/3p4/4P3/4K3 w - - 0 1", {"ed"}},
        {kKnights, {"Nd2"}},
        {kKnightsNoKing, {"Nd2"}},
        {kTwoEPawnsNoKing, {"ed"}},
    };
    const Refused refusedDescriptive = {
        {kStart,
         {"", "P-B4", "N-B3", "P-K5", "P-K4 x", "0-0", "KKP-K4", "QRBP-K4", "P-K", "P-K9", "p-k4",
          "P-", "PxP", "e4"}},
        {kPromotion, {"P-K8", "P-K8=KBQ", "P-K8="}},
        {kTwoTakeD5, {"PxP"}},
        {kPawnTakesKnights, {"PxN"}},
        {kPawnsTakePawns, {"PxBP"}},
    };
    for (bool desc : {false, true})
        for (const auto& [fen, texts] : desc ? refusedDescriptive : refusedAlgebraic)
            for (const char* text : texts)
                expectParse(desc, fen, text, nullptr);
    // The view ends where the text ends, NUL or no NUL.
    expectParse(false, kStart, {"e4\0", 3}, nullptr);
    expectParse(false, kStart, {"e4x", 2}, "e2e4P");
    expectParse(false, kStart, {"Nf3", 2}, nullptr);
}

// formatMove writes what the legal list lacks in coordinates; formatMoveAndPlay adds the
// check and mate signs of standard chess and leaves the next position's list.
TEST(NotationFormat, FormatMoveAndFormatMoveAndPlay)
{
    // The position, the move, whether nonstandard, its glyph, whether descriptive, the text.
    using Case = std::tuple<const char*, const char*, bool, MoveGlyph, bool, const char*>;
    const std::vector<Case> fallbacks = {
        {kStart, "e2e4P", false, MoveGlyph::Mistake, true, "P-K4?"},
        {kStart, "e2e5P", false, MoveGlyph::Good, true, "e2-e5"},
        {kStart, "e7e5P", false, MoveGlyph::None, false, "e7-e5"},
        {kStart, "e3e4P", false, MoveGlyph::None, false, "e3-e4"},
        {kPromotion, "e7e8K", true, MoveGlyph::None, false, "e8=K"},
        {kG1Attacked, "e1g1K", false, MoveGlyph::None, false, "e1-g1"},
        {kG1Attacked, "e1g1K", true, MoveGlyph::None, false, "O-O"}, // not filtered
    };
    for (const auto& [fen, move, nonstandard, glyph, descriptive, text] : fallbacks)
        EXPECT_EQ(formatMove(positionFrom(fen), moveFrom(move), nonstandard, glyph, descriptive),
                  text)
            << fen << " " << move;

    // The result is the number of moves in the list left for the next position.
    const std::vector<Case> moves = {
        {kStart, "g1f3N", false, MoveGlyph::Good, true, "N-KB3!"},
        {kScholar, "h5f7Q", false, MoveGlyph::Brilliant, false, "Qxf7#!!"},
        {kScholar, "h5f7Q", false, MoveGlyph::None, true, "QxBP#"},
        {kScholar, "h5f7Q", true, MoveGlyph::None, false, "Qxf7"},
        {kQueenChecks, "d1h5Q", false, MoveGlyph::Dubious, true, "Q-R5+?!"},
        // White has no king: nothing to look at for White; Black's king is in check.
        {kWhiteRookAlone, "a1a8R", false, MoveGlyph::None, false, "Ra8+"},
        {kKnightsNoKing, "b1d2N", false, MoveGlyph::None, false, "Nbd2"},
        // Black has no king after the move: no sign, no moves.
        {"8/8/8/8/8/8/4P3/4K3 w - - 0 1", "e2e4P", false, MoveGlyph::None, false, "e4"},
    };
    for (const auto& [fen, move, nonstandard, glyph, descriptive, expected] : moves)
        EXPECT_EQ(played(fen, move, nonstandard, glyph, descriptive), expected) << fen << move;
}

TEST(NotationList, TextsFollowTheLegalOrder)
{
    std::vector<std::string> texts = {"left over"};
    listMoveTexts(positionFrom(kStart), texts, false, true);
    ASSERT_EQ(texts.size(), 20u);
    EXPECT_EQ(texts[0] + " " + texts[2] + " " + texts[19], "N-QR3 N-KB3 P-KR4");
    listMoveTexts(positionFrom(kPromotion), texts, false, false);
    EXPECT_EQ(std::ranges::count(texts, "e8=K"), 0);
    listMoveTexts(positionFrom(kPromotion), texts, true, false);
    EXPECT_EQ(std::ranges::count(texts, "e8=K"), 1);
    listMoveTexts(positionFrom(kScholar), texts, false, false);
    EXPECT_EQ(std::ranges::count(texts, "Qxf7"), 1); // no check sign in the list
    listMoveTexts(positionFrom(kKnightsNoKing), texts, false, true);
    EXPECT_EQ(texts.size(), 11u); // 3 knight moves from b1 and 8 from f3, no king moves
    EXPECT_EQ(std::ranges::count(texts, "N/KB3-Q2"), 1);
}

} // namespace
} // namespace vez
