// The view's logic over real games: move entry, navigation, line editing, saving, update
// hints, set-up mode, notes, scores, flashcards and the clipboard texts.
#include <algorithm>
#include <filesystem>
#include <utility>

#include "app/pane_builders.h"
#include "support/small_disk.h"
#include "view_fixture.h"

namespace vez::test {
namespace {

using ViewLogicTest = ViewTest;

// A move follows the line that plays it, starts a variation where none does, and grows the
// line at its end unless that is the end of a decided main line.
TEST_F(ViewLogicTest, EnterMoveAndEditLines)
{
    // After each move: the ply, in the main line, the main line's end, modified.
    const auto enter = [this](const char* move) {
        EXPECT_TRUE(viewLogic->enterMoveText(move)) << move;
        return std::vector<int>{viewLogic->currentPly(), viewLogic->inMainLine(),
                                viewLogic->game().endPly, viewLogic->gameModified()};
    };
    using V = std::vector<int>;
    storeSample(1); // a draw
    doc->selectGame(0, {}, nullptr);
    const int end = viewLogic->game().endPly;
    EXPECT_EQ(enter("Nf3"), (V{1, true, end, false})); // the game's move
    viewLogic->rewind();
    EXPECT_EQ(enter("e4"), (V{1, false, end, true}));
    doc->selectGame(0, {}, nullptr);
    viewLogic->fastForward();
    EXPECT_EQ(enter("a3"), (V{end + 1, false, end, true}));
    viewLogic->startNewGame();
    play("e4 e5");
    EXPECT_EQ(enter("Nf3"), (V{3, true, 3, true})); // a "*" game grows
    viewLogic->goToPly(1);
    EXPECT_EQ(enter("c5"), (V{2, false, 3, true}));

    // Backing up, reverting to the line before, deleting a variation, clipping a line.
    viewLogic->startNewGame();
    play("e4 e5 Nf3 Nc6");
    viewLogic->goToPly(2);
    play("Bc4 Bc5");
    viewLogic->backUp(); // inside the variation: one move back, still in it
    viewLogic->revertToPreviousVariation();
    EXPECT_TRUE(viewLogic->inMainLine());
    EXPECT_EQ(viewLogic->currentPly(), 2);
    play("Bc4");
    viewLogic->deleteVariation();
    EXPECT_TRUE(viewLogic->inMainLine() && viewLogic->game().entryAt(2)->subLines.empty());
    viewLogic->goToPly(3);
    viewLogic->clipLine();
    EXPECT_EQ(viewLogic->game().endPly, 3);
    viewLogic->rewind();
    viewLogic->clipLine(); // at ply 0 of the main line every move goes
    EXPECT_EQ(viewLogic->game().endPly, 0);
}

// Next choice/note stops where the database knows two moves into or out of the position or
// where a note shows, and at the end of the line when nothing follows.
TEST_F(ViewLogicTest, NoteworthyStops)
{
    const auto stops = [this] {
        doc->selectGame(0, {}, nullptr);
        std::vector<int> plies;
        while (viewLogic->canGoForward()) {
            viewLogic->nextNoteworthy();
            plies.push_back(viewLogic->currentPly());
        }
        return plies;
    };
    storeMoves("1. e4 e5 2. Nf3 Nc6 3. Bb5 a6", "1-0");
    EXPECT_EQ(stops(), std::vector<int>{6});
    storeMoves("1. e4 e5 2. Nf3 d6", "0-1"); // a choice after 2. Nf3
    EXPECT_EQ(stops(), (std::vector<int>{3, 6}));
    storeMoves("1. Nf3 Nc6 2. e4 e5", "0-1"); // a transposition into 2... Nc6
    EXPECT_EQ(stops(), (std::vector<int>{3, 4, 6}));
    doc->setPositionNote(after("e4 e5 Nf3 Nc6 Bb5"), "a plan", nullptr);
    EXPECT_EQ(stops(), (std::vector<int>{3, 4, 5, 6}));
}

// Save stores a new game after the tags dialog and comes back to the same ply. A game the
// database cannot take, or a Save with no database open, is kept as it was, still marked
// modified, and the user is told.
TEST_F(ViewLogicTest, Save)
{
    play("d4 d5 c4 e6");
    viewLogic->goToPly(2);
    play("Bf4"); // a variation, where Save is given
    client.tagAnswer = false;
    EXPECT_FALSE(viewLogic->save()); // the tags dialog cancelled: nothing stored
    EXPECT_TRUE(doc->gameNumbers().empty());
    EXPECT_TRUE(viewLogic->gameModified());

    client.tagAnswer = true;
    ASSERT_TRUE(viewLogic->save());
    const int number = doc->getCurrentGame();
    EXPECT_EQ(viewLogic->storedGameNumber(), number);
    EXPECT_FALSE(viewLogic->gameModified());
    EXPECT_EQ(viewLogic->currentPly(), 3);
    EXPECT_FALSE(viewLogic->inMainLine());
    EXPECT_EQ(doc->gamesetMembers("Selected Games"), std::vector<int>{number});

    // Edited and saved again: the new copy replaces the old one.
    play("Nf6");
    ASSERT_TRUE(viewLogic->save());
    EXPECT_EQ(doc->gameNumbers(), std::vector<int>{doc->getCurrentGame()});

    const auto refused = [this] {
        user.messages.clear();
        EXPECT_FALSE(viewLogic->save());
        EXPECT_EQ(user.messages.size(), 1u);
        EXPECT_TRUE(viewLogic->gameModified());
    };
    // Thirty-three pieces do not pack into a position record.
    Position crowded;
    ASSERT_TRUE(readFen(crowded, "rnbqkbnr/pppppppp/8/8/8/P7/PPPPPPPP/RNBQKBNR w KQkq - 0 1"));
    viewLogic->enterSetupMode();
    viewLogic->leaveSetupMode(crowded);
    play("e4");
    refused();
    doc->DeleteContents(); // the view starts a new game
    play("Nf3");
    refused();
}

// Each hint reaches every view but its sender; in set-up mode the composed board is left
// alone.
TEST_F(ViewLogicTest, UpdateHints)
{
    storeSample(2);
    doc->selectGame(1, {}, nullptr);
    viewLogic->advance();
    // The ply a hint leaves the view at (from 1), and the note-font changes it makes.
    const auto hear = [this](UpdateHint hint, DocumentObserver* sender) {
        viewLogic->goToPly(1);
        client.fontChanges = 0;
        doc->UpdateAllViews(sender, hint);
        return std::pair(viewLogic->currentPly(), client.fontChanges);
    };
    EXPECT_EQ(hear(UpdateHint::Reset, viewLogic.get()), std::pair(1, 0)); // not to its sender
    EXPECT_EQ(hear(UpdateHint::Bulk, nullptr), std::pair(1, 0));
    EXPECT_EQ(hear(UpdateHint::NoteFont, nullptr), std::pair(1, 1));
    EXPECT_EQ(hear(UpdateHint::GameSelected, nullptr), std::pair(0, 0));
    // A stored game read again after a change keeps the user's edit.
    viewLogic->goToPly(2);
    play("h4");
    doc->UpdateAllViews(nullptr, UpdateHint::PositionNote);
    EXPECT_EQ(viewLogic->currentPly(), 3);
    EXPECT_TRUE(viewLogic->gameModified());
}

// A note the full disk cannot take stays in the game, which is then marked modified.
TEST_F(ViewLogicTest, NoteRefusedByAFullDiskStaysInTheGame)
{
    SmallDisk disk(path("disk"));
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a 2 MB tmpfs here (needs root)";
    storeMoves("1. e4 e5", "1-0");
    ASSERT_TRUE(doc->OnSaveDocument(disk.file("full.vez")));
    disk.fill();
    doc->selectGame(0, {}, nullptr);
    viewLogic->advance();
    const std::string note(300000, 'n');
    viewLogic->noteEdited(note);
    EXPECT_TRUE(viewLogic->commitNote());
    EXPECT_TRUE(viewLogic->gameModified());
    EXPECT_EQ(viewLogic->notesText(), note);
    doc->DeleteContents(); // the mapping lets go of the disk before it is unmounted
}

// Select game from position loads the chosen game at the position where it was asked.
// Analyses that hold games let go before a command replaces the database, and only then.
TEST_F(ViewLogicTest, SelectGameFromPositionAndReplaceListeners)
{
    storeSample(20);
    play("e4");
    ASSERT_TRUE(viewLogic->canSelectGameFromPosition());
    const std::optional<std::vector<int>> games = viewLogic->gamesForPositionSelection();
    ASSERT_TRUE(games && !games->empty());
    viewLogic->selectGameFromPosition(games->back());
    EXPECT_EQ(viewLogic->storedGameNumber(), games->back());
    EXPECT_TRUE(samePosition(viewLogic->shownPosition(), after("e4")));

    doc->addToSelectedGames(1);
    int told = 0;
    doc->addReplaceListener([&told] { ++told; });
    // Whether the listeners heard of the command that succeeded.
    const auto heard = [&told](bool succeeded) {
        EXPECT_TRUE(succeeded);
        return std::exchange(told, 0) > 0;
    };
    EXPECT_FALSE(heard(doc->pasteGames(readFile(kSamplePgn).substr(0, 900)) >= 0));
    EXPECT_TRUE(heard(doc->OnSaveDocument(path("saved.vez"))));
    EXPECT_TRUE(heard(doc->createDatabaseFromGameset("Selected Games")));
    EXPECT_TRUE(heard(doc->OnNewDocument()));
    EXPECT_TRUE(heard(doc->OnOpenDocument(path("saved.vez"))));
}

// What the user adds to a game over the database's positions: notes, scores and glyphs.
TEST_F(ViewLogicTest, NotesScoresAndGlyphs)
{
    // Typed scores as centipawns, 1 for text that is no score.
    std::vector<std::int32_t> scores;
    for (const char* text : {"0.29", " -1.2 ", "", "1.2.3"})
        scores.push_back(parseScoreText(text).valid ? parseScoreText(text).score : 1);
    EXPECT_EQ(scores, (std::vector<std::int32_t>{29, -120, 1, 1}));
    storeMoves("1. e4 e5", "1-0");

    // A note is stored once, when committed, with the database's line ends.
    play("e4");
    view.hints.clear();
    viewLogic->noteEdited("K");
    viewLogic->noteEdited("King's\npawn");
    viewLogic->rewind(); // navigation commits first
    EXPECT_EQ(view.hints, std::vector<UpdateHint>{UpdateHint::PositionNote});
    EXPECT_EQ(doc->noteText(after("e4")), "King's\r\npawn");
    play("e4"); // a move entered takes its position's note as its comment
    EXPECT_EQ(viewLogic->entryJustPlayed()->comment, "King's\r\npawn");
    EXPECT_FALSE(viewLogic->commitNote());

    // A Latin-1 note shows as UTF-8; the pane handing the same text back stores nothing.
    doc->setPositionNote(after("e4 e5"), "R\xE9ti", nullptr);
    play("e5");
    EXPECT_EQ(viewLogic->notesText(), "R\xC3\xA9ti");
    viewLogic->noteEdited(viewLogic->notesText());
    EXPECT_FALSE(viewLogic->commitNote());

    // A score goes onto the database's position at ply 0, else onto the move just played. A
    // glyph goes onto the graph's move when the position before it is stored (and shows in
    // the known moves), else it only changes the game.
    viewLogic->startNewGame();
    viewLogic->setScore(35);
    EXPECT_EQ(doc->scoreOf(after("")), 35);
    play("e4");
    viewLogic->setScore(-20);
    EXPECT_EQ(viewLogic->entryJustPlayed()->score, -20);

    play("e5 Nf3");
    viewLogic->setGlyph(0, MoveGlyph::Good);    // 1.e4 is in the graph
    viewLogic->setGlyph(2, MoveGlyph::Dubious); // 2.Nf3 is not
    EXPECT_EQ(viewLogic->scoresheet().moves[2].text, "Nf3?!");
    viewLogic->startNewGame();
    EXPECT_EQ(viewLogic->knownMoveRows().at(0).move, "e4!");
}

// Pick flashcard goes round the marked positions. A bad EPD paste changes nothing; of several
// lines the first is read; a pasted flashcard mark and note go to the position. Pasted PGN
// keeps the games before a bad one.
TEST_F(ViewLogicTest, FlashcardsAndPastes)
{
    viewLogic->pickFlashcard();
    for (const char* moves : {"e4", "d4", "c4"}) {
        viewLogic->startNewGame();
        play(moves);
        viewLogic->toggleFlashcard();
    }
    viewLogic->startNewGame();
    for (const char* expected : {"e4", "d4", "c4", "e4"}) {
        viewLogic->pickFlashcard();
        EXPECT_TRUE(samePosition(viewLogic->shownPosition(), after(expected))) << expected;
    }

    const std::string sicilian = "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq c";
    Position expected;
    ASSERT_TRUE(readEpd(expected, sicilian));
    viewLogic->pasteEpd("not a position");
    EXPECT_FALSE(samePosition(viewLogic->shownPosition(), expected));
    viewLogic->pasteEpd(sicilian + "\n" + sicilian + "\n");
    EXPECT_TRUE(samePosition(viewLogic->shownPosition(), expected));
    viewLogic->pasteEpd(sicilian + " F; U; c0 'Sicilian';");
    EXPECT_TRUE(doc->isFlashcardPosition(expected));
    EXPECT_EQ(doc->noteText(expected), "Sicilian");

    EXPECT_EQ(doc->pasteGames("[Event \"a\"]\n\n1. e4 e5 *\n\n[Event \"b\"]\n\n1. d4 d5 *\n\n"
                              "[Event \"x\"]\n\n1. e4 Ke7?? Kxe9 *\n"),
              2);
    EXPECT_EQ(doc->gamesetMembers("Games from Clipboard"), doc->gameNumbers());
    EXPECT_EQ(doc->getCurrentGame(), doc->gameNumbers().back());
    EXPECT_EQ(user.messages, (std::vector<std::string>{"No flashcards defined in this database.",
                                                       "Bad EPD in Clipboard: not a position",
                                                       "Multiple lines in Clipboard data; only "
                                                       "first line read!",
                                                       "Error in game 3 from Clipboard, line 11: "
                                                       "illegal move: Ke7??"}));
}

// Annotated master games with many variations: at every ply of the main line the game's
// move heads the known moves, each variation there is offered as "(move ..." and entering
// its first move follows it without changing the game; backing up returns to the main line.
TEST_F(ViewLogicTest, WalksTheVariationsOfAnnotatedGames)
{
    const std::string corpus = VEZ_CORPUS_DIR "/games-annotated.pgn";
    if (!std::filesystem::exists(corpus))
        GTEST_SKIP() << corpus << " is missing";
#ifdef VEZ_SANITIZER_BUILD
    constexpr std::size_t kGames = 6;
#else
    constexpr std::size_t kGames = 40;
#endif
    PgnSource source;
    ASSERT_TRUE(source.openFile(corpus));
    for (const Game& read : readGames(source, kGames)) {
        const int number = doc->addGame(read, -1);
        ASSERT_GE(number, 0);
        doc->selectGame(number, {}, nullptr);
        const Game& game = viewLogic->game();
        SCOPED_TRACE(game.title());
        for (int ply = 0; ply < game.endPly; ++ply) {
            viewLogic->goToPly(ply);
            const MoveEntry& entry = *game.entryAt(ply);
            const std::vector<KnownMoveRow> rows = viewLogic->knownMoveRows();
            ASSERT_FALSE(rows.empty());
            EXPECT_EQ(rows[0].playMove, entry.move);
            EXPECT_FALSE(rows[0].variation);
            std::vector<Move> tried = {entry.move};
            for (const auto& sub : entry.subLines) {
                const Move first = sub->entries.front().move;
                if (std::find(tried.begin(), tried.end(), first) != tried.end())
                    continue;
                tried.push_back(first);
                EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [first](const KnownMoveRow& r) {
                    return r.variation && r.playMove == first;
                }));
                ASSERT_TRUE(viewLogic->enterMove(first));
                EXPECT_EQ(&viewLogic->currentLine(), sub.get());
                viewLogic->backUp();
                EXPECT_TRUE(viewLogic->inMainLine() && viewLogic->currentPly() == ply);
            }
        }
        EXPECT_FALSE(viewLogic->gameModified());
    }
}

} // namespace
} // namespace vez::test
