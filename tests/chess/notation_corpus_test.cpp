// Real games, replayed move by move: at every position reached, every legal move must come
// back unchanged through SAN and through descriptive text, and the position through FEN.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "support/movetext.h"

namespace vez {
namespace {

// Under AddressSanitizer the same checks run about three times slower.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kLargeCorpusGames = 600;
#else
constexpr int kLargeCorpusGames = 1500;
#endif
constexpr int kReportedFailures = 20; // the rest are only counted

std::string squareName(int square)
{
    return {static_cast<char>('a' + fileOf(square)), static_cast<char>('1' + rankOf(square))};
}

std::string moveName(Move move)
{
    return squareName(fromSquare(move)) + squareName(toSquare(move)) + "/" +
           std::to_string(static_cast<int>(pieceTypeOf(move)));
}

class CorpusReplay {
public:
    explicit CorpusReplay(std::string name) : m_name(std::move(name)) {}

    void replay(const test::PgnGame& game)
    {
        ++m_games;
        Position pos;
        int halfmoveClock = 0;
        int moveNumber = 0;
        if (!readFen(pos, game.fen, &halfmoveClock, &moveNumber)) {
            fail("unreadable FEN tag '" + game.fen + "'");
            return;
        }
        moveNumber = std::max(moveNumber, 1);
        MoveList list;
        int count = legalMoves(pos, list, false);
        for (const std::string& token : game.moves) {
            checkPosition(pos, halfmoveClock, moveNumber);
            Move move = Move::None;
            if (!parseMove(pos, move, nullptr, nullptr, token)) {
                m_stopped.push_back(token + " in " + writeFen(pos, halfmoveClock, moveNumber));
                return;
            }
            if (std::find(list.begin(), list.begin() + count, move) == list.begin() + count) {
                fail("'" + token + "' read as " + moveName(move) + ", which is not legal in " +
                     writeFen(pos, halfmoveClock, moveNumber));
                return;
            }
            const bool reset = typeOf(pos.squares[fromSquare(move)]) == PieceType::Pawn ||
                               pos.squares[toSquare(move)] != kEmpty;
            halfmoveClock = reset ? 0 : halfmoveClock + 1;
            moveNumber += pos.sideToMove == kBlack ? 1 : 0;
            MoveText text{};
            count = formatMoveAndPlay(pos, text, move, list, count, false, MoveGlyph::None, false);
            m_sameAsRecorded += withoutGlyph(token) == text.data() ? 1 : 0;
            ++m_gameMoves;
        }
        checkPosition(pos, halfmoveClock, moveNumber);
    }

    void report() const
    {
        std::printf("[ CORPUS   ] %s: %d games, %d game moves (%d written as recorded), "
                    "%ld positions, %ld moves checked, %zu games stopped at a token that is "
                    "no move\n",
                    m_name.c_str(), m_games, m_gameMoves, m_sameAsRecorded, m_positions,
                    m_movesChecked, m_stopped.size());
        for (const std::string& stop : m_stopped)
            std::printf("[ CORPUS   ]   stopped at %s\n", stop.c_str());
        const std::string prefix = m_name + "_";
        ::testing::Test::RecordProperty(prefix + "games", m_games);
        ::testing::Test::RecordProperty(prefix + "positions", static_cast<int>(m_positions));
        ::testing::Test::RecordProperty(prefix + "moves_checked", static_cast<int>(m_movesChecked));
    }

    int games() const { return m_games; }
    int gameMoves() const { return m_gameMoves; }
    int sameAsRecorded() const { return m_sameAsRecorded; }
    std::size_t stopped() const { return m_stopped.size(); }
    long failures() const { return m_failures; }

private:
    static std::string_view withoutGlyph(std::string_view token)
    {
        while (!token.empty() && (token.back() == '!' || token.back() == '?'))
            token.remove_suffix(1);
        return token;
    }

    void fail(const std::string& what)
    {
        if (++m_failures <= kReportedFailures)
            ADD_FAILURE() << m_name << ": " << what;
    }

    void checkPosition(const Position& pos, int halfmoveClock, int moveNumber)
    {
        ++m_positions;
        MoveList list;
        const int count = legalMoves(pos, list, false);
        for (int i = 0; i < count; ++i) {
            checkSan(pos, list[i], list, count);
            checkDescriptive(pos, list[i], list, count);
        }
        m_movesChecked += count;
        checkFen(pos, halfmoveClock, moveNumber);
    }

    void checkSan(const Position& pos, Move move, const MoveList& list, int count)
    {
        MoveText text{};
        Move back = Move::None;
        bool legal = false;
        if (formatSan(pos, text, move, list, count, MoveGlyph::None) != 0 ||
            !parseMove(pos, back, &legal, nullptr, text.data()) || back != move || !legal)
            fail("SAN '" + std::string(text.data()) + "' of " + moveName(move) + " came back as " +
                 moveName(back) + (legal ? "" : " (not legal)") + " in " + writeFen(pos, 0, 1));
    }

    void checkDescriptive(const Position& pos, Move move, const MoveList& list, int count)
    {
        MoveText text{};
        Move back = Move::None;
        bool legal = false;
        if (formatDescriptive(pos, text, move, list, count, MoveGlyph::None) != 0 ||
            !parseDescriptive(pos, back, &legal, nullptr, text.data()) || back != move || !legal)
            fail("descriptive '" + std::string(text.data()) + "' of " + moveName(move) +
                 " came back as " + moveName(back) + " in " + writeFen(pos, 0, 1));
    }

    void checkFen(const Position& pos, int halfmoveClock, int moveNumber)
    {
        const std::string fen = writeFen(pos, halfmoveClock, moveNumber);
        Position back;
        int halfmoveBack = -1;
        int moveNumberBack = -1;
        if (!readFen(back, fen, &halfmoveBack, &moveNumberBack) || !samePosition(back, pos) ||
            halfmoveBack != halfmoveClock || moveNumberBack != moveNumber)
            fail("FEN '" + fen + "' does not read back");
    }

    std::string m_name;
    int m_games = 0;
    int m_gameMoves = 0;
    int m_sameAsRecorded = 0; // game moves whose SAN with check sign is the recorded text
    long m_positions = 0;
    long m_movesChecked = 0;
    long m_failures = 0;
    std::vector<std::string> m_stopped;
};

// Replays up to maxGames games of the file; false when the file is not there.
bool replayFile(CorpusReplay& replay, const std::string& path, int maxGames,
                std::size_t maxBytes = std::string::npos)
{
    const std::optional<std::string> text = test::readTextFile(path, maxBytes);
    if (!text)
        return false;
    test::PgnMovetextReader reader(*text);
    test::PgnGame game;
    while (replay.games() < maxGames && reader.next(game))
        replay.replay(game);
    replay.report();
    return true;
}

TEST(NotationCorpus, AnnotatedGamesRoundTripEveryLegalMove)
{
    CorpusReplay replay("games-annotated");
    if (!replayFile(replay, VEZ_CORPUS_DIR "/games-annotated.pgn", 1 << 30))
        GTEST_SKIP() << "no corpus at " VEZ_CORPUS_DIR;
    EXPECT_EQ(replay.games(), 1077);
    EXPECT_EQ(replay.stopped(), 0u); // all of them replay legally
    EXPECT_EQ(replay.failures(), 0);
    // Hand-annotated sources slip now and then: a missing "+", "+" for a mate, a file
    // named for a knight that is pinned. All else must be written exactly as recorded.
    EXPECT_GE(replay.sameAsRecorded(), replay.gameMoves() * 0.995);
}

TEST(NotationCorpus, LargeCorpusRoundTripsEveryLegalMove)
{
    CorpusReplay replay("games-large");
    // The games asked for lie well within the first megabytes of the 100 MB file.
    if (!replayFile(replay, VEZ_CORPUS_DIR "/games-large.pgn", kLargeCorpusGames, 16u << 20))
        GTEST_SKIP() << "no corpus at " VEZ_CORPUS_DIR;
    EXPECT_EQ(replay.games(), kLargeCorpusGames);
    EXPECT_EQ(replay.stopped(), 0u);
    EXPECT_EQ(replay.failures(), 0);
    // These games were written by a program: every move, check and mate sign included.
    EXPECT_EQ(replay.sameAsRecorded(), replay.gameMoves());
}

TEST(NotationCorpus, BundledSampleRoundTripsEveryLegalMove)
{
    CorpusReplay replay("twic0920-sample");
    if (!replayFile(replay, VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 1 << 30))
        GTEST_SKIP() << "no " VEZ_TEST_DATA_DIR "/twic0920-sample.pgn";
    EXPECT_GT(replay.games(), 0);
    EXPECT_EQ(replay.stopped(), 0u);
    EXPECT_EQ(replay.failures(), 0);
    EXPECT_EQ(replay.sameAsRecorded(), replay.gameMoves());
}

} // namespace
} // namespace vez
