// Real games, replayed move by move: at every position reached, every legal move must come
// back unchanged through SAN and through descriptive text, and the position through FEN.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "support/movetext.h"

namespace vez {
namespace {

// The sanitizer build (-O0) runs the same checks over ten times slower: it takes the first
// games of each file.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kLargeCorpusGames = 200;
constexpr int kAnnotatedGames = 200;
#else
constexpr int kLargeCorpusGames = 1500;
constexpr int kAnnotatedGames = 1077; // all of them
#endif
constexpr int kReportedFailures = 20; // the rest are only counted

std::string squareName(int sq) { return {char('a' + fileOf(sq)), char('1' + rankOf(sq))}; }

std::string moveName(Move move)
{
    return squareName(fromSquare(move)) + squareName(toSquare(move)) + "/" +
           std::to_string(static_cast<int>(pieceTypeOf(move)));
}

class CorpusReplay {
public:
    // `variants`: also read every move back from the other spellings of its SAN.
    CorpusReplay(std::string name, bool variants) : m_name(std::move(name)), m_variants(variants) {}

    void replay(const test::PgnGame& game)
    {
        ++games;
        Position pos;
        int halfmoveClock = 0, moveNumber = 0;
        if (!readFen(pos, game.fen, &halfmoveClock, &moveNumber))
            return fail("unreadable FEN tag '" + game.fen + "'");
        moveNumber = std::max(moveNumber, 1);
        MoveList list;
        int count = legalMoves(pos, list, false);
        for (const std::string& token : game.moves) {
            checkPosition(pos, halfmoveClock, moveNumber);
            Move move = Move::None;
            if (!parseMove(pos, move, nullptr, nullptr, token))
                return fail("stopped at " + token + " in " +
                            writeFen(pos, halfmoveClock, moveNumber));
            if (std::find(list.begin(), list.begin() + count, move) == list.begin() + count)
                return fail("'" + token + "' read as " + moveName(move) +
                            ", which is not legal in " + writeFen(pos, halfmoveClock, moveNumber));
            const bool reset = typeOf(pos.squares[fromSquare(move)]) == PieceType::Pawn ||
                               pos.squares[toSquare(move)] != kEmpty;
            halfmoveClock = reset ? 0 : halfmoveClock + 1;
            moveNumber += pos.sideToMove == kBlack ? 1 : 0;
            MoveText text{};
            count = formatMoveAndPlay(pos, text, move, list, count, false, MoveGlyph::None, false);
            // The recorded token without its glyph.
            sameAsRecorded += token.substr(0, token.find_last_not_of("!?") + 1) == text.data();
            ++gameMoves;
        }
        checkPosition(pos, halfmoveClock, moveNumber);
    }

    // sameAsRecorded: game moves whose SAN with check sign is the recorded text.
    int games = 0, gameMoves = 0, sameAsRecorded = 0;
    long failures = 0;

private:
    void fail(const std::string& what)
    {
        if (++failures <= kReportedFailures)
            ADD_FAILURE() << m_name << ": " << what;
    }

    void checkPosition(const Position& pos, int halfmoveClock, int moveNumber)
    {
        MoveList list;
        const int count = legalMoves(pos, list, false);
        for (int i = 0; i < count; ++i)
            for (bool descriptive : {false, true})
                checkText(pos, list[i], list, count, descriptive);
        const std::string fen = writeFen(pos, halfmoveClock, moveNumber);
        Position back;
        int halfmoveBack = -1, moveNumberBack = -1;
        if (!readFen(back, fen, &halfmoveBack, &moveNumberBack) || !samePosition(back, pos) ||
            halfmoveBack != halfmoveClock || moveNumberBack != moveNumber)
            fail("FEN '" + fen + "' does not read back");
    }

    void checkText(const Position& pos, Move move, const MoveList& list, int count,
                   bool descriptive)
    {
        MoveText text{};
        Move back = Move::None;
        bool legal = false;
        const int result = descriptive
                               ? formatDescriptive(pos, text, move, list, count, MoveGlyph::None)
                               : formatSan(pos, text, move, list, count, MoveGlyph::None);
        if (result != 0 ||
            !(descriptive ? parseDescriptive : parseMove)(pos, back, &legal, nullptr,
                                                          text.data()) ||
            back != move || !legal)
            fail(std::string(descriptive ? "descriptive" : "SAN") + " '" + text.data() + "' of " +
                 moveName(move) + " came back as " + moveName(back) +
                 (legal ? "" : " (not legal)") + " in " + writeFen(pos, 0, 1));
        for (const std::string& variant : m_variants && !descriptive ? variants(move, text.data())
                                                                     : std::vector<std::string>{}) {
            if (!parseMove(pos, back, &legal, nullptr, variant) || back != move || !legal)
                fail("'" + variant + "' of " + moveName(move) + " came back as " + moveName(back) +
                     " in " + writeFen(pos, 0, 1));
        }
    }

    // Other spellings of the move found in real files: coordinates, no "x" or ":" for it,
    // zeros in castling, lower-case piece letters, promotions without "=" or with "/".
    static std::vector<std::string> variants(Move move, const std::string& san)
    {
        const bool promotes = san.find('=') != std::string::npos;
        std::string coordinates =
            squareName(fromSquare(move)) + (promotes ? "" : "-") + squareName(toSquare(move));
        if (promotes)
            coordinates += "=" + std::string(1, char(std::tolower(san.back())));
        std::vector<std::string> out = {coordinates, san + "+", san, san};
        std::erase(out[2], 'x');
        std::replace(out[3].begin(), out[3].end(), 'x', ':');
        if (san[0] == 'O')
            std::replace(out[3].begin(), out[3].end(), 'O', '0');
        if (std::string_view("NRQK").find(san[0]) != std::string_view::npos)
            out[1][0] = char(std::tolower(san[0]));
        if (promotes) {
            out[2].erase(out[2].find('='), 1);
            out[3][out[3].find('=')] = '/';
        }
        return out;
    }

    std::string m_name;
    bool m_variants;
};

struct CorpusFile {
    const char* name;
    std::string path;
    int games; // all of them, or the first ones
    bool variants;
    // Hand-annotated sources slip now and then (a missing "+", "+" for a mate, a file named
    // for a pinned knight); games written by a program have every move and sign exactly.
    double asRecorded;
};

class NotationCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(NotationCorpus, EveryLegalMoveRoundTrips)
{
    const CorpusFile& file = GetParam();
    // The large file's first games lie well within its first megabytes.
    const std::optional<std::string> text = test::readTextFile(file.path, 16u << 20);
    if (!text)
        GTEST_SKIP() << file.path << " is missing";
    CorpusReplay replay(file.name, file.variants);
    test::PgnMovetextReader reader(*text);
    test::PgnGame game;
    while (replay.games < file.games && reader.next(game))
        replay.replay(game);
    std::printf("[ CORPUS   ] %s: %d games, %d game moves, %d written as recorded\n", file.name,
                replay.games, replay.gameMoves, replay.sameAsRecorded);
    EXPECT_EQ(replay.games, file.games);
    EXPECT_EQ(replay.failures, 0);
    EXPECT_GE(replay.sameAsRecorded, replay.gameMoves * file.asRecorded);
}

INSTANTIATE_TEST_SUITE_P(
    Files, NotationCorpus,
    ::testing::Values(
        CorpusFile{"annotated", VEZ_CORPUS_DIR "/games-annotated.pgn", kAnnotatedGames, true,
                   0.995},
        CorpusFile{"large", VEZ_CORPUS_DIR "/games-large.pgn", kLargeCorpusGames, false, 1.0},
        CorpusFile{"sample", VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 60, true, 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vez
