// The PGN reader: tag sections, movetext, errors with their codes and lines, recovery.
#include "interchange/pgn_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "interchange/pgn_writer.h"
#include "support/game_text.h"

namespace vez {
namespace {

using test::movetextOf;

const std::string kRoster = "[Event \"e\"]\n[White \"w\"]\n[Black \"b\"]\n[Result \"*\"]\n";

struct Case {
    std::string text;
    int code;             // 0: the game is read
    std::string expected; // the error's argument, or what the table's view shows of the game
    bool allowIllegal = false;
};

// Reads the first game of each text: the error it raises, or the view of the game read.
void runCases(const std::vector<Case>& cases,
              const std::function<std::string(const Game&, bool)>& view)
{
    for (const Case& c : cases) {
        PgnSource source;
        source.openText(c.text);
        Game game;
        std::string outcome;
        try {
            outcome = readPgnGame(game, source, c.allowIllegal) ? "0 " + view(game, c.allowIllegal)
                                                                : "no game";
        } catch (const PGNGameException& error) {
            outcome = std::to_string(error.code()) + " " + error.argument();
        }
        EXPECT_EQ(outcome, std::to_string(c.code) + " " + c.expected) << c.text;
    }
}

// The header fields that are set, then the movetext.
std::string headerAndMoves(const Game& g, bool)
{
    std::string out;
    for (const auto& [name, value] :
         {std::pair{"Event", g.event},
          {"Site", g.site},
          {"White", g.white},
          {"Black", g.black},
          {"ECO", g.eco},
          {"Round", std::to_string(g.round)},
          {"Date", std::to_string(g.year * 10000 + g.month * 100 + g.day)},
          {"Result", std::to_string(g.result)}})
        out += value.empty() || value == "0" ? "" : std::string(name) + "=" + value + "; ";
    for (const auto& tag : g.tags)
        out += tag.name + "=" + tag.value + "; ";
    return out + movetextOf(g);
}

// The messy corpus file shows more refusals, each at its line (pgn_corpus_test).
TEST(PgnReader, TagSections)
{
    const std::string start = "\n1. e4 *\n";
    runCases(
        {
            {"[Event \"The \"Big\" Open\"]\n" + start, 0, "Event=The \"Big\" Open; e4"},
            // A blank after an inner quote is lost; "?" is empty, twice no duplicate.
            {"[Event \"The\" Big\"]\n" + start, 0, "Event=The\"Big; e4"},
            {"[Event \"A \\\"B\\\" C\\\\D\"]\n" + start, 0, "Event=A \"B\" C\\D; e4"},
            {"[White \"?\"]\n[White \"?\"]\n" + start, 0, "e4"},
            // Roster fields and other tags in their order; SetUp is not kept.
            {"[Site \"Tomsk\"]\n[Round \"5.2\"]\n[Date \"2012.06.30\"]\n[ECO \"b12\"]\n"
             "[SetUp \"0\"]\n[WhiteElo \"\"]\n[Opening \"Caro\"]\n" +
                 start,
             0, "Site=Tomsk; ECO=b12; Round=5; Date=20120630; WhiteElo=; Opening=Caro; e4"},
            {"[Date \"1998.13.01\"]\n" + start, 0, "e4"},
            {"[White \"a\"][Black \"b\"] [Result \"0-1\"]\n1. e4 0-1", 0,
             "White=a; Black=b; Result=2; e4"},
            {"[White \"a\"]\n\n[Black \"b\"]\n" + start, 0, "White=a; Black=b; e4"},
            {"[Result \"?\"]\n1. e4 ?", 0, "e4"},
            {"\xEF\xBB\xBF[Event \"e\"]\r\n\r\n1. e4 {one\r\ntwo} *\r\n", 0,
             "Event=e; e4 {one\r\ntwo}"},
            // Refused: a movetext ending otherwise, a result not in the table, duplicates.
            {"[Result \"1-0\"]\n1. e4 *", 11, "*"},
            {"[Result \"draw\"]\n1. e4 *", 8, "draw"},
            {"[White \"a\"]\n[White \"b\"]\n" + start, 2, "White"},
            {"[Elo \"1\"]\n[Elo \"2\"]\n" + start, 2, "Elo"},
            {"[ \"x\"]\n" + start, 4, ""},
            {"[White x]\n" + start, 5, "White"},
            {"[White \"x\" y\n" + start, 7, "y"},
            {"[White \"x", 6, ""},
        },
        headerAndMoves);
}

TEST(PgnReader, StartPositions)
{
    runCases(
        {
            // "under construction" is no FEN; numbers are not compared from a FEN.
            {"[FEN \"under construction\"]\n1. e4 e5 2. Nf3 *", 0,
             "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - e4 e5 Nf3"},
            {"[FEN \"4k3/8/8/8/8/8/8/R3K3 b - - 0 1\"]\n7. Kd7 3... Ra7+ *", 0,
             "4k3/8/8/8/8/8/8/R3K3 b - - Kd7 Ra7"},
            {"[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d 0 2\"]\nexd6 *", 0,
             "4k3/8/8/3pP3/8/8/8/4K3 w - d exd6"},
            {"[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d6 0 2\"]\nexd6 *", 0,
             "4k3/8/8/3pP3/8/8/8/4K3 w - d exd6"},
            // An en-passant square that no pawn can take on gives no right.
            {"[FEN \"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1\"]\ne5 *", 0,
             "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq - e5"},
            {"[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1  \"]\nKd2 *", 0,
             "4k3/8/8/8/8/8/8/4K3 w - - Kd2"},
            {"[FEN \"4k3/8/8 w - - 0 1\"]\nKd2 *", 14, "4k3/8/8 w - - 0 1"},
            {"[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1 x\"]\nKd2 *", 14,
             "4k3/8/8/8/8/8/8/4K3 w - - 0 1 x"},
            {"[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\n[FEN \"4k3/8/8/8/8/8/8/4K3 w - - 0 1\"]\n*",
             2, "FEN"},
        },
        [](const Game& g, bool) { return writeEpd(g.startPosition) + " " + movetextOf(g); });
}

TEST(PgnReader, Movetext)
{
    std::string deep = kRoster + "1. e4";
    for (int i = 0; i < 300; ++i)
        deep += " (1. d4";
    runCases(
        {
            {kRoster + "1. e4 1... e5 2.Nf3 2...Nc6 *", 0, "e4 e5 Nf3 Nc6"},
            {kRoster + "1. e4 3. Nf3 *", 10, "3"},
            {kRoster + "1... e4 *", 10, "1"},
            {kRoster + "1. e4 2x Nf3 *", 9, "2x"},
            {kRoster + "1. e4 1-0", 9, "1-0"},
            {kRoster + "1. e4 $14 e5 $1 Nf3!? $ Nc6?? *", 0, "e4$14 e5$1 Nf3 Nc6$4"},
            {kRoster + "1. e4 {a}{b} e5 {c\nd} *", 0, "e4 {ab} e5 {c\r\nd}"},
            {kRoster + "{a} {b} 1. e4 *", 0, "{ab} e4"},
            {kRoster + "1. e4 {x\\x7dy \\x5cx7d \\z} *", 0, "e4 {x}y \\x7d \\z}"},
            {kRoster + "1. e4 {never closed", 13, ""},
            {kRoster + "1. e4 (1. d4 d5) e5 *", 0, "e4 (d4 d5) e5"},
            {kRoster + "1. e4 (1. d4) (1. c4 {x}) (1. Nf3) e5 *", 0, "e4 (d4) (c4 {x}) (Nf3) e5"},
            // A variation on a variation's first move is its sibling; a variation's
            // leading comment has no place.
            {kRoster + "1. e4 e5 (1... c5 (1... e6) 2. Nf3 (2. c3 Nf6)) *", 0,
             "e4 e5 (c5 Nf3 (c3 Nf6)) (e6)"},
            {kRoster + "1. e4 ({before} 1. d4 {after}) *", 0, "e4 (d4 {after})"},
            {kRoster + "1. e4 ( ) *", 0, "e4 ()"},
            {kRoster + "1. e4 e5", 6, ""},
            {kRoster + "1. e4\n% 2. zz\ne5 *", 0, "e4 e5"},
            {kRoster + "1. e4{a}e5 (1...c5)*", 0, "e4 {a} e5 (c5)"},
            {kRoster + "1. e4(1. d4) *", 11, "e4(1."},
            {deep, 13, ""},
        },
        [](const Game& g, bool) { return movetextOf(g); });
}

TEST(PgnReader, LegalityInStandardAndNonstandardDatabases)
{
    // 1. d4 Nf6 2. c4 e6 3. Nc3 Bb4: the knight on c3 is pinned to the king.
    const std::string nimzo = kRoster + "1. d4 Nf6 2. c4 e6 3. Nc3 Bb4 4. ";
    const std::string pinnedPawn = "[FEN \"4k3/8/8/b7/8/8/3P4/4K3 w - - 0 1\"]\n";
    runCases(
        {
            {kRoster + "1. e4 e5 2. Ke2 *", 0, "e4 e5 Ke2"},
            {kRoster + "1. e4 e5 2. Ke3 *", 11, "Ke3"},
            {nimzo + "Ne4 *", 12, "Ne4"},
            {pinnedPawn + "d2d3 *", 12, "d2d3"},
            {kRoster + "1. f4 e5 2. Kf2 Qh4+ 3. Kg3 *", 12, "Kg3"},
            {"[FEN \"4k3/8/8/8/8/8/5r2/4K2R w K - 0 1\"]\nO-O *", 12, "O-O"},
            // Nonstandard: pieces go anywhere they reach, but only the mover's own.
            {nimzo + "Ne4 *", 0, "d4 Nf6 c4 e6 Nc3 Bb4 Ne4", true},
            {kRoster + "1. e2e6 *", 0, "e2-e6", true},
            {"[FEN \"4k3/P7/8/8/8/8/8/4K3 w - - 0 1\"]\na8=K *", 0, "a8=K", true},
            {kRoster + "1. e7e5 *", 12, "e7e5", true},
            {kRoster + "1. e3e4 *", 12, "e3e4", true},
            {"[FEN \"4k3/8/8/8/8/8/8/1P2K3 w - - 0 1\"]\nb1a1 *", 12, "b1a1", true},
        },
        [](const Game& g, bool nonstandard) { return movetextOf(g, nonstandard); });
}

TEST(PgnReader, GamesAndTheTextBetweenThem)
{
    PgnSource source;
    source.openText("Round one\n\n" + kRoster + "\n1. e4 *\n\n------\n  \n" + kRoster +
                    "1. d4 *\n\nthe end\n");
    Game game;
    for (const char* first : {"e4", "d4"}) {
        game.clear();
        ASSERT_TRUE(readPgnGame(game, source, false));
        EXPECT_EQ(movetextOf(game), first);
    }
    try {
        readPgnGame(game, source, false);
        ADD_FAILURE() << "text after the last game is not a game";
    } catch (const PGNGameException& error) {
        EXPECT_EQ(error.message(), "not a PGN game");
    }
    // The text helper starts from an empty game, and finds none in blank text.
    game.white = "left over";
    ASSERT_TRUE(readPgnText(game, kRoster + "1. e4 e5 *", false));
    EXPECT_EQ(game.white + " " + movetextOf(game), "w e4 e5");
    EXPECT_FALSE(readPgnText(game, "  \n", false));

    PGNGameException error(PGNGameException::IllegalMove, "Kh4");
    char buffer[8];
    unsigned help = 7;
    EXPECT_TRUE(error.getErrorMessage(buffer, sizeof buffer, &help));
    EXPECT_EQ(error.what() + std::string("|") + buffer + "|" + std::to_string(help),
              "illegal move: Kh4|illegal|0");
}

// Games read one after another with the openings of those before them kept read as they
// read alone, whatever follows a shared opening: other moves, the same moves spelled with a
// glyph, a variation in place of a shared move, a set-up start whose moves read alike, an
// illegal move, a wrong move number; then every game of a real file.
TEST(PgnReader, OpeningsKeptFromGameToGameReadAlike)
{
    const std::string ruy = kRoster + "1. e4 e5 2. Nf3 Nc6 3. Bb5 ";
    const std::vector<std::string> games = {
        ruy + "a6 *",
        ruy + "a6 4. Ba4 Nf6 *",
        ruy + "Nf6 4. O-O *",
        kRoster + "1. e4! e5 2. Nf3 Nc6 *",
        kRoster + "1. e4 (1. d4 d5 2. c4) 1... e5 (1... c5 2. Nf3) 2. Nf3 Nc6 *",
        // White's Nd4 in the variation, Black's in the game after it.
        ruy + "(3. Nd4 Nxd4) 3... a6 *",
        ruy + "Nd4 *",
        ruy + std::string("a6\0 *", 5), // not the text "a6"
        // Black in check after the shared moves.
        kRoster + "1. e4 e5 2. Qh5 Nc6 3. Qxf7+ Kxf7 *",
        kRoster + "1. e4 e5 2. Qh5 Nc6 3. Qxf7+ a6 *",
        kRoster + "[FEN \"rnbqkbnr/pppppppp/8/8/8/4P3/PPPP1PPP/RNBQKBNR w KQkq - 0 1\"]\n"
                  "e4 e5 *",
        ruy + "Ke7 *",
        kRoster + "1. e4 e5 3. Nf3 *",
        ruy + "a6 4. Bxc6 dxc6 *",
    };
    std::string text;
    for (int round = 0; round < 3; ++round) {
        for (const std::string& game : games)
            text += game + "\n\n";
    }
    const std::string file = VEZ_TEST_DATA_DIR "/twic0920-sample.pgn";
    for (const std::string& input : {text, std::string()}) {
        PgnSource alone, kept;
        if (input.empty()) {
            ASSERT_TRUE(alone.openFile(file) && kept.openFile(file));
        } else {
            alone.openText(input);
            kept.openText(input);
        }
        OpeningMoves openings(64);
        Game a, b;
        int games = 0;
        for (;; ++games) {
            std::string readAlone, readKept;
            const auto read = [](PgnSource& source, Game& game, OpeningMoves* kept) {
                game.clear();
                try {
                    return readPgnGame(game, source, false, kept)
                               ? writeGameToText(game, false)
                               : std::string("end");
                } catch (const PGNGameException& error) {
                    source.rewindToMark();
                    source.skipGame();
                    return std::string(error.what());
                }
            };
            readAlone = read(alone, a, nullptr);
            readKept = read(kept, b, &openings);
            ASSERT_EQ(readKept, readAlone) << "game " << games;
            if (readAlone == "end")
                break;
        }
        EXPECT_GT(games, input.empty() ? 50 : 40);
    }
}

} // namespace
} // namespace vez
