// Real games with a comment on (nearly) every move, written the way broadcasts export them
// (all movetext on one physical line), imported and read back from the store: every move
// and every comment must come back. Comments are clock and eval commands, texts around the
// note record size and free text with "%" in it, so that reads of a long line start on all
// sorts of characters. A comment is a function of the position it follows, so games that
// share a position agree on its note.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chess/movegen.h"
#include "chess/notation.h"
#include "interchange/game.h"
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
    char clock[32], eval[32];
    std::snprintf(clock, sizeof clock, "[%%clk %u:%02u:%02u]", unsigned(rng() % 2),
                  unsigned(rng() % 60), unsigned(rng() % 60));
    std::snprintf(eval, sizeof eval, "[%%eval %c%u.%02u]", rng() % 2 ? '-' : '+',
                  unsigned(rng() % 8), unsigned(rng() % 100));
    // Free text of one note record, or just over, or of any length up to a few.
    static constexpr std::string_view kChars = "abcdefghijklmnopqrstuvwxyz %%%[]!?.,:0123456789";
    std::string text;
    for (std::size_t length = rng() % 2 ? 31 + rng() % 3 : 1 + rng() % 120; text.size() < length;)
        text += kChars[rng() % kChars.size()];
    switch (rng() % 10) {
    case 0: return {};
    case 1: return eval;
    case 2: return std::string(clock) + " " + eval;
    case 3:
    case 4: return text;
    default: return clock;
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

std::vector<std::pair<Move, std::string>> movesAndComments(const Game& game)
{
    std::vector<std::pair<Move, std::string>> out;
    for (const MoveEntry& e : game.entries)
        out.emplace_back(e.move, e.comment);
    return out;
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
        ASSERT_EQ(movesAndComments(back), movesAndComments(games[i])) << "game " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(FromFileAndText, CommentedGames, ::testing::Bool());

// Games that once came back wrong: three endgames that meet beyond the compression ply (the
// third comes back to a position of the second's compressed tail, whose expansion then enters
// a counted position by a move of its own while a tiny record of the third leads there too),
// and a broadcast game whose 38th comment begins a read of its long movetext line with "%".
TEST_F(StoreTest, GamesThatOnceCameBackWrongComeBackWhole)
{
    std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/tail-expansion-counts.pgn", 3);
    for (Game& game : test::readGames(VEZ_TEST_DATA_DIR "/lichess-broadcast-clocks.pgn", 2))
        games.push_back(std::move(game));
    ASSERT_EQ(games.size(), 4u);
    ASSERT_EQ(games[3].entries.size(), 56u);
    EXPECT_EQ(games[3].entries[37].comment + "|" + games[3].entries[55].comment,
              " [%clk 0:45:14] | [%clk 0:30:47] ");
    for (const Game& game : games) {
        const auto number = storeGame(game, false);
        ASSERT_TRUE(number);
        Game back;
        readGame(gameByNumber(*number), back, true);
        EXPECT_EQ(movesAndComments(back), movesAndComments(game));
    }
    EXPECT_EQ(validateDatabase(), std::vector<std::string>{});
}

} // namespace
} // namespace vez
