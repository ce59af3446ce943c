// Damaged copies of a small real database: the readers (statistics, a search of the games
// through a position, every game read back and written as PGN) and validateDatabase run on
// each. Nothing may crash or escape as
// anything but DamagedDatabase, and a copy whose games come out with other moves or
// results than the sound database's must be reported by validateDatabase. (Free values
// kept once, such as a game's year or the letters of a name, have nothing to be checked
// against.)
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "interchange/game.h"
#include "interchange/pgn_writer.h"
#include "store/database.h"
#include "store/games.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/line_index_file.h"
#include "store/names.h"
#include "store/notes.h"
#include "store/statistics.h"
#include "store/validation.h"
#include "store_fixture.h"
#include "support/child_scripts.h"
#include "support/pgn_games.h"

namespace vez {
namespace {

// The lines of a game, their plies and moves, nested as they branch.
void appendLines(const GameLine& line, std::string& out)
{
    out += '(' + std::to_string(line.startPly);
    for (const MoveEntry& entry : line.entries) {
        for (const auto& sub : entry.subLines)
            appendLines(*sub, out);
        out += ' ' + std::to_string(int(entry.move));
    }
    for (const auto& sub : line.subLinesAfterEnd)
        appendLines(*sub, out);
    out += ')';
}

// Every game of the database written as PGN; its results and lines in moves, and "damaged"
// for each game that could not be read whole.
std::string exportAll()
{
    std::string moves;
    for (std::uint32_t n = 0; n < currentHeader().gameNumbersIssued; ++n) {
        try {
            if (const DbOffset g = gameByNumber(n)) {
                Game game;
                readGame(g, game, true);
                writeGameToText(game, false);
                moves += std::to_string(n) + ": " + std::to_string(game.result);
                appendLines(game, moves);
            }
        } catch (const DamagedDatabase&) {
            moves += std::to_string(n) + ": damaged";
        }
    }
    return moves;
}

struct Sound {
    std::vector<std::uint8_t> image;
    std::string moves;
    Position searched; // eight plies into the first game: the games through it are walked
};

const Sound& soundDatabase()
{
    static const Sound sound = [] {
        Sound s;
        const std::vector<Game> games =
            test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 100);
        DatabaseHeader* db = createInMemory();
        for (const Game& game : games)
            storeGame(game, false);
        if (!games.empty()) {
            s.searched = games[0].positionAtPly(games[0], 8);
            s.image.assign(currentBase, currentBase + db->usedBytes);
            s.moves = exportAll();
        }
        closeDatabase(db);
        return s;
    }();
    return sound;
}

enum class Harm { FlipBit, OverwriteWord, ZeroRange };

struct DamageCase {
    const char* name;
    Harm harm;
    std::size_t stride; // one damaged copy per stride bytes of the body
};

class DamagedImage : public testing::StoreTest, public ::testing::WithParamInterface<DamageCase> {};

void harm(std::vector<std::uint8_t>& bytes, Harm kind, std::size_t at, std::size_t i)
{
    switch (kind) {
    case Harm::FlipBit: bytes[at] ^= std::uint8_t(1u << (i % 8)); break;
    case Harm::OverwriteWord: {
        const std::uint32_t values[] = {0xFFFFFFFFu, 0, std::uint32_t(bytes.size() / 2 + i),
                                        std::uint32_t(at + 4)};
        std::memcpy(&bytes[at & ~std::size_t(3)], &values[i % 4], 4);
        break;
    }
    case Harm::ZeroRange:
        std::memset(&bytes[at], 0, std::min<std::size_t>(64 << (i % 4), bytes.size() - at));
        break;
    }
}

TEST_P(DamagedImage, ReadersContainTheDamageAndValidateReportsWhatChangedTheGames)
{
    const Sound& sound = soundDatabase();
    ASSERT_FALSE(sound.image.empty());
    closeDatabase(db);
    db = nullptr;
    const DamageCase& c = GetParam();
#ifdef VEZ_SANITIZER_BUILD
    const std::size_t stride = c.stride * 4;
#else
    const std::size_t stride = c.stride;
#endif
    const int fd = ::memfd_create("damaged", MFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    int copies = 0;
    for (std::size_t at = kHeaderBytes + 7, i = 0; at < sound.image.size(); at += stride, ++i) {
        std::vector<std::uint8_t> bytes = sound.image;
        harm(bytes, c.harm, at, i);
        ASSERT_EQ(::ftruncate(fd, 0), 0);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        DatabaseHeader* copy = openMapped(path, 65536);
        ASSERT_NE(copy, nullptr) << c.name << " at " << at;
        ++copies;
        try {
            statisticsReport();
        } catch (const DamagedDatabase&) {
        }
        try {
            findGamesThrough(findPosition(sound.searched), [](std::uint32_t) {});
        } catch (const DamagedDatabase&) {
        }
        const bool differs = exportAll() != sound.moves;
        EXPECT_TRUE(!validateDatabase().empty() || !differs)
            << c.name << " at " << at << " went unnoticed";
        closeDatabase(copy);
    }
    ::close(fd);
    EXPECT_GT(copies, 20);
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each change is made in a session of its own on one file, which a clean close has given a
// checksum: unless the close seals the change too, the next validation meets the old
// checksum. A session that only reads leaves every byte as it was, and damage to a value
// nothing else can be checked against (a note's letters, a name, a date) is then reported.
using SealedFile = testing::StoreTest;

TEST_F(SealedFile, CleanClosesSealEveryChangeAndValidationFindsWhatChangedSince)
{
    const std::vector<Game> games = test::readGames(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn", 4);
    ASSERT_EQ(games.size(), 4u);
    for (int i = 0; i < 3; ++i)
        storeGame(games[std::size_t(i)], false);
    const Position start = test::standardStart();
    setNote(start, "Kept note text");
    const test::ScriptFolder folder;
    const std::string path = folder.file("sealed.vez");
    ASSERT_TRUE(writeToFile(path));
    closeDatabase(db);
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"store a game", [&] { storeGame(games[3], false); }},
        {"delete a game", [] { deleteGame(1); }},
        {"edit a note", [&] { setNote(start, "Kept note text, edited"); }},
        {"score", [&] { setScore(start, 35); }},
        {"user mark", [&] { markUserNote(findPosition(start)); }},
        {"flashcard on", [&] { toggleFlashcard(start); }},
        {"flashcard off", [&] { toggleFlashcard(start); }},
        {"tag", [] { setGameTag(gameByNumber(0), "Annotator", "Someone"); }},
        {"alias", [&] { aliasPlayer(games[0].white, games[0].black); }},
        {"add a gameset",
         [] {
             GamesetDefinition fixed;
             fixed.rule = GamesetKind::Fixed;
             createGameset("mine", fixed, false);
         }},
        {"edit it", [] { addMember(findGameset("mine"), 2); }},
        {"delete it", [&] { deleteGameset(findGameset("mine")); }},
    };
    for (const auto& [name, change] : changes) {
        db = openMapped(path, 0);
        ASSERT_NE(db, nullptr) << name;
        change();
        closeDatabase(db);
        db = openMapped(path, 0);
        EXPECT_NE(db->reserved, 0u) << name;
        EXPECT_EQ(validateDatabase(), std::vector<std::string>{}) << name;
        closeDatabase(db);
    }
    // A session that changed the image and searched keeps its index for the image its close
    // sealed: the next session answers from it without building one.
    db = openMapped(path, 0);
    setScore(start, 40);
    const auto through = test::gamesThrough(findPosition(start), GameSearchMode::IndexOnly);
    closeDatabase(db);
    db = openMapped(path, 0);
    EXPECT_EQ(test::gamesThrough(findPosition(start)), through);
    EXPECT_EQ(gameSearchIndexBytes(), 0u) << "the index kept at the close went unused";
    closeDatabase(db);
    const std::string sealed = fileBytes(path);
    db = openMapped(path, 0);
    statisticsReport();
    exportAll();
    findGamesThrough(findPosition(start), [](std::uint32_t) {});
    const std::size_t year = gameByNumber(0) + offsetof(GameRecord, year);
    closeDatabase(db);
    db = nullptr;
    EXPECT_EQ(fileBytes(path), sealed) << "a session that only read changed the file";
    // That session's search built its index and kept it beside the file. A later session
    // answers from it without building one, and from the graph once the copy is damaged
    // or was saved before a change.
    const std::string saved = lineIndexPath(path);
    const std::string intact = fileBytes(saved);
    ASSERT_FALSE(intact.empty());
    std::string damaged = intact;
    for (std::size_t i = damaged.size() / 2; i < damaged.size(); ++i)
        damaged[i] ^= 0x40;
    for (const auto& [copy, change] : {std::pair<const std::string*, bool>{&intact, false},
                                       {&damaged, false},
                                       {&intact, true}}) {
        if (change) {
            db = openMapped(path, 0);
            deleteGame(0);
            closeDatabase(db);
        }
        std::ofstream(saved, std::ios::binary | std::ios::trunc) << *copy;
        db = openMapped(path, 0);
        const std::vector<std::uint32_t> found = test::gamesThrough(findPosition(start));
        EXPECT_EQ(gameSearchIndexBytes() == 0, copy == &intact && !change);
        EXPECT_EQ(found, test::gamesThrough(findPosition(start), GameSearchMode::WalkOnly))
            << "changed " << change << ", intact " << (copy == &intact);
        closeDatabase(db);
    }
    for (const std::size_t at :
         {sealed.find("Kept note text, edited"), sealed.find(games[0].black.substr(0, 5)), year}) {
        ASSERT_LT(at, sealed.size());
        std::string damaged = sealed;
        damaged[at] ^= 1;
        std::ofstream(path, std::ios::binary | std::ios::trunc) << damaged;
        db = openMapped(path, 0);
        const std::vector<std::string> problems = validateDatabase();
        ASSERT_FALSE(problems.empty()) << "damage at " << at << " went unnoticed";
        EXPECT_NE(problems[0].find("changed outside VEZ or is damaged"), std::string::npos);
        closeDatabase(db);
        db = nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(Store, DamagedImage,
                         ::testing::Values(DamageCase{"FlipBit", Harm::FlipBit, 1201},
                                           DamageCase{"OverwriteWord", Harm::OverwriteWord, 2311},
                                           DamageCase{"ZeroRange", Harm::ZeroRange, 4099}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace vez
