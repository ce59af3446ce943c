// Importing through the document: round trips of real files, "Source" tags and their
// gamesets, the error dialog's choices, EPD files, cancellation, converters, the worker's
// hand-over to the document's thread, and ECO books. Cleaning and splitting run through the
// same document in vezdb's own test.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/import.h"
#include "document_fixture.h"
#include "support/child_scripts.h"

namespace vez::test {
namespace {

const std::string kAnnotated = VEZ_CORPUS_DIR "/games-annotated.pgn";

const std::string kBadGame = "[Event \"Bad\"]\n[White \"A\"]\n[Black \"B\"]\n[Result \"*\"]\n\n"
                             "1. e4 e5 2. Ke3 *\n\n";

std::string gameText(const std::string& moves, const std::string& extraTags = "")
{
    return "[Event \"E\"]\n[White \"W\"]\n[Black \"B\"]\n[Result \"*\"]\n" + extraTags + "\n" +
           moves + " *\n\n";
}

// Every move of every line, depth first, as one sequence.
void collectMoves(const GameLine& line, std::vector<Move>& out)
{
    for (const MoveEntry& entry : line.entries) {
        out.push_back(entry.move);
        for (const auto& sub : entry.subLines)
            collectMoves(*sub, out);
    }
}

using ImportTest = DocumentTest;

TEST_F(ImportTest, CorpusFilesComeBackAfterReopening)
{
    std::vector<std::string> files = {kSamplePgn};
    if (std::filesystem::exists(kAnnotated))
        files.push_back(kAnnotated);
    std::vector<Game> source;
    for (const std::string& file : files)
        for (Game& game : gamesOfText(readFile(file)))
            source.push_back(std::move(game));

    ASSERT_TRUE(doc->OnSaveDocument(path("corpus.vez")));
    view.hints.clear();
    const ImportTotals totals = importOnWorker(files);
    EXPECT_EQ(std::size_t(totals.games + totals.positions), source.size());
    EXPECT_EQ(std::count(view.hints.begin(), view.hints.end(), UpdateHint::Bulk),
              long(source.size() / 200) + 1);
    for (std::thread::id thread : view.threads)
        EXPECT_EQ(thread, std::this_thread::get_id());

    doc->DeleteContents();
    ASSERT_TRUE(doc->OnOpenDocument(path("corpus.vez")));
    const std::vector<int> numbers = doc->gameNumbers();
    ASSERT_EQ(numbers.size(), std::size_t(totals.games));
    std::size_t next = 0;
    for (int n : numbers) {
        Game back;
        ASSERT_TRUE(doc->readGame(n, back, true));
        while (next < source.size() && source[next].isCommentOnly())
            ++next;
        ASSERT_LT(next, source.size());
        const Game& original = source[next++];
        std::vector<Move> a, b;
        collectMoves(original, a);
        collectMoves(back, b);
        EXPECT_EQ(a, b) << "game " << n;
        EXPECT_EQ(back.result, original.result) << "game " << n;
        EXPECT_TRUE(back.hasTag("Source"));
    }
}

TEST_F(ImportTest, SourceTagsMakeTheirGamesetsAndCancelKeepsWhatWasStored)
{
    const std::string file = path("mixed.pgn");
    writeFile(file, gameText("1. e4 e5", "[Source \"Mine\"]\n") + gameText("1. d4 d5") +
                        gameText("1. c4 c5", "[Source \"Mine\"]\n") + gameText("1. Nf3 Nf6"));
    const ImportTotals totals = importOnWorker({file});
    EXPECT_EQ(totals.games, 4);
    EXPECT_EQ(doc->gamesetMembers("Games from Mine"), (std::vector<int>{0, 2}));
    EXPECT_EQ(doc->gamesetMembers("Games from " + file), (std::vector<int>{1, 3}));
    Game game;
    ASSERT_TRUE(doc->readGame(1, game, false));
    EXPECT_EQ(game.getTag("Source"), file);

    // Cancelling keeps what was stored.
    user.cancelAfterUpdates = 10;
    const ImportTotals cancelled = importOnWorker({kSamplePgn, kSamplePgn});
    EXPECT_TRUE(cancelled.games > 0 && cancelled.games < 60) << cancelled.games;
    EXPECT_EQ(doc->gameNumbers().size(), std::size_t(4 + cancelled.games));
}

TEST_F(ImportTest, ErrorDialogChoices)
{
    const std::string file = path("bad.pgn");
    writeFile(file, gameText("1. e4") + kBadGame + gameText("1. d4") + kBadGame +
                        gameText("1. c4") + kBadGame + gameText("1. g3"));
    user.errorAnswers = {{PgnErrorChoice::SaveAs, false},
                         {PgnErrorChoice::CopyToClipboard, false},
                         {PgnErrorChoice::Abort, false}};
    user.saveAnswers = {path("kept.pgn")};
    EXPECT_EQ(importOnWorker({file}).games, 3); // the game after the aborting error is not read
    ASSERT_EQ(user.errors.size(), 3u);
    const PgnErrorReport& first = user.errors[0];
    EXPECT_EQ(std::tuple(first.file, first.game, first.line), std::tuple(file, 2, 13));
    EXPECT_NE(first.text.find("[Event \"Bad\"]"), std::string::npos);
    EXPECT_EQ(readFile(path("kept.pgn")), first.text);
    EXPECT_EQ(user.clipboard, user.errors[1].text);
    for (std::thread::id thread : user.errorThreads)
        EXPECT_EQ(thread, std::this_thread::get_id());

    // Ignoring the rest of one file skips its later bad games; the next file asks again.
    user.errors.clear();
    user.errorAnswers = {{PgnErrorChoice::Skip, true}};
    const ImportTotals second = importOnWorker({file, file});
    EXPECT_EQ(std::pair(second.games, second.skipped), std::pair(8, 6));
    ASSERT_EQ(user.errors.size(), 4u);
    EXPECT_EQ(user.errors[1].game, 2); // the second file's first bad game
}

TEST_F(ImportTest, EpdLinesAndTheirComments)
{
    const std::string file = path("positions.epd");
    writeFile(
        file,
        "; a comment line\n"
        "rnbqkbnr/pppp1ppp/8/4p3/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - c0 'ECO[C20]: King''s pawn';\n"
        "\n"
        "not a position at all\n"
        "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R w KQkq - ce 35; c0 'Good';\n"
        ";rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -\n");
    const ImportTotals totals = importOnWorker({file});
    EXPECT_EQ(std::pair(totals.positions, totals.skipped), std::pair(2, 1));
    ASSERT_EQ(user.errors.size(), 1u); // vezdb's test reads the messages
    EXPECT_EQ(user.errors[0].text, "not a position at all");
    EXPECT_EQ(doc->ecoText(after("e4 e5")), "C20");
    EXPECT_EQ(doc->noteText(after("e4 e5 Nf3 Nc6")), "Good");
    EXPECT_TRUE(doc->movesFrom(after("")).empty()); // the ";" line stored nothing
}

TEST_F(ImportTest, ConvertersRunForForeignFormats)
{
    const ScriptFolder scripts;
    const std::string script =
        scripts.script("fake-cbasc32", "[ \"$1\" = -e ] || exit 3\ncp \"$3\" \"$2\"");
    const std::string cbf = path("games.CBF");
    std::filesystem::copy_file(kSamplePgn, cbf);
    const std::string temporary = path("tmp");
    std::filesystem::create_directory(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);

    profile->writeProfileString("CBASC32 path", path("missing-converter"));
    user.openAnswers = {""};
    EXPECT_EQ(importOnWorker({cbf}).games, 0);
    EXPECT_EQ(user.messages.back(), path("missing-converter") + ": could not execute");
    ASSERT_EQ(user.openRequests.size(), 1u);

    user.openAnswers = {script};
    EXPECT_EQ(importOnWorker({cbf}).games, 60);
    EXPECT_EQ(profile->getProfileString("CBASC32 path", ""), script);
    Game game;
    ASSERT_TRUE(doc->readGame(0, game, false));
    EXPECT_EQ(game.getTag("Source"), cbf); // the file imported, not the converter's output
    EXPECT_TRUE(std::filesystem::is_empty(temporary));
    ::unsetenv("TMPDIR");

    // A converter that leaves its PGN beside the input.
    profile->writeProfileString(
        "CA2PGN path", scripts.script("fake-ca2pgn", "[ \"$1\" = -i ] || exit 3\ncp \"" +
                                                         kSamplePgn + "\" \"${2%bfi}pgn\""));
    writeFile(path("base.bfi"), "binary");
    EXPECT_EQ(importOnWorker({path("base.bfi")}).games, 60);
    EXPECT_FALSE(std::filesystem::exists(path("base.pgn")));
}

// A small book in the convention: comments on the last move of each book line.
const std::string kBook = "[Event \"Book\"]\n[Special \"ECO opening book\"]\n[Result \"*\"]\n\n"
                          "1. e4 e5 {ECO[C20]: King's Pawn Game} (1... c5 {ECO[B20]: Sicilian})"
                          " 2. Nf3 Nc6 3. Bb5 {ECO[C60]: Ruy Lopez} (3. Bc4 {ECO[C50]}) *\n\n";

TEST_F(ImportTest, EcoBookClassifiesLaterGames)
{
    writeFile(path("book.pgn"), kBook);
    importOnWorker({path("book.pgn")});
    EXPECT_TRUE(doc->gamesetNames().empty());

    const std::string games = path("games.pgn");
    writeFile(games, gameText("1. e4 e5 2. Nf3 Nc6 3. Bb5 a6") + gameText("1. e4 e5 2. Nc3") +
                         gameText("1. e4 e5 2. Nf3", "[ECO \"C42\"]\n") + gameText("1. d4 d5") +
                         gameText("1. e4 c5 2. Nf3 {ECO[C20} d6") + gameText(""));
    importOnWorker({games});
    std::vector<std::string> ecos;
    for (const int number : doc->gameNumbers()) {
        Game game;
        ASSERT_TRUE(doc->readGame(number, game, true));
        ecos.push_back(game.eco);
    }
    // The book is a game of its own, classified by none of its lines.
    EXPECT_EQ(ecos, (std::vector<std::string>{"", "C60", "C20", "C42", "", "B20", ""}));
    const Position afterNf3 = after("e4 c5 Nf3");
    EXPECT_EQ(doc->noteText(afterNf3), "ECO[C20"); // no closing bracket: an ordinary note
    EXPECT_EQ(doc->ecoText(afterNf3), "");

    writeFile(path("blocked"), "a file where the folder should be");
    writeFile(path("blocked.pgn"), gameText("1. e4"));
    EXPECT_FALSE(doc->splitFiles({path("blocked.pgn")}));
    EXPECT_EQ(user.messages.back(),
              path("blocked") + ": directory does not exist and cannot be created\n");
}

} // namespace
} // namespace vez::test
