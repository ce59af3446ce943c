// The analysis jobs against a scripted engine that replays one answer per search and logs
// every command it was sent. A game analysis with the adapter and Stockfish runs end to end
// through the analysis window in the widget tests.
#include "app/analysis_job.h"

#include <gtest/gtest.h>

#include "app/engine_profile.h"
#include "chess/notation.h"
#include "document_fixture.h"
#include "engine/engine_settings.h"
#include "store/packing.h"
#include "support/game_text.h"

namespace vez::test {
namespace {

// Answers the n-th search ("go", or a move for the other side) with the file answer.n and
// logs every line it reads; "quit" ends it.
constexpr const char* kFakeEngine = R"(dir=$(dirname "$0")
n=0
while IFS= read -r line; do
    printf '%s\n' "$line" >> "$dir/input.log"
    case "$line" in
    quit) exit 0 ;;
    go | [a-h][1-8x]* | [KQRBN][a-h1-8x]* | O-O*)
        n=$((n + 1))
        if [ -f "$dir/answer.$n" ]; then cat "$dir/answer.$n"; else echo "ERROR: no answer $n"; fi ;;
    esac
done)";

// One search's answer: a kibitz line with score and PV, the engine's move after a bell, and
// the prompt that hands the move over.
std::string answer(const std::string& score, const std::string& pv, const std::string& move)
{
    return "kibitz d9 0:07 " + score + " " + pv + " x\n\aWhite(1): " + move + "\nBlack(1):\n";
}

// Hears a job as its observer and as the view it reports to.
class Listener final : public AnalysisJobObserver, public AnalysisViewLink {
public:
    void analysisSearched(AnalysisJob&, const SearchResult&) override { ++searches; }
    void analysisChanged(AnalysisJob& job) override
    {
        if (job.gameNumber() >= 0 && (games.empty() || games.back() != job.gameNumber()))
            games.push_back(job.gameNumber());
    }
    void analysisCloseRequested(AnalysisJob&) override { ++closeRequests; }
    void analysisClosed(AnalysisJob&) override { ++closed; }
    void analysisVariation(AnalysisJob&, int centipawns, const Position&,
                           const std::vector<Move>& moves) override
    {
        scores.push_back(centipawns);
        variations.push_back(moves);
    }
    std::vector<int> games, scores;
    std::vector<std::vector<Move>> variations;
    int searches = 0, closeRequests = 0, closed = 0;
};

class AnalysisJobTest : public DocumentTest {
protected:
    void SetUp() override
    {
        DocumentTest::SetUp();
        profile->writeProfileString(kEnginePathKey, scripts.script("fake-engine", kFakeEngine));
        profile->writeProfileString(kEngineCommandLineKey, "fake-engine");
    }

    void answers(const std::vector<std::string>& texts)
    {
        for (std::size_t i = 0; i < texts.size(); ++i)
            writeFile((scripts.path() / ("answer." + std::to_string(i + 1))).string(), texts[i]);
    }
    // The commands the engine read, from the first that starts with `from` on.
    std::vector<std::string> sent(const std::string& from = "") const
    {
        std::vector<std::string> lines;
        std::istringstream in(readFile((scripts.path() / "input.log").string()));
        for (std::string line; std::getline(in, line);)
            if (!lines.empty() || line.starts_with(from))
                lines.push_back(line);
        return lines;
    }

    ScriptFolder scripts;
    Listener listener;
};

TEST_F(AnalysisJobTest, WhiteOnlyGameAnalysisMarksTheBlackMovesAndAddsLines)
{
    const int number = storeText("[White \"Anand\"]\n[Black \"Kramnik\"]\n\n"
                                 "1. e4 e5!? 2. Nf3 Nc6 3. Bb5 a6 4. Ba4 Nf6 5. O-O Be7 *\n");
    // Scores from White's side at plies 0, 2, 4, 6, 8: the swings for Black's moves are
    // -0.75 (inside the margins), -1.0 ("?"), +1.0 ("!") and -3.0 ("??").
    answers({answer("+0.25", "d4 d5 c4", "d4"), answer("+1.00", "Nf3 Nc6", "Nf3"),
             answer("+2.00", "Bc4 Bc5", "Bc4"), answer("+1.00", "Ba4 Nf6", "Ba4"),
             answer("+4.00", "d3 b5", "d3")});
    {
        AnalysisJob job(*doc, &listener, number);
        job.setObserver(&listener);
        job.setAnalyzeBlack(false);
        job.start();
        ASSERT_TRUE(pump([&] { return listener.closeRequests > 0; }));
        EXPECT_EQ(job.statusLine(), "After 5... Be7");
    }
    // "force" only where the engine chose another move; the Black replies are played.
    EXPECT_EQ(sent("time "),
              (std::vector<std::string>{
                  "time 10/4/1", "setboard rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq",
                  "go", "force e4", "e5", "Nc6", "force Bb5", "a6", "Nf6", "force O-O", "quit"}));

    // Read back: one game (folded into itself although combining is off), the scores (as
    // positions keep them) and glyphs on Black's moves, three lines where the engine's move
    // was not the game's ("Bc4 Bc5 x": the last word is no move).
    EXPECT_EQ(doc->gameNumbers(), std::vector<int>{number});
    Game stored;
    ASSERT_TRUE(doc->readGame(number, stored, true));
    EXPECT_EQ(stored.getTag("AnalysisMins"), "4");
    EXPECT_EQ(movetextOf(stored), "e4 (d4[25] d5 c4) e5$5[99] Nf3 Nc6$2[195] Bb5 (Bc4[195] Bc5) "
                                  "a6$1[99] Ba4 Nf6$4[387] O-O (d3[387] b5) Be7");
}

// Sixteen minutes: a game analysed for eight is analysed again, one analysed for sixteen
// is skipped, and the engine starts once for the whole gameset.
TEST_F(AnalysisJobTest, GamesetSkipsGamesAnalysedLongEnough)
{
    const int eight =
        storeText("[White \"A\"]\n[Black \"B\"]\n[AnalysisMins \"8\"]\n\n1. e4 e5 *\n");
    const int sixteen =
        storeText("[White \"C\"]\n[Black \"D\"]\n[AnalysisMins \"16\"]\n\n1. d4 d5 *\n");
    const int fresh = storeText("[White \"E\"]\n[Black \"F\"]\n\n1. c4 c5 *\n");
    ASSERT_TRUE(doc->createGamesetFromText("mine", GamesetRule{}));
    answers({answer("+0.10", "e4 e5", "e4"), answer("+0.20", "e5 Nf3", "e5"),
             answer("+0.10", "c4 c5", "c4"), answer("+0.20", "c5 Nc3", "c5")});
    {
        AnalysisJob job(*doc, &listener, std::string("mine"));
        job.setObserver(&listener);
        job.setTimeSlider(4);
        job.start();
        EXPECT_EQ(job.title(), "[A - B] from 'mine'");
        ASSERT_TRUE(pump([&] { return listener.closeRequests > 0; }));
    }
    EXPECT_EQ(listener.games, (std::vector<int>{eight, fresh}));
    const std::vector<std::string> lines = sent();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "new"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "time 2/16/1"), 2);
    Game game;
    for (const int n : {eight, sixteen, fresh}) {
        ASSERT_TRUE(doc->readGame(n, game, true));
        EXPECT_EQ(game.getTag("AnalysisMins"), "16") << n;
    }
    // The engine's +0.20 for Black to move, as a position's one byte keeps it.
    EXPECT_EQ(game.entries[0].score, decodeScore(encodeScore(-20)));
}

TEST_F(AnalysisJobTest, CoPilotTellsItsEngineOfEveryNewPosition)
{
    const Position start = after(""), afterE4 = after("e4");
    const Move e4 = encodeMove(12, 28, PieceType::Pawn);
    answers({answer("+0.30", "e4 e5", "e4"), answer("-0.20", "e5 Nf3", "e5")});

    // An engine that takes new positions while it runs is told of them.
    profile->writeProfileString(kEngineCommandsKey, "xboard\r\npost\r\n");
    {
        AnalysisJob job(*doc, &listener, start, true);
        job.setObserver(&listener);
        job.start();
        ASSERT_TRUE(pump([&] { return listener.searches == 1; }));
        EXPECT_TRUE(job.running()); // the Co-Pilot keeps its engine
        // The result shows as an arrow, and its line goes to the view.
        ASSERT_EQ(job.arrows().size(), 1u);
        EXPECT_EQ(job.arrows()[0].move, e4);
        EXPECT_EQ(listener.variations.at(0).size(), 2u);
        job.setPosition(afterE4);
        ASSERT_TRUE(pump([&] { return listener.searches == 2; }));
        EXPECT_EQ(job.scoreText(), "+0.20"); // Black to move: from White's side
        EXPECT_EQ(listener.scores, (std::vector<int>{30, 20}));
        job.close();
        EXPECT_EQ(listener.closed, 1);
    }
    std::vector<std::string> told = sent("?");
    told.resize(5); // what follows depends on when the engine is stopped
    EXPECT_EQ(told, (std::vector<std::string>{
                        "?", "xboard", "post", "time 60/60/60",
                        "setboard rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq"}));
}

TEST_F(AnalysisJobTest, GameAnalysisClosesWhenStoppedOrWhenItsEngineEnds)
{
    const int number = storeText("[Event \"Blitz\"]\n\n1. e4 e5 2. Nf3 Nc6 *\n");
    // An error ends the search of the position; the job waits for Stop.
    answers({"kibitz d3 0:01 +0.10 e4 e5 x\nERROR: no can do\n"});
    {
        AnalysisJob job(*doc, &listener, number);
        job.setObserver(&listener);
        job.start();
        ASSERT_TRUE(pump([&] { return job.searchStopped(); }));
        EXPECT_EQ(job.commentText(), "ERROR: no can do");
        job.start(); // still running: nothing new starts
        job.stop();
        EXPECT_EQ(listener.closeRequests, 1);
    }
    const std::vector<std::string> lines = sent();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "go"), 1);

    // An engine that ends by itself stops the job, which then closes.
    profile->writeProfileString(kEnginePathKey,
                                scripts.script("short-lived", "read line\necho 'Crafty v0'"));
    listener = Listener();
    AnalysisJob job(*doc, &listener, number);
    job.setObserver(&listener);
    job.start();
    ASSERT_TRUE(pump([&] { return listener.closeRequests > 0; }));
    EXPECT_FALSE(job.engineActive());
    EXPECT_TRUE(user.messages.empty());
}

} // namespace
} // namespace vez::test
