// Opening a database file whose header is arbitrary: the input is XORed over the header
// after the magic (which stays valid, so every other figure is what gets checked) and the
// start of the hash table of an otherwise fresh image, so that short inputs stay close to
// a sound header. Opening must refuse the file or succeed; it
// must never touch memory outside the image or change a refused file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_files.h"
#include "store/database.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> image = [] {
        vez::DatabaseHeader* db = vez::createInMemory();
        std::vector<std::uint8_t> fresh(vez::currentBase, vez::currentBase + db->usedBytes);
        vez::closeDatabase(db);
        return fresh;
    }();
    vez::fuzz::silenceStoreMessages();

    std::vector<std::uint8_t> bytes = image;
    // The last input byte picks a length for the file, so that short files are tried too.
    const std::size_t length =
        size > 0 && data[size - 1] < 16 ? bytes.size() * data[size - 1] / 16 : bytes.size();
    const std::size_t overlay = size < bytes.size() - 8 ? size : bytes.size() - 8;
    for (std::size_t i = 0; i < overlay; ++i)
        bytes[8 + i] ^= data[i];
    bytes.resize(length);

    vez::fuzz::withMemoryFile(bytes.data(), bytes.size(), [&](const std::string& path, int fd) {
        if (vez::DatabaseHeader* db = vez::openMapped(path, 65536)) {
            // A sound header: the used part and the hash table are readable.
            volatile std::uint8_t sink = vez::currentBase[db->usedBytes - 1];
            sink = vez::currentBase[db->hashTable + vez::kHashTableBytes - 1];
            (void)sink;
            vez::closeDatabase(db);
        } else if (::lseek(fd, 0, SEEK_END) != off_t(bytes.size())) {
            __builtin_trap(); // a refused file must keep its length
        }
    });
    return 0;
}
