// Games of a PGN file for tests: up to count games, passing over those the reader refuses
// the way an import does.
#pragma once

#include <string>
#include <vector>

#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"

namespace vez::test {

// The next game the reader accepts, passing over those it refuses (counted in *refused)
// the way an import does; false at the end of the source.
inline bool nextReadableGame(PgnSource& source, Game& game, bool allowIllegal,
                             std::size_t* refused = nullptr)
{
    for (;;) {
        game.clear();
        try {
            return readPgnGame(game, source, allowIllegal);
        } catch (const PGNGameException&) {
            source.rewindToMark();
            source.skipGame();
            if (refused)
                ++*refused;
        }
    }
}

inline std::vector<Game> readGames(PgnSource& source, std::size_t count, bool allowIllegal = false)
{
    std::vector<Game> games;
    Game game;
    while (games.size() < count && nextReadableGame(source, game, allowIllegal))
        games.push_back(std::move(game));
    return games;
}

inline std::vector<Game> readGames(const std::string& file, std::size_t count)
{
    PgnSource source;
    if (!source.openFile(file))
        return {};
    return readGames(source, count);
}

} // namespace vez::test
