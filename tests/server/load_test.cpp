// Many clients at once, and clients that send garbage: every reply checked, the database
// untouched by connections without write rights and sound afterwards.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "chess/notation.h"
#include "server/listener.h"
#include "server_fixture.h"
#include "store/statistics.h"

namespace vez::test {
namespace {

#ifdef VEZ_SANITIZER_BUILD
constexpr int kRequestsPerClient = 40;
#else
constexpr int kRequestsPerClient = 200;
#endif
constexpr int kClients = 50;

// Runs the test thread's event loop (and with it the server) until the workers are done.
void serveUntil(const std::atomic<int>& running)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while (running.load() > 0 && std::chrono::steady_clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A blocking client for worker threads; the server runs on the test thread.
class ThreadClient {
public:
    explicit ThreadClient(int port, const char* from = "127.0.0.1")
        : m_fd(connectTo(port, from, 20)), m_connected(m_fd >= 0)
    {
    }
    ~ThreadClient()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool connected() const { return m_connected; }
    void send(std::string_view bytes) { sendAll(m_fd, bytes); }
    std::string read(std::size_t count)
    {
        std::string out;
        char chunk[65536];
        while (out.size() < count) {
            const ssize_t received =
                ::recv(m_fd, chunk, std::min(sizeof chunk, count - out.size()), 0);
            if (received <= 0)
                break;
            out.append(chunk, std::size_t(received));
        }
        return out;
    }
    // Drops the connection with a reset.
    void abort()
    {
        linger hard{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

struct Request {
    std::string line;
    std::string reply;
};

class LoadTest : public DocumentTest {
protected:
    void SetUp() override
    {
        DocumentTest::SetUp();
        const std::string corpus = VEZ_CORPUS_DIR "/games-annotated.pgn";
        if (!std::filesystem::exists(corpus))
            GTEST_SKIP() << corpus << " is missing";
        ASSERT_TRUE(doc->OnNewDocument());
        games = gamesOfText(readFile(corpus));
        for (const Game& game : games)
            doc->addGame(game, -1);
        ASSERT_TRUE(doc->OnSaveDocument(path("load.vez")));
        GamesetRule rule;
        rule.outcome = "Win";
        rule.color = "White";
        ASSERT_TRUE(doc->createGamesetFromText("White wins", rule));
    }
    void TearDown() override
    {
        doc->setServer(nullptr);
        DocumentTest::TearDown();
    }

    ServerListener& serve(int permissions)
    {
        auto made = std::make_unique<ServerListener>(*doc);
        EXPECT_TRUE(made->start({0, permissions, "", path("server.log")}));
        ServerListener& listener = *made;
        doc->setServer(std::move(made));
        return listener;
    }

    // A client's requests: walks along stored games with reads in between; the replies
    // come from the interpreter itself, driven directly, before the server runs.
    std::vector<Request> script(std::mt19937& random)
    {
        RecordedReplies replies;
        ServerContext context{*doc, AccessFlags::fromBits(166), "", nullptr};
        ProtocolSession reference(context, replies, "127.0.0.1", 1);
        reference.admit();
        std::vector<Request> requests;
        const Game* game = nullptr;
        Position at;
        int ply = 0;
        auto add = [&](std::string line) {
            reference.interpretLine(line);
            requests.push_back({std::move(line), replies.take()});
        };
        while (int(requests.size()) < kRequestsPerClient) {
            const int pick = int(random() % 20);
            if (pick < 7) {
                if (!game || ply >= int(game->entries.size())) {
                    game = &games[random() % games.size()];
                    at = game->startPosition;
                    ply = 0;
                    add("pos " + writeFen(at, 0, 1));
                    continue;
                }
                const Move move = game->entries[std::size_t(ply++)].move;
                add("move " + formatMove(at, move, false, MoveGlyph::None, false));
                makeMove(at, move);
            } else if (pick < 10) {
                add("moves");
            } else if (pick < 13) {
                add("stats");
            } else if (pick < 15) {
                add("where");
            } else if (pick < 17) {
                add("notes");
            } else if (pick < 19) {
                add("pgn " + std::to_string(random() % (games.size() + 5)));
            } else {
                add("gameset games White wins");
            }
        }
        return requests;
    }

    std::vector<Game> games;
};

TEST_F(LoadTest, FiftyClientsGetEveryReplyRight)
{
    std::mt19937 random(20120620);
    std::vector<std::vector<Request>> scripts;
    for (int i = 0; i < kClients; ++i)
        scripts.push_back(script(random));
    const std::string before = doc->statisticsText();

    ServerListener& listener = serve(166);
    const int port = listener.port();
    std::atomic<int> running{kClients};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            ThreadClient client(port);
            const std::string greeting = "+VEZ 1.5 server " + path("load.vez") + "\r\n";
            const std::string got = client.connected() ? client.read(greeting.size()) : "";
            if (got != greeting) {
                ADD_FAILURE() << "client " << i << " greeted with '" << got << "'";
                ++wrong;
                --running;
                return;
            }
            for (const Request& request : scripts[std::size_t(i)]) {
                client.send(request.line + "\n");
                const std::string reply = client.read(request.reply.size());
                if (reply != request.reply) {
                    if (wrong++ == 0)
                        ADD_FAILURE() << request.line << " answered " << reply.substr(0, 200)
                                      << " instead of " << request.reply.substr(0, 200);
                }
            }
            --running;
        });
    }
    serveUntil(running);
    for (std::thread& thread : threads)
        thread.join();
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
        for (std::size_t at = 0, bar; at <= all.size(); at = bar + 1) {
            bar = std::min(all.find('|', at), all.size());
            split.push_back(all.substr(at, bar - at));
        }
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

// Sends garbage from `clients` connections at once; some end in the middle of a line.
void sendGarbage(int port, const char* from, int clients, unsigned seed)
{
    std::atomic<int> running{clients};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            std::mt19937 random(seed + unsigned(i));
            ThreadClient client(port, from);
            for (int n = 0; n < 60; ++n) {
                std::string line = garbageLine(random);
                if (random() % 3)
                    line += random() % 2 ? "\n" : "\r\n";
                client.send(line);
            }
            if (i % 3 == 0)
                client.abort();
            --running;
        });
    }
    serveUntil(running);
    for (std::thread& thread : threads)
        thread.join();
}

TEST_F(LoadTest, GarbageNeitherCrashesNorChangesOrCorruptsTheDatabase)
{
    auto image = [&] {
        return std::string(reinterpret_cast<const char*>(doc->database()),
                           usedBytesOf(doc->database()));
    };
    const std::string before = image();
    auto answers = [&](ServerListener& listener) {
        TcpClient check(listener.port());
        check.greeting();
        check.send("where\n");
        return check.readThrough("\r\n").starts_with("+at ");
    };

    // A network client that never logs in, then local read-only clients.
    ServerListener* listener = &serve(166);
    sendGarbage(listener->port(), "127.0.0.2", 8, 1);
    EXPECT_TRUE(answers(*listener));
    EXPECT_EQ(image(), before) << "an unauthorised connection changed the database";
    doc->setServer(nullptr);
    listener = &serve(0xd0);
    sendGarbage(listener->port(), "127.0.0.1", 8, 100);
    EXPECT_TRUE(answers(*listener));
    EXPECT_EQ(image(), before) << "a read-only connection changed the database";

    // Full access: whatever garbage did, the database still reads back whole.
    doc->setServer(nullptr);
    listener = &serve(166);
    sendGarbage(listener->port(), "127.0.0.1", 8, 200);
    EXPECT_TRUE(answers(*listener));
    doc->setServer(nullptr);
    Game game;
    for (int number : doc->gameNumbers()) {
        ASSERT_TRUE(doc->readGame(number, game, true));
        Game back;
        EXPECT_TRUE(readPgnText(back, writeGameToText(game, false), false)) << number;
    }
    EXPECT_FALSE(doc->statisticsText().empty());
    const std::string file = path("load.vez");
    ASSERT_TRUE(doc->OnOpenDocument(file));
    EXPECT_FALSE(doc->gameNumbers().empty());
}

} // namespace
} // namespace vez::test
