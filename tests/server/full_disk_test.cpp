// Serving a database whose disk fills: the upload that finds no room is answered with an
// error, the connection and the server go on, and the file keeps every game it took.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "server/protocol.h"
#include "server_fixture.h"
#include "support/small_disk.h"

namespace vez::test {
namespace {

class FullDiskServerTest : public DocumentTest {};

TEST_F(FullDiskServerTest, AnUploadWithoutRoomIsRefusedAndServingGoesOn)
{
    const std::string corpus = VEZ_CORPUS_DIR "/games-large.pgn";
    if (!std::filesystem::exists(corpus))
        GTEST_SKIP() << corpus << " is missing";
    SmallDisk disk(path("disk"));
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a 2 MB tmpfs here (needs root)";
    ASSERT_TRUE(doc->OnNewDocument());
    ASSERT_TRUE(doc->OnSaveDocument(disk.file("served.vez")));
    ServerContext context{*doc, AccessFlags::fromBits(166), path("passwords"), nullptr};
    Interpreter session(context);
    ASSERT_TRUE(session.admitted);

    // Upload the corpus game by game until a game is refused.
    std::ifstream in(corpus, std::ios::binary);
    std::string line, reply;
    std::set<int> stored; // duplicates fold into earlier games
    bool inGame = false;
    while (stored.size() < 20000 && std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.starts_with("[Event ")) {
            if (inGame) {
                reply = session.ask(".");
                if (reply.starts_with("-game not stored"))
                    break;
                if (reply.starts_with("+game "))
                    stored.insert(std::stoi(reply.substr(6)));
            }
            ASSERT_EQ(session.ask("new pgn"), "+go, end with '.'\r\n");
            inGame = true;
        }
        if (inGame && line != ".")
            session.ask(line);
    }
    ASSERT_GT(stored.size(), 10u);
    EXPECT_EQ(reply, "-game not stored\r\n");
    ASSERT_FALSE(user.messages.empty());
    EXPECT_NE(user.messages.back().find("No space left on device"), std::string::npos)
        << user.messages.back();

    // The same connection goes on being served.
    EXPECT_EQ(session.ask("stats").rfind("+games ", 0), 0u);
    EXPECT_EQ(session.ask("pgn " + std::to_string(*stored.rbegin())).rfind("+", 0), 0u);

    // The file opens on the full disk with every game it took.
    doc->DeleteContents();
    disk.fill();
    ASSERT_TRUE(doc->OnOpenDocument(disk.file("served.vez")));
    const std::vector<int> numbers = doc->gameNumbers();
    EXPECT_EQ(std::set<int>(numbers.begin(), numbers.end()), stored);
    Game last;
    EXPECT_TRUE(doc->readGame(*stored.rbegin(), last, true));
    EXPECT_FALSE(last.entries.empty());
    doc->DeleteContents();
}

} // namespace
} // namespace vez::test
