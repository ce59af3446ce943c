#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "chess/notation.h"
#include "interchange/game.h"
#include "store/flashcards.h"
#include "store/games.h"
#include "store/graph.h"
#include "store/notes.h"
#include "store/validation.h"
#include "store_fixture.h"
#include "support/graph_invariants.h"

namespace vez {
namespace {

using testing::StoreTest;
using NotesTest = StoreTest;

int noteRecords(DbOffset record)
{
    int n = 0;
    for (DbOffset r = at<BigPosition>(record)->note; r != 0; r = at<NotationRecord>(r)->next)
        ++n;
    return n;
}

// A note takes one record per 32 bytes with its NUL; a shorter one releases records, and a
// note built from released records ends where it should, not in the free list behind them.
TEST_F(NotesTest, NotesTakeOneRecordPer32BytesAndReuseReleasedOnes)
{
    const Position b = test::positionFrom("4k3/8/8/8/8/8/8/4K3 w - -");
    const Position a = test::standardStart();
    const struct {
        const Position& pos;
        std::string text;
        int records;
        std::uint32_t total;
    } steps[] = {
        {a, std::string(31, 'n'), 1, 1},   {a, std::string(32, 'n'), 2, 2},
        {a, std::string(63, 'n'), 2, 2},   {a, std::string(64, 'n'), 3, 3},
        {a, std::string(1000, 'n'), 32, 32}, {a, "short\r\nsecond line", 1, 1},
        {a, std::string(100, 'a'), 4, 4},  {a, "x", 1, 1}, // three to the free list
        {b, std::string(40, 'b'), 2, 3},   {b, "short", 1, 2}, {a, "", 0, 1},
    };
    for (const auto& step : steps) {
        const DbOffset r = setNote(step.pos, step.text);
        EXPECT_EQ(noteRecords(r), step.records) << step.text;
        EXPECT_EQ(noteText(r), step.text);
        EXPECT_EQ(noteText(step.pos), step.text);
        EXPECT_EQ(db->notationRecordCount, step.total) << step.text;
        test::checkGraphStructure(); // the free list's bytes are counted right
    }
}

TEST_F(NotesTest, BookCommentsSetTheEcoCode)
{
    const Position pos = test::standardStart();
    const DbOffset r = setNote(pos, "a note");
    setNote(pos, "ECO[B12]");
    EXPECT_EQ(ecoText(pos) + "|" + noteText(r), "B12|a note"); // the note is left alone
    setNote(pos, "Caro-Kann ECO[B12/05] main line");
    EXPECT_EQ(ecoText(pos), "B12/05");
    for (const char* note : {"ECO[]", "ECO[B12"}) // "]" right after, or no "]": a note
        EXPECT_EQ(noteText(setNote(pos, note)), note);
    EXPECT_EQ(ecoText(pos), "B12/05");
    EXPECT_EQ(ecoText(test::positionFrom("4k3/8/8/8/8/8/8/4K3 w - -")), "");
}

TEST_F(NotesTest, FlashcardsKeepTheirSequence)
{
    Position positions[66];
    for (int i = 0; i < 66; ++i) {
        // Distinct positions: a white king walking, a black king in the corner.
        ASSERT_TRUE(readFen(positions[i], "7k/8/8/8/8/8/8/8 w - -"));
        positions[i].squares[i % 60] = makePiece(PieceType::King, kWhite);
        positions[i].sideToMove = i / 60;
    }
    const DbOffset a = findOrAddRoot(positions[0]);
    const DbOffset b = findOrAddRoot(positions[1]);
    const DbOffset c = findOrAddRoot(positions[2]);
    Position next;
    EXPECT_FALSE(nextFlashcard(positions[0], next)); // no flashcards yet
    for (const DbOffset r : {a, b, a, c})
        addFlashcard(r); // a twice: once only
    EXPECT_EQ(db->flashcardCount, 3u);
    removeFlashcard(a); // the last one moves into the gap: C, B
    EXPECT_EQ(std::tuple(flashcardAt(0), flashcardAt(1), flashcardAt(2)), std::tuple(c, b, 0u));
    EXPECT_FALSE(isFlashcard(a));

    // Next from a position that is no flashcard is the first; it wraps after the last.
    for (const auto& [from, to] : {std::pair{5, 2}, {2, 1}, {1, 2}})
        EXPECT_TRUE(nextFlashcard(positions[from], next) && samePosition(next, positions[to]))
            << from;

    // The 65th flashcard starts a new block in front of the chain.
    for (int i = 3; i < 66; ++i)
        EXPECT_TRUE(toggleFlashcard(positions[i]));
    EXPECT_EQ(std::tuple(db->flashcardCount, db->flashcardBlockCount,
                         at<FlashcardIndexBlock>(db->firstFlashcardBlock)->count, flashcardAt(0)),
              std::tuple(65u, 2u, 1u, findPosition(positions[65])));
    EXPECT_FALSE(toggleFlashcard(positions[65]));
    // Empty blocks stay.
    EXPECT_EQ(std::tuple(db->flashcardCount, db->flashcardBlockCount), std::tuple(64u, 2u));
}

// The game of a move text from the standard start, and the position it ends in.
Game gameOf(std::string_view sans, Position* end = nullptr)
{
    Game game;
    game.startPosition = test::standardStart();
    Position pos = game.startPosition;
    for (std::size_t at = 0; at < sans.size();) {
        const std::size_t to = std::min(sans.find(' ', at), sans.size());
        Move move;
        EXPECT_TRUE(parseMove(pos, move, nullptr, nullptr, sans.substr(at, to - at)));
        game.append(move);
        makeMove(pos, move);
        at = to + 1;
    }
    if (end)
        *end = pos;
    return game;
}

TEST_F(NotesTest, FlashcardsStayOnTheirPositionsWhileGamesComeAndGo)
{
    constexpr const char* kRuy = "e4 e5 Nf3 Nc6 Bb5 a6 Ba4 Nf6 O-O Be7";
    const struct {
        std::vector<const char*> before; // stored before the card is marked
        const char* card;
        const char* note;               // set on the card's position after marking
        std::vector<const char*> after; // stored after
        bool deleteAll;
    } cases[] = {
        // A parting line makes the tiny record full, a line ending there makes it big, and
        // the next new records take the released offsets.
        {{kRuy}, "e4 e5 Nf3 Nc6 Bb5 a6", "", {"e4 e5 Nf3 Nc6 Bb5 a6 Bxc6", "e4 e5 d4 exd4 c3"}, false},
        {{kRuy}, "e4 e5 Nf3 Nc6 Bb5 a6", "", {"e4 e5 Nf3 Nc6 Bb5 a6", "e4 e5 d4"}, false},
        {{kRuy, "e4 e5 d4"}, "e4 e5", "", {"e4 e5 Nf3 Nc6 Bc4"}, false},
        // Deleting every game through the card keeps the position with its note.
        {{kRuy}, "e4 e5 Nf3 Nc6 Bb5 a6", "drill", {}, true},
        {{kRuy, "e4 e5 d4"}, "e4 e5 Nf3", "", {"e4 e5 Nf3 Nc6 Bb5 a6 Bxc6"}, true},
        {{kRuy}, kRuy, "end", {kRuy}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.card);
        closeDatabase(db);
        db = createInMemory();
        std::vector<std::uint32_t> numbers;
        for (const char* moves : c.before)
            numbers.push_back(*storeGame(gameOf(moves), false));
        Position card;
        gameOf(c.card, &card);
        ASSERT_TRUE(toggleFlashcard(card));
        if (*c.note)
            setNote(card, c.note);
        for (const char* moves : c.after)
            numbers.push_back(*storeGame(gameOf(moves), false));
        if (c.deleteAll)
            for (std::uint32_t n : numbers)
                deleteGame(n);
        ASSERT_EQ(db->flashcardCount, 1u);
        EXPECT_EQ(flashcardAt(0), findPosition(card));
        EXPECT_EQ(noteText(card), c.note);
    }
}

// What the user put on the positions a game leaves behind (a note, a score, the mark of
// the user's own note) outlives the game, as a flashcard does. Only marked notes are visited
// as the user's, until the first visit that answers.
TEST_F(NotesTest, NotesScoresAndMarksOutliveTheGamesThroughTheirPositions)
{
    for (const std::string_view kept : {"note", "score", "mark", "start"}) {
        SCOPED_TRACE(kept);
        closeDatabase(db);
        db = createInMemory();
        Position end;
        const auto number = storeGame(gameOf("e4 e5 Nf3 Nc6 Bb5 a6 Ba4 Nf6 O-O Be7", &end), false);
        if (kept == "start")
            setStandardStart(end); // a root record of its own already
        if (kept == "score")
            setScore(end, 120);
        else if (kept == "mark") {
            markUserNote(setNote(end, "mine"));
            Position book;
            gameOf("e4 e5 Nf3", &book);
            setNote(book, "from a book"); // not the user's own
        } else
            setNote(end, "a plan");
        std::int32_t scored = 0, score = 0; // scores are kept to a scale's step
        const bool hasScore = getScore(findPosition(end), scored);
        deleteGame(*number);
        const DbOffset r = findPosition(end);
        ASSERT_NE(r, 0u);
        EXPECT_EQ(getScore(r, score), hasScore);
        EXPECT_EQ(score, scored);
        EXPECT_EQ(noteText(end), kept == "score" ? "" : kept == "mark" ? "mine" : "a plan");
        int marks = 0;
        forEachUserNote([&marks](DbOffset) { return ++marks, 0; });
        EXPECT_EQ(marks, kept == "mark");
        EXPECT_EQ(forEachUserNote([](DbOffset) { return 7; }), marks == 1 ? 7 : 0);
        EXPECT_EQ(validateDatabase(), std::vector<std::string>{});
    }
}

} // namespace
} // namespace vez
