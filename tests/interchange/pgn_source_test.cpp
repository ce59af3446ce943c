// The PGN character source: lines and their numbers, long lines, escape lines, file and text
// modes, and recovery from a bad game with rewindToMark and skipGame.
#include "interchange/pgn_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "support/movetext.h"

namespace vez {
namespace {

std::string gameText(const std::string& white, const std::string& movetext)
{
    return "[Event \"e\"]\n[White \"" + white + "\"]\n[Result \"*\"]\n\n" + movetext + "\n\n";
}

std::string withCrLf(const std::string& text)
{
    return std::regex_replace(text, std::regex("\n"), "\r\n");
}

struct TempFile {
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("vez_pgn_source_" + std::to_string(::getpid()) + ".pgn");
    explicit TempFile(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    ~TempFile() { std::filesystem::remove(path); }
};

// Reads every game as an import does: a bad game is reported with its line and the text that
// skipGame copies, and reading goes on with the next game. From the text itself or from a file
// holding it; `end` takes the position reached.
std::vector<std::string> importAll(const std::string& text, bool fromFile = false,
                                   std::uint64_t* end = nullptr)
{
    PgnSource source;
    TempFile file(fromFile ? text : "");
    if (!fromFile)
        source.openText(text);
    else if (!source.openFile(file.path))
        return {"not opened"};
    std::vector<std::string> events;
    Game game;
    for (;;) {
        game.clear();
        try {
            if (!readPgnGame(game, source, false))
                break;
            events.push_back("game " + game.white + " " + std::to_string(game.entries.size()));
        } catch (const PGNGameException& error) {
            const int line = source.lineNumber();
            source.rewindToMark();
            PgnSink sink;
            source.skipGame(&sink);
            events.push_back("error " + std::to_string(error.code()) + " at " +
                             std::to_string(line) + ": " + sink.text());
        }
    }
    if (end != nullptr)
        *end = source.position();
    return events;
}

TEST(PgnSource, LongLinesGoOnInTheNextRead)
{
    // A movetext line of some 1,300 characters: wherever the 511-character reads cut it,
    // even inside a move, the game reads the same, and each read counts as a line.
    std::string moves;
    for (int n = 1; n <= 60; ++n)
        moves += std::to_string(n) + (n % 2 ? ". Nf3 Nf6 " : ". Ng1 Ng8 ");
    for (std::size_t pad = 0; pad < 12; ++pad) {
        const std::string line = std::string(pad, ' ') + moves + "{" + std::string(300, 'x') + "}";
        PgnSource source;
        source.openText(gameText("w", line + " z"));
        Game game;
        EXPECT_THROW(readPgnGame(game, source, false), PGNGameException); // z is no move
        EXPECT_EQ(game.entries.size(), 120u);
        EXPECT_EQ(game.entries.back().comment, std::string(300, 'x'));
        EXPECT_EQ(source.lineNumber(), 5 + static_cast<int>(line.size() + 2) / 511);
    }
}

TEST(PgnSource, OnlyPhysicalLinesAreEscapesOrGameStarts)
{
    // Each text puts "%" or "[" at the start of a long line's second read (511 characters
    // in), where it is just text.
    const std::string pad(503, 'c');
    // What, the text, and the events of its import (error texts cut after the line number).
    const std::tuple<const char*, std::string, std::vector<std::string>> cases[] = {
        {"clock comment", gameText("w", "1. e4 {" + pad + "c[%clk 1:00:00]} e5 *"), {"game w 2"}},
        {"comment with %", gameText("w", "1. e4 {" + pad + "c% a b} e5 *"), {"game w 2"}},
        {"long escape line",
         "%" + std::string(510, 'x') + "[Event \"no\"]\n" + gameText("w", "1. e4 *"),
         {"game w 1"}},
        {"bad game",
         gameText("bad", "1. Ke3 {" + pad + "[%clk 1:00:00]} *") + gameText("next", "1. d4 *"),
         {"error 11 at 5", "game next 1"}},
    };
    for (const auto& [what, text, expected] : cases) {
        for (bool fromFile : {false, true}) {
            std::vector<std::string> events = importAll(text, fromFile);
            for (std::string& e : events)
                e = e.substr(0, e.find(':'));
            EXPECT_EQ(events, expected) << what << (fromFile ? " from a file" : "");
        }
    }
}

TEST(PgnSource, RecoversFromBadGames)
{
    // Each bad game is copied from the line after the last game; the last one to the end.
    const std::string bad1 = gameText("bad1", "1. e4 e5 2. Ke3 *");
    const std::string bad2 = "[Event \"x\"]\n[White \"bad2\"]\n[Result \"draw\"]\n\n1. d4 *\n\n";
    const std::string text = "Heading\n\n" + gameText("one", "1. e4 e5 *") + bad1 + bad2 +
                             gameText("two", "1. c4 *") + "[Event \"x\"]\n\n1. e4 e5\n2. Nf3";
    const std::vector<std::string> expected = {
        "game one 2",
        "error 11 at 13: " + withCrLf("\n" + bad1),
        "error 8 at 17: " + withCrLf(bad2),
        "game two 1",
        "error 6 at 30: \r\n[Event \"x\"]\r\n\r\n1. e4 e5\r\n2. Nf3",
    };
    EXPECT_EQ(importAll(text), expected);
}

// The bundled games with every line end written as LF, CR LF or a lone CR (old Macintosh
// files), or the three in turn (a file pieced together from others): each style reads as
// the same games, from a file and from text, bad games reported at the same lines. A bad
// game with a comment far longer than a read makes the recovery go back further than the
// text kept in memory.
TEST(PgnSource, EveryLineEndStyleReadsTheSame)
{
    std::string lf = test::readTextFile(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn").value_or("");
    ASSERT_FALSE(lf.empty());
    // A bad game in the middle, so that recovery and line numbers are checked too, and an
    // escape line, which only a line start makes one.
    lf.insert(lf.find("[Event", lf.size() / 2),
              "% an escape line [Event\n" + gameText("bad", "1. e4 e5 2. Ke3 *") +
                  gameText("long", "1. e4 {" + std::string(1500000, 'y') + "} e5 2. Ke3 *"));
    std::erase(lf, '\r');
    const std::vector<std::string> expected = importAll(lf);
    ASSERT_EQ(expected.size(), 62u); // the 60 sample games and the two bad ones

    const std::vector<std::string> ends = {"\n", "\r\n", "\r", "mixed"};
    for (const std::string& end : ends) {
        SCOPED_TRACE(end == "\r" ? "CR" : end == "\n" ? "LF" : end == "\r\n" ? "CR LF" : end);
        // Pieced together: LF, then CR LF, then CR. (A lone CR before an empty LF line
        // would read as one CR LF; no file pieced together this way has that.)
        const auto lines = std::size_t(std::count(lf.begin(), lf.end(), '\n'));
        std::string text;
        std::size_t line = 0;
        for (char c : lf) {
            if (c != '\n')
                text += c;
            else if (end != "mixed")
                text += end;
            else
                text += ends[line++ * 3 / lines];
        }
        std::uint64_t reached = 0;
        EXPECT_EQ(importAll(text), expected);
        EXPECT_EQ(importAll(text, true, &reached), expected);
        EXPECT_EQ(reached, text.size());
    }
    PgnSource missing;
    EXPECT_FALSE(missing.openFile(VEZ_TEST_DATA_DIR "/no-such-file.pgn"));
    EXPECT_TRUE(missing.atEnd());
}

} // namespace
} // namespace vez
