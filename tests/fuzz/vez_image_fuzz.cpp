// A whole database file as input: seeded with small real databases, which the fuzzer damages
// anywhere (flipped bits, overwritten words, zeroed ranges). Every reading operation and
// the validation run on what opens: damage may end an operation with DamagedDatabase, but
// nothing may crash, hang or touch memory outside the image.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_files.h"
#include "interchange/game.h"
#include "interchange/pgn_writer.h"
#include "store/database.h"
#include "store/games.h"
#include "store/statistics.h"
#include "store/validation.h"

namespace {

template <class Operation>
void contained(Operation operation)
{
    try {
        operation();
    } catch (const vez::DamagedDatabase&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vez::fuzz::silenceStoreMessages();
    vez::fuzz::withMemoryFile(data, size, [](const std::string& path, int) {
        vez::DatabaseHeader* db = vez::openMapped(path, 65536);
        if (!db)
            return;
        contained([] { (void)vez::statisticsReport(); });
        const std::uint32_t issued = vez::currentHeader().gameNumbersIssued;
        for (std::uint32_t n = 0; n < issued; ++n) {
            contained([n] {
                if (const vez::DbOffset g = vez::gameByNumber(n)) {
                    vez::Game game;
                    vez::readGame(g, game, true);
                    (void)vez::writeGameToText(game, vez::currentHeader().nonstandard == 1);
                }
            });
        }
        (void)vez::validateDatabase();
        vez::closeDatabase(db);
    });
    return 0;
}
