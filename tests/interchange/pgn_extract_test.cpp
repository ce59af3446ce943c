// pgn-extract, an independent PGN reader, reads the files we write and finds in them the
// moves it finds in the files we read them from.
//
// For each game we read, its text in the source file and our written game are numbered with
// a "VezIndex" tag; pgn-extract turns both files into UCI move lists, and the lists of each
// number must agree. Games whose source text pgn-extract itself reports problems with (a NAG
// before a variation's first move, for instance) are left out of the comparison; anything it
// reports in our file is a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "support/movetext.h"

namespace vez {
namespace {

namespace fs = std::filesystem;

const std::string kPgnExtract = "/usr/games/pgn-extract"; // where Debian installs it

// The games we read from a file: their source text and our text, both tagged with their
// number, and the source lines each game's text occupies.
struct Sides {
    std::string source;
    std::string written;
    std::vector<std::pair<int, int>> sourceLines; // first and last line, by game number
};

Sides readSides(const std::string& path, int maxGames)
{
    Sides sides;
    const std::optional<std::string> file = test::readTextFile(path);
    EXPECT_TRUE(file.has_value()) << path;
    PgnSource source;
    EXPECT_TRUE(source.openFile(path));
    Game game;
    int games = 0, lines = 0;
    while (games < maxGames) {
        const std::uint64_t start = source.markOffset();
        game.clear();
        try {
            if (!readPgnGame(game, source, false))
                break;
        } catch (const PGNGameException&) {
            source.rewindToMark();
            source.skipGame();
            continue;
        }
        const std::string index = std::to_string(games++);
        // The game's text without what stood before its tags (headings, or movetext without
        // tags, which pgn-extract would read as a game of its own and we pass over).
        std::string text = file->substr(start, source.markOffset() - start);
        text.erase(0, text.starts_with('[') ? 0 : text.find("\n[") + 1);
        text.insert(0, "[VezIndex \"" + index + "\"]\n");
        const int first = lines + 1;
        lines += static_cast<int>(std::count(text.begin(), text.end(), '\n'));
        sides.source += text;
        sides.sourceLines.push_back({first, lines + 1});
        game.setTag("VezIndex", index);
        sides.written += writeGameToText(game, false);
    }
    return sides;
}

// pgn-extract's UCI output, as the movetext of each numbered game.
struct Extracted {
    std::map<int, std::string> moves;
    std::set<int> problemLines; // lines its diagnostics point at
};

Extracted runPgnExtract(const std::string& text, const std::string& options)
{
    const fs::path folder =
        fs::temp_directory_path() / ("vez_pgn_extract_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::ofstream(folder / "in.pgn", std::ios::binary) << text;
    const std::string command = kPgnExtract + " -s " + options + " -o " +
                                (folder / "out").string() + " " + (folder / "in.pgn").string() +
                                " 2> " + (folder / "log").string();
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    Extracted result;
    std::ifstream out(folder / "out");
    int index = -1;
    constexpr std::string_view kIndexTag = "[VezIndex \"";
    for (std::string line; std::getline(out, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with(kIndexTag))
            index = std::stoi(line.substr(kIndexTag.size()));
        else if (!line.empty() && line[0] != '[' && index >= 0)
            result.moves[index] += (result.moves[index].empty() ? "" : " ") + line;
    }
    std::ifstream log(folder / "log");
    constexpr std::string_view kLineNumber = "Line number: ";
    for (std::string line; std::getline(log, line);) {
        const std::size_t at = line.find(kLineNumber);
        if (at != std::string::npos)
            result.problemLines.insert(std::stoi(line.substr(at + kLineNumber.size())));
    }
    fs::remove_all(folder);
    return result;
}

void expectSameMoves(const std::string& path, int maxGames, const std::string& options)
{
    if (!fs::exists(kPgnExtract))
        GTEST_SKIP() << kPgnExtract << " is missing";
    if (!fs::exists(path)) {
        std::cout << path << " is missing\n";
        return;
    }
    const Sides sides = readSides(path, maxGames);
    const Extracted fromSource = runPgnExtract(sides.source, options);
    const Extracted fromOurs = runPgnExtract(sides.written, options);
    EXPECT_TRUE(fromOurs.problemLines.empty())
        << "pgn-extract reports line " << *fromOurs.problemLines.begin() << " of our file";

    int compared = 0, leftOut = 0;
    for (std::size_t game = 0; game < sides.sourceLines.size(); ++game) {
        const auto [first, last] = sides.sourceLines[game];
        const auto problem = fromSource.problemLines.lower_bound(first);
        const int index = static_cast<int>(game);
        if ((problem != fromSource.problemLines.end() && *problem <= last) ||
            !fromSource.moves.contains(index)) {
            ++leftOut;
            continue;
        }
        ++compared;
        ASSERT_TRUE(fromOurs.moves.contains(index)) << "game " << index << " is missing";
        EXPECT_EQ(fromOurs.moves.at(index), fromSource.moves.at(index)) << "game " << index;
    }
    std::cout << path << " (" << options << "): " << compared << " games agree, " << leftOut
              << " left out\n";
    EXPECT_GE(compared, static_cast<int>(sides.sourceLines.size()) * 9 / 10);
}

// Main lines (-V), all lines, and all lines with comments (no -C); the large file's first
// games; the messy file's games that we read. The bundled sample runs without the corpus too.
TEST(PgnExtract, AgreesOnRealGames)
{
    const std::string corpus = VEZ_CORPUS_DIR "/";
    expectSameMoves(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 100, "-Wuci -C -N -V");
    for (const char* options : {"-Wuci -C -N -V", "-Wuci -C -N", "-Wuci -N"})
        expectSameMoves(corpus + "games-annotated.pgn", 100000, options);
    expectSameMoves(corpus + "games-large.pgn", 4000, "-Wuci -C -N -V");
    expectSameMoves(corpus + "messy.pgn", 100000, "-Wuci -C -N");
}

TEST(PgnExtract, ReadsOurEscapes)
{
    if (!fs::exists(kPgnExtract))
        GTEST_SKIP() << kPgnExtract << " is missing";
    Game game;
    ASSERT_TRUE(readPgnText(game,
                            "[Event \"e\"]\n[FEN \"4k3/8/8/3pP3/8/8/8/4K3 w - d 0 9\"]\n"
                            "exd6 Kd8 d7 Kc7 d8=Q+ *",
                            false));
    game.setTag("VezIndex", "0");
    game.event = "a \"quoted\" C:\\path\\";
    game.initialComment = "opens {and} closes }";
    game.entries[0].comment = "} at the start\r\n% a line that would be an escape\r\n\\x7d";
    game.entries[2].comment = std::string(200, '}');
    const Extracted extracted = runPgnExtract(writeGameToText(game, false), "-Wuci");
    EXPECT_TRUE(extracted.problemLines.empty());
    ASSERT_TRUE(extracted.moves.contains(0));
    EXPECT_EQ(extracted.moves.at(0), "e5d6 e8d8 d6d7 d8c7 d7d8Q *");
}

} // namespace
} // namespace vez
