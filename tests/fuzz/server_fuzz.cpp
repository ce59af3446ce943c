// Fuzz target: request lines for the server's interpreter, as an unauthorised network
// client, a read-only local client or a local client with full access (the first byte
// chooses). The first two must leave the database image exactly as it was; after the third
// every game must still read back and print as PGN.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "app/document.h"
#include "app/profile_store.h"
#include "app/user_interaction.h"
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_writer.h"
#include "server/protocol.h"
#include "store/database.h"

namespace {

using namespace vez;

class SilentUser final : public UserInteraction {
public:
    void showMessage(const std::string&) override {}
    bool askOkCancel(const std::string&) override { return false; }
    SaveAnswer askSaveChanges(const std::string&) override { return SaveAnswer::No; }
    std::string chooseOpenFile(const FileDialogRequest&) override { return {}; }
    std::string chooseSaveFile(const FileDialogRequest&) override { return {}; }
    PgnErrorAnswer pgnError(const PgnErrorReport&) override { return {}; }
    void setClipboardText(const std::string&) override {}
    std::unique_ptr<Progress> openProgress(const std::string&) override { return nullptr; }
};

struct Sink final : ReplySink {
    bool send(std::string_view text) override
    {
        bytes += text.size();
        return bytes < (8u << 20);
    }
    std::size_t bytes = 0;
};

constexpr std::string_view kGames =
    "[Event \"Cez Trophy 2012\"]\n[White \"Navara,D\"]\n[Black \"Svidler,P\"]\n"
    "[Result \"1/2-1/2\"]\n\n1. Nf3 g6 2. e4 c5 {Sicilian} 3. c4 Bg7 4. d4 cxd4 5. Nxd4 Nc6!? "
    "(5... Nf6 6. Nc3) 6. Be3 1/2-1/2\n\n"
    "[Event \"Cez Trophy 2012\"]\n[White \"Svidler,P\"]\n[Black \"Navara,D\"]\n"
    "[Result \"1-0\"]\n\n1. e4 c5 2. Nf3 d6 3. d4 cxd4 4. Nxd4 Nf6 5. Nc3 a6 1-0\n";

struct Fixture {
    Fixture()
        : profile((std::filesystem::temp_directory_path() / "vez-server-fuzz.ini").string()),
          document(profile, user)
    {
    }
    void reset()
    {
        document.OnNewDocument();
        PgnSource source;
        source.openText(std::string(kGames));
        for (Game game; readPgnGame(game, source, false); game.clear())
            document.addGame(game, -1);
        GamesetRule rule;
        rule.event = "Cez Trophy 2012";
        document.createGamesetFromText("Cez", rule);
    }
    std::string image() const
    {
        return std::string(reinterpret_cast<const char*>(document.database()),
                           usedBytesOf(document.database()));
    }

    ProfileStore profile;
    SilentUser user;
    CVezDoc document;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Fixture fixture;
    if (size == 0)
        return 0;
    fixture.reset();
    const int kind = data[0] % 3;
    std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);

    ServerLog log;
    ServerContext context{fixture.document, AccessFlags::fromBits(kind == 1 ? 0xd0 : 166),
                          "/nonexistent/passwords", &log};
    Sink sink;
    ProtocolSession session(context, sink, kind == 0 ? "192.0.2.7" : "127.0.0.1", 1);
    session.admit();
    const std::string before = kind < 2 ? fixture.image() : std::string();

    // Lines as a connection assembles them: a line feed ends one, a carriage return before
    // it is dropped.
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        std::string_view line = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        if (!session.interpretLine(line))
            break;
    }

    if (kind < 2 && fixture.image() != before)
        std::abort(); // a connection without write rights changed the database
    if (kind == 2) {
        Game game;
        for (int number : fixture.document.gameNumbers())
            if (!fixture.document.readGame(number, game, true) ||
                writeGameToText(game, fixture.document.isNonstandard()).empty())
                std::abort();
    }
    return 0;
}
