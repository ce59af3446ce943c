// Real games with a comment on (nearly) every move, written the way broadcasts export them
// (all movetext on one physical line), imported and read back from the store: every move
// and every comment must come back. Comments are clock and eval commands, texts around the
// note record size and free text with "%" in it, so that reads of a long line start on all
// sorts of characters. A comment is a function of the position it follows, so games that
// share a position agree on its note.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "chess/movegen.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"
#include "store/games.h"
#include "store/packing.h"
#include "store/validation.h"
#include "store_fixture.h"
#include "support/child_scripts.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

using testing::StoreTest;

std::string clock(std::mt19937& rng)
{
    char text[32];
    std::snprintf(text, sizeof text, "[%%clk %u:%02u:%02u]", unsigned(rng() % 2),
                  unsigned(rng() % 60), unsigned(rng() % 60));
    return text;
}

std::string eval(std::mt19937& rng)
{
    char text[32];
    std::snprintf(text, sizeof text, "[%%eval %c%u.%02u]", rng() % 2 ? '-' : '+',
                  unsigned(rng() % 8), unsigned(rng() % 100));
    return text;
}

std::string freeText(std::mt19937& rng, std::size_t length)
{
    static constexpr std::string_view kChars = "abcdefghijklmnopqrstuvwxyz %%%[]!?.,:0123456789";
    std::string text;
    while (text.size() < length)
        text += kChars[rng() % kChars.size()];
    return text;
}

// The comment after the move that reached pos; empty for about one move in ten.
std::string commentFor(const Position& pos)
{
    PackedPosition key;
    if (!packPosition(pos, key))
        return {};
    std::uint32_t seed = 2166136261u;
    for (std::uint8_t b : key.bytes)
        seed = (seed ^ b) * 16777619u;
    std::mt19937 rng(seed);
    switch (rng() % 10) {
    case 0: return {};
    case 1: return eval(rng);
    case 2: return clock(rng) + " " + eval(rng);
    case 3: return freeText(rng, 31 + rng() % 3); // one note record, or just over
    case 4: return freeText(rng, 1 + rng() % 120);
    default: return clock(rng);
    }
}

// The game's movetext on one line, with generated comments; the comments go into game too.
std::string onOneLine(Game& game)
{
    std::string text = "[Event \"Generated comments\"]\n[Result \"" +
                       std::string(resultText(game.result)) + "\"]\n\n";
    Position pos = game.startPosition;
    MoveList list;
    int count = legalMoves(pos, list, false);
    for (std::size_t i = 0; i < game.entries.size(); ++i) {
        const int ply = game.startPly + int(i);
        text += std::to_string(ply / 2 + 1) + (ply % 2 ? "... " : ". ");
        MoveText san;
        count = formatMoveAndPlay(pos, san, game.entries[i].move, list, count, false,
                                  MoveGlyph::None, false);
        text += san.data();
        game.entries[i].comment = commentFor(pos);
        if (!game.entries[i].comment.empty())
            text += " {" + game.entries[i].comment + "}";
        text += ' ';
    }
    return text + std::string(resultText(game.result)) + "\n\n";
}

std::vector<Game> sourceGames()
{
    std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 60);
#ifdef VEZ_SANITIZER_BUILD
    const std::size_t fromCorpus = 100;
#else
    const std::size_t fromCorpus = 600;
#endif
    // The large file begins with the sample; its later games come from other sources.
    std::vector<Game> more = test::readGames(VEZ_CORPUS_DIR "/games-large.pgn", 60 + fromCorpus);
    for (std::size_t i = 60; i < more.size(); ++i) {
        if (more[i].startPly == 0 && !more[i].entries.empty())
            games.push_back(std::move(more[i]));
    }
    return games;
}

// Reads the games back from the text, from a file or from memory.
std::vector<Game> readAll(const std::string& text, bool fromFile)
{
    PgnSource source;
    if (fromFile) {
        const test::ScriptFolder folder;
        std::ofstream(folder.file("comments.pgn"), std::ios::binary) << text;
        source.openFile(folder.file("comments.pgn"));
        return test::readGames(source, std::size_t(-1));
    }
    source.openText(text);
    return test::readGames(source, std::size_t(-1));
}

class CommentedGames : public StoreTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CommentedGames, EveryMoveAndCommentComesBack)
{
    std::vector<Game> games = sourceGames();
    ASSERT_GE(games.size(), 60u);
    std::string text;
    for (Game& g : games)
        text += onOneLine(g);
    const std::vector<Game> read = readAll(text, GetParam());
    ASSERT_EQ(read.size(), games.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        const auto number = storeGame(read[i], false);
        ASSERT_TRUE(number) << "game " << i;
        Game back;
        readGame(gameByNumber(*number), back, true);
        ASSERT_EQ(back.entries.size(), games[i].entries.size()) << "game " << i;
        for (std::size_t p = 0; p < back.entries.size(); ++p) {
            ASSERT_EQ(back.entries[p].move, games[i].entries[p].move)
                << "game " << i << " ply " << p;
            ASSERT_EQ(back.entries[p].comment, games[i].entries[p].comment)
                << "game " << i << " ply " << p;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FromFileAndText, CommentedGames, ::testing::Bool());

// A broadcast game whose 38th comment begins a read of its long movetext line with "%".
TEST_F(StoreTest, BroadcastGameWithClockCommentsComesBackWhole)
{
    std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/lichess-broadcast-clocks.pgn", 2);
    ASSERT_EQ(games.size(), 1u);
    ASSERT_EQ(games[0].entries.size(), 56u);
    EXPECT_EQ(games[0].entries[37].comment, " [%clk 0:45:14] ");
    const auto number = storeGame(games[0], false);
    ASSERT_TRUE(number);
    Game back;
    readGame(gameByNumber(*number), back, true);
    ASSERT_EQ(back.entries.size(), 56u);
    EXPECT_EQ(back.entries[37].comment, " [%clk 0:45:14] ");
    EXPECT_EQ(back.entries[55].comment, " [%clk 0:30:47] ");
}

// Three endgames that meet beyond the compression ply: the third comes back to a position
// of the second's compressed tail, whose expansion then enters a counted position by a
// move of its own while a tiny record of the third leads there too.
TEST_F(StoreTest, ExpandedTailsCountEachGameOnceOnItsPositions)
{
    const std::vector<Game> games =
        test::readGames(VEZ_TEST_DATA_DIR "/tail-expansion-counts.pgn", 3);
    ASSERT_EQ(games.size(), 3u);
    for (const Game& game : games)
        ASSERT_TRUE(storeGame(game, false));
    EXPECT_EQ(validateDatabase(), std::vector<std::string>{});
}

} // namespace
} // namespace vez
