#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/position.h"

namespace vez {
namespace {

Position fromFen(const std::string& fen)
{
    Position pos;
    EXPECT_TRUE(readFen(pos, fen)) << fen;
    return pos;
}

int sq(const char* name) { return makeSquare(name[0] - 'a', name[1] - '1'); }

std::string coordinates(Move m)
{
    std::string s;
    s += char('a' + fileOf(fromSquare(m)));
    s += char('1' + rankOf(fromSquare(m)));
    s += char('a' + fileOf(toSquare(m)));
    s += char('1' + rankOf(toSquare(m)));
    if (pieceTypeOf(m) != PieceType::Pawn && (rankOf(toSquare(m)) == 0 || rankOf(toSquare(m)) == 7))
        s += " nbrqk"[int(pieceTypeOf(m)) - 1]; // meaningful for pawn moves only
    return s;
}

std::vector<std::string> moveNames(const MoveList& list, int n, bool withType = false)
{
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        std::string s = coordinates(list[i]).substr(0, 4);
        if (withType)
            s += ":" + std::to_string(int(pieceTypeOf(list[i])));
        out.push_back(s);
    }
    return out;
}

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

// Standard FEN writes the en-passant target square; ours writes the file alone.
std::string toOurFen(std::string fen)
{
    std::istringstream in(fen);
    std::string board, side, castling, ep, rest;
    in >> board >> side >> castling >> ep;
    std::getline(in, rest);
    if (ep.size() == 2)
        ep = ep.substr(0, 1);
    return board + " " + side + " " + castling + " " + ep + rest;
}

const std::filesystem::path kCorpus = VEZ_CORPUS_DIR;

TEST(MoveTables, KnightAndKingTargetOrder)
{
    const MoveTables& t = moveTables();
    // b1: +15 (a3) before +17 (c3) before +10 (d2); +6 is off the board.
    ASSERT_EQ(t.knightCount[sq("b1")], 3);
    EXPECT_EQ(t.knightTargets[sq("b1")][0], sq("a3"));
    EXPECT_EQ(t.knightTargets[sq("b1")][1], sq("c3"));
    EXPECT_EQ(t.knightTargets[sq("b1")][2], sq("d2"));
    // e4: up, up-right, right, down-right, down, down-left, left, up-left.
    const int e4 = sq("e4");
    const int expected[8] = {sq("e5"), sq("f5"), sq("f4"), sq("f3"),
                             sq("e3"), sq("d3"), sq("d4"), sq("d5")};
    ASSERT_EQ(t.kingCount[e4], 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(t.kingTargets[e4][i], expected[i]);
    EXPECT_EQ(t.kingCount[sq("h8")], 3);
    EXPECT_EQ(t.rayLength[sq("c2")][UpRight], 5);
    EXPECT_EQ(t.rayLength[sq("c2")][DownLeft], 1);
    EXPECT_EQ(t.rayLength[sq("c2")][UpLeft], 2);
}

TEST(MoveGeneration, StartPositionOrder)
{
    Position pos;
    setStandardStart(pos);
    MoveList list;
    const int n = legalMoves(pos, list, false);
    const std::vector<std::string> expected = {
        "b1a3", "b1c3", "g1f3", "g1h3", "a2a3", "a2a4", "b2b3", "b2b4", "c2c3", "c2c4",
        "d2d3", "d2d4", "e2e3", "e2e4", "f2f3", "f2f4", "g2g3", "g2g4", "h2h3", "h2h4"};
    EXPECT_EQ(moveNames(list, n), expected);
}

TEST(MoveGeneration, PromotionsInTypeOrder)
{
    Position pos = fromFen("k7/4P3/8/8/8/8/8/K7 w - -");
    MoveList list;
    int n = legalMoves(pos, list, false);
    std::vector<std::string> names = moveNames(list, n, true);
    std::vector<std::string> promotions(names.begin(), names.begin() + 4);
    EXPECT_EQ(promotions, (std::vector<std::string>{"e7e8:2", "e7e8:3", "e7e8:4", "e7e8:5"}));

    n = legalMoves(pos, list, true);
    names = moveNames(list, n, true);
    EXPECT_EQ(names[4], "e7e8:6");
    // Captures towards file a come before captures towards file h, each expanded.
    pos = fromFen("k2rnr2/4P3/8/8/8/8/8/K7 w - -");
    n = generateMoves(pos, list, false);
    names = moveNames(list, n, true);
    std::vector<std::string> pawn(names.begin(), names.begin() + 8);
    EXPECT_EQ(pawn, (std::vector<std::string>{"e7d8:2", "e7d8:3", "e7d8:4", "e7d8:5", "e7f8:2",
                                              "e7f8:3", "e7f8:4", "e7f8:5"}));
}

TEST(MoveGeneration, EnPassantAfterAdvanceAndCaptures)
{
    // 1. e4 d5 2. e5 f5
    Position pos;
    setStandardStart(pos);
    for (const char* m : {"e2e4", "d7d5", "e4e5", "f7f5"})
        makeMove(pos, encodeMove(sq(m), sq(m + 2), PieceType::Pawn));
    ASSERT_EQ(pos.enPassant, 1);
    ASSERT_EQ(pos.enPassantFile, 5);
    MoveList list;
    const int n = legalMoves(pos, list, false);
    std::vector<std::string> fromE5;
    for (const std::string& m : moveNames(list, n, true)) {
        if (m.rfind("e5", 0) == 0)
            fromE5.push_back(m);
    }
    EXPECT_EQ(fromE5, (std::vector<std::string>{"e5e6:1", "e5f6:1"}));
}

TEST(MoveGeneration, CastlingComesLast)
{
    Position pos = fromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    MoveList list;
    int n = generateMoves(pos, list, false);
    ASSERT_GE(n, 2);
    EXPECT_EQ(list[n - 2], encodeMove(sq("e1"), sq("g1"), PieceType::King));
    EXPECT_EQ(list[n - 1], encodeMove(sq("e1"), sq("c1"), PieceType::King));

    // g1 attacked by the rook on g8: generated, filtered out, kept when nonstandard.
    pos = fromFen("4k1r1/8/8/8/8/8/8/4K2R w K -");
    const Move castle = encodeMove(sq("e1"), sq("g1"), PieceType::King);
    n = generateMoves(pos, list, false);
    EXPECT_EQ(list[n - 1], castle);
    n = legalMoves(pos, list, false);
    EXPECT_EQ(std::count(list.begin(), list.begin() + n, castle), 0);
    n = legalMoves(pos, list, true);
    EXPECT_EQ(list[n - 1], castle);

    // f1 attacked: not even generated. The king in check: not generated.
    for (const char* fen : {"4kr2/8/8/8/8/8/8/4K2R w K -", "4k3/4r3/8/8/8/8/8/4K2R w K -",
                            "4k3/8/8/8/8/8/8/4K1NR w K -", "4k3/8/8/8/8/8/8/4K2R w - -"}) {
        pos = fromFen(fen);
        n = generateMoves(pos, list, false);
        EXPECT_EQ(std::count(list.begin(), list.begin() + n, castle), 0) << fen;
    }
}

TEST(MoveGeneration, IllegalMovesAreReplacedByTheLastMove)
{
    // The bishop on d2 is pinned against e1 by the bishop on a5.
    Position pos = fromFen("4k3/8/8/b7/8/8/3B4/4K3 w - -");
    MoveList pseudo;
    const int n = generateMoves(pos, pseudo, false);
    // Filter by hand: a move is kept in place or replaced by the last remaining move.
    std::vector<Move> expected(pseudo.begin(), pseudo.begin() + n);
    for (std::size_t i = 0; i < expected.size();) {
        Position copy = pos;
        const bool bad = leavesKingAttacked(copy, expected[i], sq("e1"));
        if (bad) {
            expected[i] = expected.back();
            expected.pop_back();
        } else {
            ++i;
        }
    }
    MoveList legal;
    const int m = legalMoves(pos, legal, false);
    EXPECT_EQ(std::vector<Move>(legal.begin(), legal.begin() + m), expected);
    // Only Bd2-c3, Bd2-b4 and Bxa5 stay for the bishop; the first bishop move (d2-e3)
    // was replaced by a king move.
    EXPECT_EQ(pieceTypeOf(legal[0]), PieceType::King);
    EXPECT_EQ(m, 3 + 4); // Bc3, Bb4, Bxa5 and Kd1, Kf1, Kf2, Ke2
}

TEST(MoveGeneration, NoLegalMoves)
{
    MoveList list;
    EXPECT_EQ(legalMoves(fromFen("7k/6Q1/6K1/8/8/8/8/8 b - -"), list, false), 0); // mate
    EXPECT_EQ(legalMoves(fromFen("7k/8/6QK/8/8/8/8/8 b - -"), list, false), 0);   // stalemate
}

TEST(MoveGeneration, NonstandardSecondKing)
{
    // Kings on d4 and e1: d4's steps at its place in the scan (after the pawn on b2,
    // before the pawn on g5), e1's steps and castling last.
    Position pos = fromFen("4k3/8/8/6P1/3K4/8/1P6/4K2R w K -");
    MoveList list;
    const int n = legalMoves(pos, list, true);
    const std::vector<std::string> names = moveNames(list, n);
    const std::vector<std::string> expected = {
        "h1h2", "h1h3", "h1h4", "h1h5", "h1h6", "h1h7", "h1h8", "h1g1", "h1f1",
        "b2b3", "b2b4", "d4d5", "d4e5", "d4e4", "d4e3", "d4d3", "d4c3", "d4c4", "d4c5",
        "g5g6", "e1e2", "e1f2", "e1f1", "e1d1", "e1d2", "e1g1"};
    EXPECT_EQ(names, expected);
    // In a standard database the second king is ignored.
    EXPECT_EQ(generateMoves(pos, list, false), int(expected.size()) - 8);
}

TEST(MoveGeneration, SideWithoutKingNeverReachesTheAttackTest)
{
    // No white king: every pseudo-legal move stands (nothing to leave attacked).
    Position pos = fromFen("4k3/8/8/8/8/8/3P4/3RB3 w - -");
    MoveList pseudo, legal;
    const int n = generateMoves(pos, pseudo, false);
    EXPECT_EQ(legalMoves(pos, legal, false), n);
    EXPECT_FALSE(isLegalMove(pos, encodeMove(sq("e1"), sq("e2"), PieceType::King)));
    EXPECT_TRUE(isLegalMove(pos, encodeMove(sq("d2"), sq("d4"), PieceType::Pawn)));
    EXPECT_GT(perft(pos, 3), 0); // replays through kingless positions
}

TEST(MoveGeneration, LegalityTestRestoresTheBoardExactly)
{
    // The en-passant file names d, but no black pawn stands on d5: the test must not
    // invent one while trying exd6.
    Position pos = fromFen("4k3/8/8/4P3/8/8/8/4K3 w - d");
    const Position before = pos;
    const Move ep = encodeMove(sq("e5"), sq("d6"), PieceType::Pawn);
    EXPECT_FALSE(leavesKingAttacked(pos, ep, sq("e1")));
    EXPECT_TRUE(std::memcmp(&pos, &before, sizeof pos) == 0);

    // Castling and ordinary captures restore every square too.
    pos = fromFen("r3k2r/8/8/8/8/8/8/R3K2R w KQkq -");
    const Position castling = pos;
    for (Move m : {encodeMove(4, 6, PieceType::King), encodeMove(4, 2, PieceType::King),
                   encodeMove(0, 56, PieceType::Rook)}) {
        leavesKingAttacked(pos, m, 4);
        EXPECT_TRUE(std::memcmp(&pos, &castling, sizeof pos) == 0);
    }
}

TEST(MoveGeneration, PiecesReachingOrder)
{
    Position pos = fromFen("4k3/8/8/1Q3Q2/8/1Q1Q1Q2/8/4K3 w - -");
    int out[8];
    // Queens reaching d5 along the rays up, right, down, left, then up-right, up-left,
    // down-right, down-left.
    const int n = piecesReaching(pos, PieceType::Queen, sq("d5"), out);
    std::vector<int> got(out, out + n);
    EXPECT_EQ(got, (std::vector<int>{sq("f5"), sq("d3"), sq("b5"), sq("f3"), sq("b3")}));

    pos = fromFen("4k3/8/8/8/8/8/8/1N2K1N1 w - -");
    EXPECT_EQ(piecesReaching(pos, PieceType::Knight, sq("d2"), out), 1);
    EXPECT_EQ(out[0], sq("b1"));
    EXPECT_EQ(piecesReaching(pos, PieceType::Knight, sq("e2"), out), 1);
    EXPECT_EQ(out[0], sq("g1"));
    EXPECT_EQ(piecesReaching(pos, PieceType::Rook, sq("e2"), out), 0);
    EXPECT_EQ(piecesReaching(pos, PieceType::King, sq("d2"), out), 1);
}

TEST(Perft, PublishedCountsAtModestDepth)
{
    // Well-known reference counts, so that a checkout without the corpus still checks
    // the generator through castling, en passant, promotions and pins.
    struct Case {
        const char* fen;
        int depth;
        long long nodes;
    };
    const Case cases[] = {
        {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 4, 197281},
        {"r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1", 3, 97862},
        {"8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1", 4, 43238},
        {"r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1", 3, 9467},
        {"rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8", 3, 62379},
        {"r4rk1/1pp1qppp/p1np1n2/2b1p1B1/2B1P1b1/P1NP1N2/1PP1QPPP/R4RK1 w - - 0 10", 3, 89890},
    };
    for (const Case& c : cases)
        EXPECT_EQ(perft(fromFen(c.fen), c.depth), c.nodes) << c.fen;
}

TEST(Perft, CorpusReferenceCounts)
{
    std::ifstream in(kCorpus / "perft.txt");
    if (!in)
        GTEST_SKIP() << "corpus not present";
    std::string line;
    int checked = 0;
    while (std::getline(in, line)) {
        const auto a = line.find(';');
        const auto b = line.find(';', a + 1);
        if (a == std::string::npos || b == std::string::npos)
            continue;
        const std::string fen = toOurFen(line.substr(0, a));
        const int depth = std::stoi(line.substr(a + 1, b - a - 1));
        const long long nodes = std::stoll(line.substr(b + 1));
        EXPECT_EQ(perft(fromFen(fen), depth), nodes) << fen;
        ++checked;
    }
    EXPECT_EQ(checked, 6);
}

// Debian installs Stockfish under /usr/games, which is not always on the PATH.
std::string findStockfish()
{
    if (std::system("command -v stockfish >/dev/null 2>&1") == 0)
        return "stockfish";
    if (std::filesystem::exists("/usr/games/stockfish"))
        return "/usr/games/stockfish";
    return {};
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

TEST(Perft, AgreesWithStockfishOnTestSuitePositions)
{
    std::ifstream in(kCorpus / "positions.epd");
    if (!in)
        GTEST_SKIP() << "corpus not present";
    const std::string stockfish = findStockfish();
    if (stockfish.empty())
        GTEST_SKIP() << "stockfish not installed";
#if defined(__SANITIZE_ADDRESS__)
    const int depth = 2;
#else
    const int depth = 3;
#endif
    std::vector<std::string> standard; // as Stockfish reads them
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string board, side, castling, ep;
        fields >> board >> side >> castling >> ep;
        standard.push_back(board + " " + side + " " + castling + " " + ep);
    }
    const std::vector<long long> expected = stockfishPerft(stockfish, standard, depth);
    ASSERT_EQ(expected.size(), standard.size());
    for (std::size_t i = 0; i < standard.size(); ++i) {
        const Position pos = fromFen(toOurFen(standard[i]));
        ASSERT_EQ(perft(pos, depth), expected[i]) << standard[i];
    }
}

} // namespace
} // namespace vez
