// Fuzz target: PGN text as it comes from files, the clipboard and the server. Every input is
// read game by game, as the import does (a bad game is skipped and copied out), for a
// standard and a nonstandard database. Each game read must survive our own writer: written,
// read back and written again it gives the same text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"

namespace {

constexpr int kMaxGames = 16;

void checkRoundTrip(const vez::Game& game, bool nonstandard)
{
    const std::string text = vez::writeGameToText(game, nonstandard);
    vez::Game back;
    try {
        if (vez::readPgnText(back, text, nonstandard) &&
            vez::writeGameToText(back, nonstandard) == text)
            return;
    } catch (const vez::PGNGameException& error) {
        std::fprintf(stderr, "our own text is refused: %s\n", error.what());
    }
    std::fprintf(stderr, "round trip differs for:\n%s\n", text.c_str());
    std::abort();
}

void readAll(const std::string& text, bool nonstandard)
{
    vez::PgnSource source;
    source.openText(text);
    vez::Game game;
    for (int games = 0; games < kMaxGames; ++games) {
        game.clear();
        try {
            if (!vez::readPgnGame(game, source, nonstandard))
                return;
            checkRoundTrip(game, nonstandard);
        } catch (const vez::PGNGameException& error) {
            (void)error.message();
            (void)source.lineNumber();
            (void)source.currentLineText();
            source.rewindToMark();
            vez::PgnSink sink;
            source.skipGame(&sink);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    readAll(text, false);
    readAll(text, true);
    return 0;
}
