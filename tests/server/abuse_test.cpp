// Many clients at once over a database of a few thousand real games: fifty that walk
// through games get every reply right; clients that send garbage neither crash the server
// nor change the database without rights; requests that wait are answered in order once
// the client reads; connections beyond the limit are refused. (What the server holds for a
// client that does not read is bounded in listener_test.)
#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <sstream>
#include <thread>

#include "chess/notation.h"
#include "interchange/pgn_writer.h"
#include "server/listener.h"
#include "server_fixture.h"
#include "support/pgn_games.h"

namespace vez::test {
namespace {

#ifdef VEZ_SANITIZER_BUILD
constexpr std::size_t kGames = 800;
constexpr int kRequestsPerClient = 40;
#else
constexpr std::size_t kGames = 3000;
constexpr int kRequestsPerClient = 200;
#endif
constexpr int kClients = 50;

// Runs one body per client on threads of their own while the server runs on this thread.
template <typename Body>
void runClients(int count, Body body)
{
    std::atomic<int> running{count};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            body(i);
            --running;
        });
    serveUntil([&] { return running.load() == 0; }, std::chrono::minutes(3));
    for (std::thread& thread : threads)
        thread.join();
}

// A request line and the reply it gets.
using Request = std::pair<std::string, std::string>;

class ClientsTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        const std::string corpus = VEZ_CORPUS_DIR "/games-large.pgn";
        if (!std::filesystem::exists(corpus))
            GTEST_SKIP() << corpus << " is missing";
        ASSERT_TRUE(doc->OnNewDocument());
        PgnSource source;
        ASSERT_TRUE(source.openFile(corpus));
        games = readGames(source, kGames);
        for (const Game& game : games)
            doc->addGame(game, -1);
        ASSERT_TRUE(doc->OnSaveDocument(path("clients.vez")));
        GamesetRule rule;
        rule.outcome = "Win";
        rule.color = "White";
        ASSERT_TRUE(doc->createGamesetFromText("White wins", rule));
        serve(166);
        context = std::make_unique<ServerContext>(
            ServerContext{*doc, AccessFlags::fromBits(166), "", nullptr});
        Interpreter session(*context);
        players = session.ask("players");
        stats = session.ask("stats");
    }
    // A client's requests: walks along stored games with reads in between.
    std::vector<Request> script(std::mt19937& random)
    {
        Interpreter session(*context);
        std::vector<Request> requests;
        const Game* game = nullptr;
        Position at;
        int ply = 0;
        auto add = [&](std::string line) {
            std::string reply = session.ask(line);
            requests.push_back({std::move(line), std::move(reply)});
        };
        while (int(requests.size()) < kRequestsPerClient) {
            const int pick = int(random() % 20);
            if (pick < 7 && (!game || ply >= int(game->entries.size()))) {
                game = &games[random() % games.size()];
                at = game->startPosition;
                ply = 0;
                add("pos " + writeFen(at, 0, 1));
            } else if (pick < 7) {
                const Move move = game->entries[std::size_t(ply++)].move;
                add("move " + formatMove(at, move, false, MoveGlyph::None, false));
                makeMove(at, move);
            } else {
                // Thirteen kinds of read, the common ones more often.
                const int read = pick - 7;
                const std::string line = read < 3    ? "moves"
                                         : read < 6  ? "stats"
                                         : read < 8  ? "where"
                                         : read < 10 ? "notes"
                                         : read < 12 ? "pgn"
                                                     : "gameset games White wins";
                add(line == "pgn" ? "pgn " + std::to_string(random() % (games.size() + 5)) : line);
            }
        }
        return requests;
    }

    std::vector<Game> games;
    std::unique_ptr<ServerContext> context;
    std::string players; // the reply to "players"
    std::string stats;
};

TEST_F(ClientsTest, FiftyClientsGetEveryReplyRight)
{
    std::mt19937 random(20120620);
    std::vector<std::vector<Request>> scripts;
    for (int i = 0; i < kClients; ++i)
        scripts.push_back(script(random));
    const std::string before = doc->statisticsText();
    const std::string greeting = "+VEZ 1.5 server " + path("clients.vez") + "\r\n";
    std::atomic<int> wrong{0};
    runClients(kClients, [&](int i) {
        TcpClient client(listener->port(), nullptr, false);
        if (client.read(greeting.size()) != greeting && wrong++ == 0)
            ADD_FAILURE() << "client " << i << " was not greeted";
        for (const auto& [line, expected] : scripts[std::size_t(i)]) {
            client.send(line + "\n");
            const std::string reply = client.read(expected.size());
            if (reply != expected && wrong++ == 0)
                ADD_FAILURE() << line << " answered " << reply.substr(0, 200) << " instead of "
                              << expected.substr(0, 200);
        }
    });
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(doc->statisticsText(), before);
}

// Random command lines and bytes: read from the protocol's own words, with NULs,
// backspaces, carriage returns, long lines, half lines and abrupt ends.
std::string garbageLine(std::mt19937& random)
{
    static const std::vector<std::string> words = [] {
        const std::string all =
            "user|bye|reset|pos|move|where|stats|notes|moves|score|pgn|players|events|tags|"
            "gamesets|gameset size|gameset games|gameset desc|new notes|new pgn|new epd|rm game|"
            "rm gameset|new gameset|new score|new anno|.|help|e4|Nf3|O-O|exd5|e8=Q|1-0|"
            "[White \"x\"]|rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -|"
            "8/8/8/8/8/8/8/K6k w - -|kkkkkkkk/8/8/8/8/8/8/QQQQQQQQ b - -|0|-1|4294967296|1e9|nan|"
            "White wins|parent|rule Union|bob secret|\b|\r";
        std::vector<std::string> split;
        std::istringstream in(all);
        for (std::string word; std::getline(in, word, '|');)
            split.push_back(word);
        return split;
    }();
    std::string line;
    const int kind = int(random() % 10);
    if (kind == 0) {
        for (int n = int(random() % 300); n > 0; --n)
            line.push_back(char(random() % 256));
        return line;
    }
    if (kind == 1)
        return std::string(std::size_t(random() % 30000), char('a' + random() % 26));
    for (int n = 1 + int(random() % 4); n > 0; --n) {
        if (!line.empty())
            line += random() % 5 ? " " : "";
        line += words[random() % words.size()];
        if (random() % 8 == 0)
            line.push_back('\0');
    }
    return line;
}

TEST_F(ClientsTest, GarbageNeitherCrashesNorChangesOrCorruptsTheDatabase)
{
    const std::string before = image();
    // Eight clients at once from the address, some ending in the middle of a line; then the
    // server must still answer.
    auto garbage = [&](const char* from, unsigned seed) {
        runClients(8, [&](int i) {
            std::mt19937 random(seed + unsigned(i));
            TcpClient client(listener->port(), from, false);
            for (int n = 0; n < 60; ++n) {
                std::string line = garbageLine(random);
                if (random() % 3)
                    line += random() % 2 ? "\n" : "\r\n";
                client.send(line);
            }
            if (i % 3 == 0)
                client.abort();
        });
        TcpClient check(listener->port());
        check.greeting();
        check.send("where\n");
        EXPECT_THAT(check.readThrough("\r\n"), testing::StartsWith("+at ")) << from;
    };
    // A network client that never logs in, then local read-only clients.
    garbage("127.0.0.2", 1);
    EXPECT_EQ(image(), before) << "an unauthorised connection changed the database";
    serve(0xd0);
    garbage("127.0.0.1", 100);
    EXPECT_EQ(image(), before) << "a read-only connection changed the database";

    // Full access: whatever garbage did, the database still reads back whole.
    serve(166);
    garbage("127.0.0.1", 200);
    doc->setServer(nullptr);
    Game game;
    for (int number : doc->gameNumbers()) {
        ASSERT_TRUE(doc->readGame(number, game, true));
        Game back;
        EXPECT_TRUE(readPgnText(back, writeGameToText(game, false), false)) << number;
    }
    ASSERT_TRUE(doc->OnOpenDocument(path("clients.vez")));
    EXPECT_FALSE(doc->gameNumbers().empty());
}

// Requests sent all at once wait while their replies are unread and are answered in order
// once the client reads.
TEST_F(ClientsTest, PipelinedRequestsAreAnsweredInOrder)
{
    TcpClient client(listener->port());
    client.greeting();
    std::string requests, expected;
    for (int i = 0; i < 12; ++i) {
        requests += i % 3 == 2 ? "stats\n" : "players\n";
        expected += i % 3 == 2 ? stats : players;
    }
    client.send(requests);
    serveUntil([] { return false; }, std::chrono::milliseconds(200)); // stops at its mark
    EXPECT_EQ(client.read(expected.size()), expected);
}

// Connections beyond the limit are told so, logged and closed; the others go on.
TEST_F(ClientsTest, ConnectionsBeyondTheLimitAreRefused)
{
    std::vector<std::unique_ptr<TcpClient>> admitted;
    runClients(1, [&](int) {
        for (std::size_t i = 0; i < ServerListener::kMaxConnections; ++i)
            admitted.push_back(std::make_unique<TcpClient>(listener->port(), nullptr, false, 4096));
    });
    serveUntil([&] { return std::size_t(listener->connectionCount()) == admitted.size(); },
               std::chrono::seconds(20));
    ASSERT_EQ(std::size_t(listener->connectionCount()), ServerListener::kMaxConnections);

    TcpClient refused(listener->port());
    EXPECT_EQ(refused.readThrough("\r\n"), ServerListener::kTooMany);
    EXPECT_TRUE(refused.closedByServer());
    admitted.pop_back();
    serveUntil([&] { return std::size_t(listener->connectionCount()) < admitted.size() + 1; },
               std::chrono::seconds(20));
    TcpClient next(listener->port());
    EXPECT_THAT(next.greeting(), testing::StartsWith("+VEZ 1.5 server"));
    admitted.clear();
    doc->setServer(nullptr);
    EXPECT_THAT(readFile(path("server.log")),
                testing::HasSubstr(": refused, too many connections\r\n"));
}

} // namespace
} // namespace vez::test
