// Games in the store: a GameRecord with a tree of Variations, each a path through the
// position graph told by its end position and the choices made where positions have
// several ways in. Also the game index, compressed tails, duplicates and game search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "chess/position.h"
#include "store/codes.h"
#include "store/records.h"

namespace vez {

struct Game;
class PreparedGame;
struct GameLine;

// The GameRecord of a number, or 0 (no such block, slot beyond the block's used count, or a
// deleted number).
DbOffset gameByNumber(std::uint32_t number);

// Stores a game and returns its number; nullopt (with nothing stored) when a position of
// the game cannot be stored. With combineDuplicates, a duplicate of an earlier game is
// folded into it and the earlier game's number is returned. A preparation of the game
// (made under the database's present settings) spares working its positions out here.
// combined, when given, tells whether the game was folded into an earlier one.
std::optional<std::uint32_t> storeGame(const Game& game, bool combineDuplicates,
                                       const PreparedGame* prepared = nullptr,
                                       bool* combined = nullptr);

// The most room in the image that storing the game can take, generously counted, so that
// it can be claimed before any of the game is written: a disk that cannot give it refuses
// the game whole.
std::uint64_t roomToStore(const Game& game);

// Fills the header (and with withMoves the lines) of a stored game.
void readGame(DbOffset gameRecord, Game& game, bool withMoves);

void deleteGame(std::uint32_t number);

// Gives a stored game's tag a value; a tag the game lacks is added.
void setGameTag(DbOffset gameRecord, std::string_view name, std::string_view value);
void deleteGameRecord(DbOffset gameRecord);

// Whether a line, or a game's main line, passes through a position record (the graph part
// of the line only).
bool variationContains(DbOffset variation, DbOffset position);
bool gameContains(DbOffset gameRecord, DbOffset position);

// Calls add with the number of every game whose main line passes through the position,
// in ascending order.
void findGamesThrough(DbOffset position, const std::function<void(std::uint32_t)>& add);

// How findGamesThrough finds its games: by walking forward from the position, or from an
// index of where every main line goes, kept in memory while nothing changes. Automatic
// walks until searches have walked far enough to pay for building the index; the other
// two are for tests and benchmarks that compare the ways.
enum class GameSearchMode { Automatic, WalkOnly, IndexOnly };
void setGameSearchMode(GameSearchMode mode);

// Bytes held by the index of the search.
std::size_t gameSearchIndexBytes();
// Lets go of the search's index when it belongs to the image at base (which is closing).
void forgetGameSearchIndex(const void* base);
// As a changed image at db closes cleanly, keeps the search's index beside its file at
// databasePath for the checksum its header is to hold (asked for once the index is ready
// to save), so that the next session searches without walking: the index built in the
// session, or a new one when the image has enough games for a walk to be slow (the build
// takes a pass over every main line). Whatever fails only leaves no saved index.
constexpr std::uint32_t kSavedIndexMinGames = 20000;
void saveGameSearchIndex(DatabaseHeader* db, const std::string& databasePath,
                         const std::function<std::uint32_t()>& checksum);

} // namespace vez
