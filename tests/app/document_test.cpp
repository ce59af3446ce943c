// The document through its public operations: titles and lifecycle, browse and Save As,
// a database made from a gameset, games and positions, and the messages a user sees.
// Merging, cleaning and splitting run through the same document in vezdb's own test.
#include <gtest/gtest.h>

#include <functional>

#include "document_fixture.h"
#include "store/database.h"

namespace vez::test {
namespace {

using DocumentLifecycle = DocumentTest;

TEST_F(DocumentLifecycle, TitlesFollowTheKindOfDatabase)
{
    ASSERT_TRUE(doc->onNewNonstandardDocument());
    EXPECT_EQ(doc->GetTitle(), "New Database (Nonstandard)");

    // A file named games.PGN is browsed, one named games.pgn.vez is a database.
    std::filesystem::copy_file(kSamplePgn, path("games.PGN"));
    ASSERT_TRUE(doc->OnOpenDocument(path("games.PGN")));
    EXPECT_EQ(doc->GetTitle(), "PGN File Browsing");
    ASSERT_TRUE(doc->OnSaveDocument(path("games.pgn.vez")));
    EXPECT_EQ(doc->GetTitle(), "games.pgn");

    // The database's own settings change the file: the next close seals each of them.
    for (const auto& change : {std::function<void()>([&] { doc->setCompressionThreshold(40); }),
                               std::function<void()>([&] { doc->toggleNameNormalization(); })}) {
        change();
        doc->DeleteContents();
        ASSERT_TRUE(doc->OnOpenDocument(path("games.pgn.vez")));
        EXPECT_FALSE(doc->browsingMode());
        EXPECT_EQ(doc->validate(), std::vector<std::string>{});
    }
    EXPECT_EQ(doc->compressionThreshold(), 40);
}

TEST_F(DocumentLifecycle, OnlyAnUnnamedModifiedDatabaseIsOfferedForSaving)
{
    EXPECT_TRUE(doc->SaveModified()); // nothing changed yet
    ASSERT_GE(doc->addGame(gamesOfText(readFile(kSamplePgn)).at(0), -1), 0);
    user.saveAnswer = SaveAnswer::Cancel;
    EXPECT_FALSE(doc->SaveModified());
    EXPECT_EQ(user.savePrompts, std::vector<std::string>{"New Database"});
    user.saveAnswer = SaveAnswer::Yes;
    user.saveAnswers = {path("saved.vez")};
    EXPECT_TRUE(doc->SaveModified());
    EXPECT_EQ(doc->GetTitle(), "saved");
    // A file-backed database and a browsed file go on without asking.
    EXPECT_TRUE(doc->SaveModified());
    ASSERT_TRUE(doc->OnOpenDocument(kSamplePgn));
    EXPECT_TRUE(doc->SaveModified());
    EXPECT_EQ(user.savePrompts.size(), 2u);
}

// Select game tells every view but the one that asked; next game follows the gameset. A
// database made from a gameset keeps only its members.
TEST_F(DocumentLifecycle, GamesetsAndTheCurrentGame)
{
    ASSERT_TRUE(doc->OnOpenDocument(kSamplePgn));
    GamesetRule navara;
    navara.player = "Navara";
    ASSERT_TRUE(doc->createGamesetFromText("Navara", navara));
    const std::vector<int> games = doc->gamesetMembers("Navara");
    ASSERT_GE(games.size(), 2u);
    view.hints.clear();
    doc->selectGame(games[0], "Navara", &view);
    EXPECT_TRUE(view.hints.empty());
    EXPECT_EQ(doc->nextGameInGameset(), games[1]);
    doc->selectGame(games.back(), "Navara", nullptr);
    EXPECT_FALSE(doc->canSelectNextGameInGameset());
    doc->deleteGame(games.back());
    EXPECT_EQ(doc->getCurrentGame(), -1);
    EXPECT_EQ(view.hints.back(), UpdateHint::Reset);

    ASSERT_TRUE(doc->OnSaveDocument(path("all.vez")));
    GamesetRule rule;
    rule.player = "Svidler";
    ASSERT_TRUE(doc->createGamesetFromText("Svidler", rule));
    const std::vector<int> members = doc->gamesetMembers("Svidler");
    ASSERT_FALSE(members.empty());

    ASSERT_TRUE(doc->createDatabaseFromGameset("Svidler"));
    EXPECT_TRUE(user.questions.empty()); // a file-backed database loses nothing
    EXPECT_EQ(doc->GetTitle(), "New Database");
    EXPECT_EQ(doc->gameNumbers().size(), members.size());

    // From an unnamed database the user is warned first, and Cancel keeps everything.
    ASSERT_TRUE(doc->createGamesetFromText("All", GamesetRule{}));
    user.okAnswer = false;
    EXPECT_FALSE(doc->createDatabaseFromGameset("All"));
    EXPECT_EQ(user.questions.size(), 1u);
    EXPECT_EQ(doc->gameNumbers().size(), members.size());
}

TEST_F(DocumentLifecycle, PositionOnlyRecordsGoToTheirPosition)
{
    Game record;
    record.initialComment = "Opening position";
    record.setTag("Source", "user");
    EXPECT_EQ(doc->addGame(record, -1), -1);
    // "%" keeps the note but still applies the flashcard mark.
    record.initialComment = "%";
    record.setTag("Source", "flashcard");
    doc->addGame(record, -1);
    EXPECT_EQ(doc->noteText(after("")), "Opening position");
    EXPECT_EQ(doc->database()->flashcardCount, 1u);
    EXPECT_TRUE(doc->gameNumbers().empty());
}

} // namespace
} // namespace vez::test
