// The reader and writer over real files: every game is read or refused with the right code
// and line, reading goes on after a refusal, and every game read survives our own
// write-read-write byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "support/game_text.h"

namespace vez {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr long kLargeGames = 15000; // the sanitizers make reading some ten times slower
#else
constexpr long kLargeGames = 1000000;
#endif

std::string corpusFile(const char* name) { return std::string(VEZ_CORPUS_DIR) + "/" + name; }

struct FileReport {
    long read = 0;
    std::vector<std::string> refusals; // "line code argument"
    std::map<int, int> byCode;
};

// Reads a file as the import does, handing each game read to `onGame`.
template <class OnGame>
FileReport readFile(const std::string& path, bool allowIllegal, long maxGames, OnGame onGame)
{
    FileReport report;
    PgnSource source;
    EXPECT_TRUE(source.openFile(path)) << path;
    Game game;
    while (report.read + static_cast<long>(report.refusals.size()) < maxGames) {
        game.clear();
        try {
            if (!readPgnGame(game, source, allowIllegal))
                break;
            onGame(game, report.read++);
        } catch (const PGNGameException& error) {
            report.refusals.push_back(std::to_string(source.lineNumber()) + " " +
                                      std::to_string(error.code()) + " " + error.argument());
            ++report.byCode[error.code()];
            source.rewindToMark();
            source.skipGame();
        }
    }
    std::cout << path << ": " << report.read << " read, " << report.refusals.size() << " refused\n";
    return report;
}

// What the writer puts in a file, but the start position: the header, and the lines with
// their glyphs and comments.
std::string contents(const Game& g, bool nonstandard)
{
    std::string out = g.white + "|" + g.black + "|" + g.event + "|" + g.site + "|" + g.eco;
    for (const auto& tag : g.tags)
        out += "|" + tag.name + "=" + tag.value;
    return out + "|" + test::movetextOf(g, nonstandard);
}

// Written, read back and written again: the same text, and the same game.
void expectRoundTrip(const Game& game, bool nonstandard, long index)
{
    SCOPED_TRACE("game " + std::to_string(index + 1));
    const std::string text = writeGameToText(game, nonstandard);
    Game back;
    ASSERT_TRUE(readPgnText(back, text, nonstandard)) << text;
    ASSERT_EQ(writeGameToText(back, nonstandard), text);
    EXPECT_TRUE(samePosition(back.startPosition, game.startPosition));
    EXPECT_EQ(contents(back, nonstandard), contents(game, nonstandard));
}

class Corpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists(VEZ_CORPUS_DIR))
            GTEST_SKIP() << VEZ_CORPUS_DIR << " is missing";
    }
};

TEST_F(Corpus, CleanFilesAreAllRead)
{
    for (auto [file, games, nonstandard] : {std::tuple{"eco.pgn", 2014, false},
                                            {"games-annotated.pgn", 1077, false},
                                            {"games-annotated.pgn", 1077, true}}) {
        const FileReport report =
            readFile(corpusFile(file), nonstandard, 1000000,
                     [&](const Game& g, long i) { expectRoundTrip(g, nonstandard, i); });
        EXPECT_EQ(report.read, games) << file;
        EXPECT_TRUE(report.refusals.empty()) << file;
    }
}

TEST_F(Corpus, MessyGamesAreReadOrRefusedForTheirFault)
{
    const FileReport report = readFile(corpusFile("messy.pgn"), false, 1000000,
                                       [](const Game& g, long i) { expectRoundTrip(g, false, i); });
    EXPECT_EQ(report.read, 223);
    EXPECT_EQ(report.refusals.size(), 66u);
    EXPECT_EQ(report.byCode, (std::map<int, int>{{10, 1}, {11, 56}, {12, 6}, {14, 2}, {15, 1}}));
    // One of each kind, checked by hand against the file (and pgn-extract).
    const std::vector<std::string> samples = {
        "79 11 #",     // free text ("#663") after a game with no result
        "142 11 [",    // no result: the next game's tags are taken for moves
        "2173 11 ;",   // a rest-of-line comment
        "2226 15 ",    // "( (" opens a variation before any move
        "2231 11 -",   // "--" null move
        "2297 12 O-O", // Chess960 castling with the king on b1
        "2408 14 rbbqnknr/pppppppp/8/8/8/8/PPPPPPPP/RBBQNKNR w HAha - 0 1",
        "2525 11 .",   // "14. ...Kxd7": dots apart from the number
        "2560 10 8",   // "8. ...Bxc3" after a variation
        "2658 11 Nf6", // two knights can go to f6
        "2791 11 Nb6", // no knight can go to b6
    };
    for (const std::string& sample : samples)
        EXPECT_EQ(std::ranges::count(report.refusals, sample), 1) << sample;
}

TEST_F(Corpus, LargeFileIsReadAndRoundTrips)
{
    // Every game replays except Gelfand-Gareev, Moscow 2019, with its impossible 31. Qxe1.
    // A sample of the games read (every tenth) goes through the writer and back.
    const FileReport report =
        readFile(corpusFile("games-large.pgn"), false, kLargeGames, [](const Game& g, long i) {
            if (i % 10 == 0)
                expectRoundTrip(g, false, i);
        });
    if (kLargeGames < 150175) {
        EXPECT_EQ(report.read, kLargeGames);
        return;
    }
    EXPECT_EQ(report.read, 150174);
    EXPECT_EQ(report.refusals, std::vector<std::string>{"2177631 12 Qxe1"});
}

} // namespace
} // namespace vez
