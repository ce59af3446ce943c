// Clients that ask for long replies and never read them, and more clients than the server
// takes: its memory stays bounded and returns when they leave, a well-behaved client is
// answered meanwhile, requests that wait are answered in order once the client reads.
#include <gmock/gmock.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "server/listener.h"
#include "server_fixture.h"
#include "support/pgn_games.h"

namespace vez::test {
namespace {

using Clock = std::chrono::steady_clock;

#ifdef VEZ_SANITIZER_BUILD
constexpr std::size_t kGames = 800;
constexpr double kAnswerSeconds = 5; // everything runs several times slower
#else
constexpr std::size_t kGames = 3000;
constexpr double kAnswerSeconds = 1;
#endif
constexpr int kAbusers = 100;
// What the server may hold beyond its idle size with kAbusers clients that do not read: each
// holds about one reply and some request bytes, and all of them together less than the
// output budget.
constexpr long kHeldBound = 96l << 20;
// What may stay once they are gone: malloc keeps some freed memory for reuse.
constexpr long kLeftBound = 16l << 20;

long residentBytes()
{
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

void runEventsFor(double seconds)
{
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A client socket that takes little from the server before its owner reads: what it does
// not read stays with the server rather than in the system's buffers.
int connectSmall(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int size = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(std::uint16_t(port));
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Connects `count` clients and sends each the requests, from a thread of its own while the
// server (on this thread) accepts them; -1 for a client that could not connect.
std::vector<int> connectClients(int port, int count, const std::string& requests)
{
    std::vector<int> fds;
    std::atomic<bool> done{false};
    std::thread connecting([&] {
        for (int i = 0; i < count; ++i) {
            fds.push_back(connectSmall(port));
            if (fds.back() >= 0)
                sendAll(fds.back(), requests);
        }
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    connecting.join();
    return fds;
}

// A database of a few thousand real games: long player lists.
class AbuseTest : public DocumentTest {
protected:
    void SetUp() override
    {
        DocumentTest::SetUp();
        const std::string corpus = VEZ_CORPUS_DIR "/games-large.pgn";
        if (!std::filesystem::exists(corpus))
            GTEST_SKIP() << corpus << " is missing";
        ASSERT_TRUE(doc->OnNewDocument());
        PgnSource source;
        ASSERT_TRUE(source.openFile(corpus));
        for (const Game& game : readGames(source, kGames))
            doc->addGame(game, -1);
        ASSERT_TRUE(doc->OnSaveDocument(path("abuse.vez")));
        auto made = std::make_unique<ServerListener>(*doc);
        ASSERT_TRUE(made->start({0, 166, "", path("server.log")}));
        listener = made.get();
        doc->setServer(std::move(made));
        RecordedReplies replies;
        ServerContext context{*doc, AccessFlags::fromBits(166), "", nullptr};
        ProtocolSession reference(context, replies, "127.0.0.1", 1);
        reference.admit();
        reference.interpretLine("players");
        players = replies.take();
        reference.interpretLine("stats");
        stats = replies.take();
    }
    void TearDown() override
    {
        doc->setServer(nullptr);
        DocumentTest::TearDown();
    }

    ServerListener* listener = nullptr;
    std::string players; // the reply to "players"
    std::string stats;
};

TEST_F(AbuseTest, ClientsThatNeverReadNeitherExhaustMemoryNorDelayOthers)
{
    // About 3,000 bytes of player names for every 500 games: replies long enough that
    // 2,000 of them unsent would be megabytes for each client.
    ASSERT_GT(players.size(), kGames * 3) << "too few players for long replies";
    const int port = listener->port();
    runEventsFor(0.3);
    const long idle = residentBytes();

    // Each sends 2,000 requests for the player list and reads nothing: answered at once,
    // they would be tens of megabytes for each client.
    std::string requests;
    for (int i = 0; i < 2000; ++i)
        requests += "players\n";
    const std::vector<int> abusers = connectClients(port, kAbusers, requests);
    ASSERT_EQ(std::count(abusers.begin(), abusers.end(), -1), 0);

    // Meanwhile another client asks for the statistics again and again.
    std::atomic<bool> done{false};
    std::vector<double> waits;
    std::string wrong;
    std::thread asker([&] {
        const int fd = connectTo(port, nullptr, 10);
        char chunk[4096];
        std::string got;
        auto readLine = [&] {
            while (got.find("\r\n") == std::string::npos) {
                const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
                if (n <= 0)
                    return std::string("(no reply)");
                got.append(chunk, std::size_t(n));
            }
            const std::size_t end = got.find("\r\n") + 2;
            std::string line = got.substr(0, end);
            got.erase(0, end);
            return line;
        };
        readLine(); // the greeting
        for (int i = 0; i < 40; ++i) {
            const auto sent = Clock::now();
            sendAll(fd, "stats\n");
            const std::string line = readLine();
            waits.push_back(std::chrono::duration<double>(Clock::now() - sent).count());
            if (line != stats && wrong.empty())
                wrong = line;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::close(fd);
        done = true;
    });
    long held = idle;
    const auto deadline = Clock::now() + std::chrono::minutes(2);
    while (!done && Clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        held = std::max(held, residentBytes());
    }
    asker.join();
    for (const int fd : abusers)
        ::close(fd);
    const auto leaving = Clock::now() + std::chrono::seconds(20);
    while (listener->connectionCount() > 0 && Clock::now() < leaving)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    runEventsFor(0.5); // the server gives freed memory back a moment after the last leaves
    const long left = residentBytes();

    EXPECT_EQ(wrong, "") << "stats answered wrongly";
    ASSERT_EQ(waits.size(), 40u);
    const double longest = *std::max_element(waits.begin(), waits.end());
    EXPECT_LT(longest, kAnswerSeconds);
#ifndef VEZ_SANITIZER_BUILD
    // AddressSanitizer keeps freed blocks in quarantine and never hands them back, so the
    // resident size measures the sanitizer there, not the server.
    EXPECT_LT(held - idle, kHeldBound);
    EXPECT_LT(left - idle, kLeftBound);
#endif
    EXPECT_EQ(listener->connectionCount(), 0);
}

// Requests sent all at once wait while their replies are unread and are answered in order
// once the client reads.
TEST_F(AbuseTest, PipelinedRequestsAreAnsweredInOrder)
{
    TcpClient client(listener->port());
    client.greeting();
    std::string requests, expected;
    for (int i = 0; i < 12; ++i) {
        requests += i % 3 == 2 ? "stats\n" : "players\n";
        expected += i % 3 == 2 ? stats : players;
    }
    client.send(requests);
    runEventsFor(0.2); // the server stops at its mark, unread
    EXPECT_EQ(client.read(expected.size()), expected);
}

// Connections beyond the limit are told so, logged and closed; the others go on.
TEST_F(AbuseTest, ConnectionsBeyondTheLimitAreRefused)
{
    const int port = listener->port();
    std::vector<int> admitted = connectClients(port, int(ServerListener::kMaxConnections), "");
    ASSERT_EQ(std::count(admitted.begin(), admitted.end(), -1), 0);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (std::size_t(listener->connectionCount()) < ServerListener::kMaxConnections &&
           Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_EQ(std::size_t(listener->connectionCount()), ServerListener::kMaxConnections);

    TcpClient refused(port);
    EXPECT_EQ(refused.readThrough("\r\n"), ServerListener::kTooMany);
    EXPECT_TRUE(refused.closedByServer());
    ::close(admitted.back());
    admitted.pop_back();
    while (std::size_t(listener->connectionCount()) == ServerListener::kMaxConnections &&
           Clock::now() < deadline)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    TcpClient next(port);
    EXPECT_THAT(next.greeting(), testing::StartsWith("+VEZ 1.5 server"));
    for (const int fd : admitted)
        ::close(fd);
    doc->setServer(nullptr);
    EXPECT_THAT(readFile(path("server.log")),
                testing::HasSubstr(": refused, too many connections\r\n"));
}

} // namespace
} // namespace vez::test
