// Games of a PGN file for tests: up to count games, passing over those the reader refuses
// the way an import does.
#pragma once

#include <string>
#include <vector>

#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"

namespace vez::test {

inline std::vector<Game> readGames(const std::string& file, std::size_t count)
{
    std::vector<Game> games;
    PgnSource source;
    if (!source.openFile(file))
        return games;
    while (games.size() < count) {
        Game game;
        try {
            if (!readPgnGame(game, source, false))
                break;
        } catch (const PGNGameException&) {
            source.rewindToMark();
            source.skipGame();
            continue;
        }
        games.push_back(std::move(game));
    }
    return games;
}

} // namespace vez::test
