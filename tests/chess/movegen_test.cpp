#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "chess/movegen.h"
#include "chess/position.h"
#include "support/board.h"
#include "support/movetext.h"

namespace vez {
namespace {

using test::moveFrom, test::positionFrom, test::sq;

long long perft(const Position& pos, int depth, bool nonstandard = false)
{
    MoveList list;
    const int n = legalMoves(pos, list, nonstandard);
    if (depth <= 1)
        return depth == 1 ? n : 1;
    long long total = 0;
    for (int i = 0; i < n; ++i) {
        Position next = pos;
        makeMove(next, list[i]);
        total += perft(next, depth - 1, nonstandard);
    }
    return total;
}

// The order of the legal moves is part of the file format (a game stores each move as its
// place in the list), so whole lists are compared: from-square, to-square, and the letter
// of the piece a pawn becomes.
std::string moveList(const Position& pos, char mode)
{
    MoveList list;
    const int n =
        mode == 'g' ? generateMoves(pos, list, false) : legalMoves(pos, list, mode == 'n');
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += out.empty() ? "" : " ";
        for (int square : {fromSquare(list[i]), toSquare(list[i])})
            out += {char('a' + fileOf(square)), char('1' + rankOf(square))};
        if (typeOf(pos.squares[fromSquare(list[i])]) != pieceTypeOf(list[i]))
            out += " pnbrqk"[int(pieceTypeOf(list[i]))];
    }
    return out;
}

TEST(MoveGeneration, OrderOfTheList)
{
    // The rook on h1 and the king on e1, in their order; castling comes last.
    const std::string rookAndKing =
        "h1h2 h1h3 h1h4 h1h5 h1h6 h1h7 h1h8 h1g1 h1f1 e1e2 e1f2 e1f1 e1d1 e1d2";
    // The position, the list (g: generated, pseudo-legal; l: legal; n: legal, nonstandard
    // rules), and its moves.
    const std::tuple<const char*, char, std::string> cases[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -", 'l',
         "b1a3 b1c3 g1f3 g1h3 a2a3 a2a4 b2b3 b2b4 c2c3 c2c4 d2d3 d2d4 e2e3 e2e4 f2f3 f2f4 g2g3 "
         "g2g4 h2h3 h2h4"},
        {"k7/4P3/8/8/8/8/8/K7 w - -", 'l', "e7e8n e7e8b e7e8r e7e8q a1a2 a1b2 a1b1"},
        {"k7/4P3/8/8/8/8/8/K7 w - -", 'n', "e7e8n e7e8b e7e8r e7e8q e7e8k a1a2 a1b2 a1b1"},
        // Captures towards file a before captures towards file h, each promotion expanded.
        {"k2rnr2/4P3/8/8/8/8/8/K7 w - -", 'g',
         "e7d8n e7d8b e7d8r e7d8q e7f8n e7f8b e7f8r e7f8q a1a2 a1b2 a1b1"},
        // Castling last, kingside first.
        {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", 'g',
         "a1a2 a1a3 a1a4 a1a5 a1a6 a1a7 a1a8 a1b1 a1c1 a1d1 h1h2 h1h3 h1h4 h1h5 h1h6 h1h7 h1h8 "
         "h1g1 h1f1 e1e2 e1f2 e1f1 e1d1 e1d2 e1g1 e1c1"},
        // g1 attacked: generated, filtered out, kept when nonstandard.
        {"4k1r1/8/8/8/8/8/8/4K2R w K -", 'g', rookAndKing + " e1g1"},
        {"4k1r1/8/8/8/8/8/8/4K2R w K -", 'l', rookAndKing},
        {"4k1r1/8/8/8/8/8/8/4K2R w K -", 'n', rookAndKing + " e1g1"},
        // f1 attacked, the king in check, f1 occupied, no right: not even generated.
        {"4kr2/8/8/8/8/8/8/4K2R w K -", 'g', rookAndKing},
        {"4k3/4r3/8/8/8/8/8/4K2R w K -", 'g', rookAndKing},
        {"4k3/8/8/8/8/8/8/4K1NR w K -", 'g',
         "g1e2 g1f3 g1h3 h1h2 h1h3 h1h4 h1h5 h1h6 h1h7 h1h8 e1e2 e1f2 e1f1 e1d1 e1d2"},
        {"4k3/8/8/8/8/8/8/4K2R w - -", 'g', rookAndKing},
        // An illegal move is replaced by the last move of the list: the pinned bishop's
        // first move (to e3) gives its place to a king move.
        {"4k3/8/8/b7/8/8/3B4/4K3 w - -", 'l', "e1d1 e1f1 e1f2 e1e2 d2a5 d2c3 d2b4"},
        {"7k/6Q1/6K1/8/8/8/8/8 b - -", 'l', ""}, // mate (stalemate alike)
        // A second king moves at its place in the scan; in a standard database it is ignored.
        {"4k3/8/8/6P1/3K4/8/1P6/4K2R w K -", 'n',
         "h1h2 h1h3 h1h4 h1h5 h1h6 h1h7 h1h8 h1g1 h1f1 b2b3 b2b4 d4d5 d4e5 d4e4 d4e3 d4d3 d4c3 "
         "d4c4 d4c5 g5g6 e1e2 e1f2 e1f1 e1d1 e1d2 e1g1"},
        {"4k3/8/8/6P1/3K4/8/1P6/4K2R w K -", 'l',
         "h1h2 h1h3 h1h4 h1h5 h1h6 h1h7 h1h8 h1g1 h1f1 b2b3 b2b4 g5g6 e1e2 e1f2 e1f1 e1d1 e1d2 "
         "e1g1"},
        // No king: nothing to leave attacked, every generated move stands.
        {"4k3/8/8/8/8/8/3P4/3RB3 w - -", 'l', "d1c1 d1b1 d1a1 e1f2 e1g3 e1h4 d2d3 d2d4"},
    };
    for (const auto& [fen, mode, moves] : cases)
        EXPECT_EQ(moveList(positionFrom(fen), mode), moves) << fen << " " << mode;
}

TEST(MoveGeneration, LegalityTestRestoresTheBoardExactly)
{
    // The en-passant file names d, but no black pawn stands on d5: the test must not
    // invent one while trying exd6. Castling and captures restore every square too.
    for (auto [fen, move] : {std::pair{"4k3/8/8/4P3/8/8/8/4K3 w - d", moveFrom("e5d6P")},
                             {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", moveFrom("e1g1K")},
                             {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", moveFrom("e1c1K")},
                             {"r3k2r/8/8/8/8/8/8/R3K2R w KQkq -", moveFrom("a1a8R")}}) {
        Position pos = positionFrom(fen);
        const Position before = pos;
        EXPECT_FALSE(leavesKingAttacked(pos, move, sq("e1")));
        EXPECT_TRUE(std::memcmp(&pos, &before, sizeof pos) == 0) << fen;
    }
}

// Well-known reference counts (the corpus's perft.txt at a smaller depth), so that a
// checkout without the corpus still checks castling, en passant, promotions and pins.
const std::tuple<const char*, int, long long> kPublishedPerft[] = {
    {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 4, 197281},
    {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 3, 97862},
    {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 4, 43238},
    {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3, 9467},
    {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 3, 62379},
    {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", 3, 89890},
};

TEST(Perft, PublishedCountsAtModestDepth)
{
    for (const auto& [fen, depth, nodes] : kPublishedPerft)
        EXPECT_EQ(perft(positionFrom(fen), depth), nodes) << fen;
}

// A stored move is its place in the legal list, which legalMoveIndex finds without
// filtering the whole list where it can: every generated move, legal or not, of the
// published positions and of those two moves on (checks, pins, en passant, castling,
// promotions) has the place the list gives it.
TEST(MoveGeneration, PlaceOfAMoveInTheLegalList)
{
    std::vector<Position> positions;
    const auto collect = [&](const auto& self, const Position& pos, int depth) -> void {
        positions.push_back(pos);
        MoveList list;
        const int n = depth > 0 ? legalMoves(pos, list, false) : 0;
        for (int i = 0; i < n; ++i) {
            Position next = pos;
            makeMove(next, list[i]);
            self(self, next, depth - 1);
        }
    };
    for (const auto& [fen, depth, nodes] : kPublishedPerft)
        collect(collect, positionFrom(fen), 2);
    long long checked = 0;
    for (const Position& pos : positions) {
        MoveList legal, generated;
        const int n = legalMoves(pos, legal, false);
        const int g = generateMoves(pos, generated, false);
        for (int i = 0; i < g; ++i) {
            const int place = int(std::find(legal.begin(), legal.begin() + n, generated[i]) -
                                  legal.begin());
            ASSERT_EQ(legalMoveIndex(pos, generated[i], false), place < n ? place : -1)
                << writeEpd(pos) << " move " << i;
            ++checked;
        }
    }
    EXPECT_GT(checked, 100000);
}

// Runs Stockfish on a batch of positions and returns its perft counts.
std::vector<long long> stockfishPerft(const std::string& stockfish,
                                      const std::vector<std::string>& fens, int depth)
{
    const std::filesystem::path script =
        std::filesystem::temp_directory_path() / ("vez-perft-" + std::to_string(::getpid()));
    {
        std::ofstream out(script);
        for (const std::string& fen : fens)
            out << "position fen " << fen << "\ngo perft " << depth << "\n";
        out << "quit\n";
    }
    std::vector<long long> counts;
    const std::string command = stockfish + " < '" + script.string() + "' 2>/dev/null";
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) {
            long long nodes = 0;
            if (std::sscanf(buffer, "Nodes searched: %lld", &nodes) == 1)
                counts.push_back(nodes);
        }
        ::pclose(pipe);
    }
    std::filesystem::remove(script);
    return counts;
}

// Each position is also written back as it was read.
TEST(Perft, AgreesWithStockfishOnTestSuitePositions)
{
    std::ifstream in(VEZ_CORPUS_DIR "/positions.epd");
    if (!in)
        GTEST_SKIP() << "corpus not present";
    const std::string stockfish = "/usr/games/stockfish"; // where Debian installs it
    if (!std::filesystem::exists(stockfish))
        GTEST_SKIP() << stockfish << " is missing";
#if defined(__SANITIZE_ADDRESS__)
    const int depth = 2;
#else
    const int depth = 3;
#endif
    std::vector<std::string> standard; // as Stockfish reads them
    for (std::string line; std::getline(in, line);) {
        std::size_t end = 0; // after the board, side, castling and en-passant fields
        for (int field = 0; field < 4; ++field)
            end = line.find(' ', end + 1);
        standard.push_back(line.substr(0, end));
    }
    const std::vector<long long> expected = stockfishPerft(stockfish, standard, depth);
    ASSERT_EQ(expected.size(), standard.size());
    for (std::size_t i = 0; i < standard.size(); ++i) {
        // Our FEN writes the en-passant file alone.
        const Position pos = positionFrom(test::toFileEnPassant(standard[i]));
        EXPECT_EQ(writeEpd(pos), test::toFileEnPassant(standard[i]));
        ASSERT_EQ(perft(pos, depth), expected[i]) << standard[i];
    }
}

} // namespace
} // namespace vez
