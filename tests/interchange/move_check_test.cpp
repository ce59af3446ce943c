// The reader's legality tests and the writer's move text against the chess rules' own
// operations (legalMoves, formatMoveAndPlay), over positions from real games, the perft
// positions and corner cases, and random walks from them.
#include "interchange/move_check.h"

#include <gtest/gtest.h>

#include <bitset>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "support/movetext.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kPositions = 1500;
#else
constexpr std::size_t kPositions = 5000;
#endif

// Castling through and out of attack, en passant that exposes the king, promotions with
// captures, a second king, no king, pawns on their last rank, castling rights with no rook;
// checks given by castling, by promoting and by the pawn taken en passant; the side not to
// move in check.
constexpr const char* kCornerCases[] = {
    "r3k2r/8/8/8/8/8/5r2/R3K2R w KQkq - 0 1",
    "r3k2r/8/8/8/8/8/3r4/R3K2R w KQkq - 0 1",
    "r3k2r/8/8/8/8/8/4r3/R3K2R w KQkq - 0 1",
    "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1",
    "4k3/8/8/K2pP2r/8/8/8/8 w - d 0 1",
    "8/8/8/8/k2Pp2Q/8/8/3K4 b - d 0 1",
    "8/8/3p4/KPp4r/1R3p1k/8/4P1P1/8 w - c 0 1",
    "r3k3/1P6/8/8/8/8/6p1/4K2R w K - 0 1",
    "r3k3/1P6/8/8/8/8/6p1/4K2R b K - 0 1",
    "4k3/8/8/8/8/8/8/K3K3 w - - 0 1",
    "4k3/8/8/8/8/8/8/R7 w - - 0 1",
    "P3k3/8/8/8/8/8/8/4K2p w - - 0 1",
    "4k3/8/8/8/8/8/8/4K3 w KQ - 0 1",
    "4k3/8/8/b7/8/2N5/4P3/4K3 w - - 0 1",
    "5k2/8/8/8/8/8/8/4K2R w K - 0 1",
    "k7/1P6/8/8/8/8/8/4K3 w - - 0 1",
    "8/8/8/1k1pP1R1/8/8/8/4K3 w - d 0 1",
    "k7/7p/8/3pP3/8/5B2/8/4K3 w - d 0 1",
    "4k3/p7/8/8/8/8/8/4RK2 w - - 0 1",
};

// A position with the legality of its line as followed up to it.
struct LinePosition {
    Position pos;
    LineLegality legality;
};

void playOn(LinePosition& at, Move move)
{
    const Position before = at.pos;
    makeMove(at.pos, move);
    at.legality.played(before, move, at.pos);
}

void collectLine(const Game& game, const GameLine& line, std::vector<LinePosition>& out)
{
    const Position start = game.lineStartPosition(line);
    LinePosition at{start, LineLegality(start)};
    for (const MoveEntry& entry : line.entries) {
        out.push_back(at);
        for (const auto& sub : entry.subLines)
            collectLine(game, *sub, out);
        playOn(at, entry.move);
    }
    out.push_back(at);
}

// Corner cases and perft positions with every move from them and random walks, then
// positions of real games (the bundled sample, and the annotated corpus file when there is
// one).
std::vector<LinePosition> testPositions()
{
    std::vector<std::string> fens(std::begin(kCornerCases), std::end(kCornerCases));
    if (auto perft = test::readTextFile(std::string(VEZ_CORPUS_DIR) + "/perft.txt")) {
        std::istringstream lines(*perft);
        for (std::string line; std::getline(lines, line);)
            fens.push_back(test::toFileEnPassant(line.substr(0, line.find(';'))));
    }
    std::vector<LinePosition> positions;
    std::mt19937 random(20120630);
    for (const std::string& fen : fens) {
        Position pos;
        EXPECT_TRUE(readFen(pos, fen)) << fen;
        const LinePosition start{pos, LineLegality(pos)};
        MoveList list;
        const int count = legalMoves(pos, list, false);
        for (int i = 0; i < count; ++i) {
            LinePosition after = start;
            playOn(after, list[i]);
            positions.push_back(after);
        }
        for (int walk = 0; walk < 15; ++walk) {
            LinePosition step = start;
            for (int ply = 0; ply < 10; ++ply) {
                positions.push_back(step);
                const int moves = legalMoves(step.pos, list, false);
                if (moves == 0)
                    break;
                playOn(step, list[random() % static_cast<unsigned>(moves)]);
            }
        }
    }
    for (const std::string& path : {std::string(VEZ_TEST_DATA_DIR) + "/twic0920-sample.pgn",
                                    std::string(VEZ_CORPUS_DIR) + "/games-annotated.pgn"}) {
        for (const Game& game : test::readGames(path, 300))
            if (positions.size() < kPositions)
                collectLine(game, game, positions);
    }
    return positions;
}

TEST(MoveCheck, ListedMovesAreTheLegalList)
{
    int checked = 0;
    for (const auto& [pos, legality] : testPositions()) {
        for (bool nonstandard : {false, true}) {
            MoveList list;
            const int count = legalMoves(pos, list, nonstandard);
            std::bitset<1 << 15> legal;
            for (int i = 0; i < count; ++i)
                legal.set(moveCode(list[i]));
            // Every from-square with a piece, every to-square, every type field; the
            // nonstandard list only for the moves it could hold.
            for (int from = 0; from < 64; ++from) {
                if (pos.squares[from] == kEmpty)
                    continue;
                for (int to = 0; to < 64; ++to) {
                    for (int type = 1; type <= 6; ++type) {
                        const Move move = encodeMove(from, to, static_cast<PieceType>(type));
                        if (nonstandard && !legal.test(moveCode(move)) && (to + type) % 7 != 0)
                            continue;
                        ++checked;
                        const bool listed = legal.test(moveCode(move));
                        ASSERT_EQ(isListedMove(pos, move, nonstandard), listed)
                            << writeFen(pos, 0, 1) << " move " << from << "-" << to << " type "
                            << type << (nonstandard ? " nonstandard" : "");
                        // The same judged by the line's legality as followed move by move.
                        if (!nonstandard) {
                            ASSERT_EQ(legality.isListed(pos, move), listed)
                                << writeFen(pos, 0, 1) << " move " << from << "-" << to << " type "
                                << type << " followed along its line";
                        }
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 100000);
}

// Not in the legal list: from and to square, and the new piece when the type field is not
// the moving piece's.
std::string coordinates(const Position& pos, Move move)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    std::string text = {char('a' + fileOf(from)), char('1' + rankOf(from)), '-',
                        char('a' + fileOf(to)), char('1' + rankOf(to))};
    if (pieceTypeOf(move) != typeOf(pos.squares[from]))
        text += std::string("=") + "?PNBRQK"[static_cast<int>(pieceTypeOf(move))];
    return text;
}

// The move text of a one-move game from the position, as the writer puts it.
std::string writtenMove(const Position& pos, Move move, bool nonstandard)
{
    Game game;
    game.startPosition = pos;
    game.append(move);
    const std::string text = writeGameToText(game, nonstandard);
    const std::size_t movetext = text.find("\r\n\r\n") + 4;
    const std::size_t start = text.find(' ', movetext) + 1;
    return text.substr(start, text.find(' ', start) - start);
}

TEST(MoveCheck, WriterGivesTheTextOfFormatMoveAndPlay)
{
    const std::vector<LinePosition> positions = testPositions();
    int checked = 0;
    for (std::size_t p = 0; p < positions.size(); p += 3) {
        const Position& pos = positions[p].pos;
        for (bool nonstandard : {false, true}) {
            MoveList generated;
            const int count = generateMoves(pos, generated, nonstandard);
            for (int i = 0; i < count; ++i) {
                Position played = pos;
                MoveList list;
                const int listed = legalMoves(played, list, nonstandard);
                MoveText text;
                std::string expected;
                if (formatMoveAndPlay(played, text, generated[i], list, listed, nonstandard,
                                      MoveGlyph::None, false) >= 0)
                    expected = text.data();
                else
                    expected = coordinates(pos, generated[i]);
                ++checked;
                ASSERT_EQ(writtenMove(pos, generated[i], nonstandard), expected)
                    << writeFen(pos, 0, 1) << (nonstandard ? " nonstandard" : "");
            }
        }
    }
    EXPECT_GT(checked, 10000);
}

} // namespace
} // namespace vez
