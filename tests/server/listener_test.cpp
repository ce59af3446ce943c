// The server over real sockets on 127.0.0.1: admission, line assembly, large replies, slow
// and hostile clients, logging and the stop.
#include <gmock/gmock.h>

#include <algorithm>
#include <chrono>

#include "server_fixture.h"

namespace vez::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class ListenerTest : public ServerDocumentTest {
protected:
    void SetUp() override
    {
        ServerDocumentTest::SetUp();
        writeFile(path("passwords"), "bob secret\n");
        serve();
    }
    std::unique_ptr<TcpClient> client(const char* from = nullptr)
    {
        auto made = std::make_unique<TcpClient>(listener->port(), from);
        EXPECT_EQ(made->greeting(), "+VEZ 1.5 server " + path("served.vez") + "\r\n");
        return made;
    }
    std::string logText() const { return readFile(path("server.log")); }
};

TEST_F(ListenerTest, AssemblesLinesFromTheByteStream)
{
    auto c = client();
    // CR LF and LF, two commands in one packet, a line cut across packets, backspaces.
    const std::string stats = "+games 60 1-0 26 0-1 12\r\n";
    c->send("stats\r\n");
    EXPECT_EQ(c->read(stats.size()), stats);
    c->send("stats\nwhere\n");
    EXPECT_EQ(c->readThrough("\r\n+at"), stats + "+at");
    EXPECT_THAT(c->readThrough("\r\n"), HasSubstr(" w KQkq - 0 1\r\n"));
    c->send("sta");
    QCoreApplication::processEvents();
    c->send("ts\n");
    EXPECT_EQ(c->read(stats.size()), stats);
    c->send("stax\bts\n\b\bstats\n");
    EXPECT_EQ(c->read(2 * stats.size()), stats + stats);
    c->send("stats\b\b\b\b\b\bmove e4\b3\n");
    EXPECT_THAT(c->readThrough("\r\n"), StartsWith("+at rnbqkbnr/pppppppp/8/8/8/4P3/"));

    // The connection's life in the log: "bye" ends it as a failed command; a client that
    // closes, as error 0.
    c->send("bye\n");
    EXPECT_EQ(c->readThrough("\r\n"), "+bye\r\n");
    EXPECT_TRUE(c->closedByServer());
    client()->close();
    EXPECT_TRUE(serveUntil([&] { return listener->connectionCount() == 0; }));
    EXPECT_THAT(logText(),
                testing::ContainsRegex("127\\.0\\.0\\.1:[0-9]+: connected [0-9:]{8} [0-9/]{10}\r\n"
                                       ".*127\\.0\\.0\\.1:[0-9]+: closed, command failed: bye\r\n"
                                       ".*127\\.0\\.0\\.1:[0-9]+: closed, error 0\r\n"));
}

// A note of 49 lines of 1,000 characters, collected over the connection: a reply of more
// than twice the old output buffer of 20,480 bytes arrives whole, again and again; a client
// that asks for it many times without reading makes the server hold about one reply, not
// all of them. Over-long request lines and collected texts end the connection.
TEST_F(ListenerTest, LongRepliesArriveWholeAndAreHeldOnceForClientsThatDoNotRead)
{
    std::string upload = "new notes\n";
    std::string expected = "+notes\r\n";
    for (int i = 0; i < 49; ++i) {
        const std::string line = std::to_string(i) + std::string(1000, char('a' + i % 26));
        upload += line + "\n";
        expected += line + "\r\n";
    }
    auto writer = client();
    writer->send(upload + ".\n");
    EXPECT_EQ(writer->readThrough("+ok\r\n"), "+go, end with '.'\r\n+ok\r\n");
    for (int round = 0; round < 3; ++round) {
        writer->send("notes\n");
        EXPECT_EQ(writer->readThrough("\r\n.\r\n+ok\r\n"), expected + ".\r\n+ok\r\n");
    }

    // 400 requests for a 50 kB reply each, and never a read: 20 MB would pile up. The
    // requests wait instead, and the server holds about one reply beyond its mark.
    auto sleeper = std::make_unique<TcpClient>(listener->port());
    for (int i = 0; i < 400; ++i)
        sleeper->send("notes\n");
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    std::size_t held = 0;
    serveUntil([&] {
        held = std::max(held, listener->unsentBytes());
        return std::chrono::steady_clock::now() > until;
    });
    EXPECT_LT(held, ServerConnection::kPauseMark + 2 * 50000);
    EXPECT_EQ(listener->connectionCount(), 2);
    EXPECT_THAT(logText(), Not(HasSubstr("client does not read")));
    sleeper.reset();
    EXPECT_TRUE(serveUntil([&] { return listener->connectionCount() == 1; }));

    // A request line that fills the input buffer without a line feed.
    auto talker = client();
    talker->send(std::string(ServerConnection::kInputBufferSize, 'q'));
    EXPECT_TRUE(talker->closedByServer());
    EXPECT_THAT(logText(), HasSubstr(": closed, request line longer than 20479 bytes\r\n"));

    // A line of 20,479 bytes with its line feed still fits.
    auto fits = client();
    fits->send(std::string(ServerConnection::kInputBufferSize - 1, 'q') + "\n");
    EXPECT_EQ(fits->readThrough("\r\n"), "-bad command, try 'help'\r\n");

    // Past the limit of the collected text the connection ends.
    fits->send("new notes\n");
    fits->readThrough("\r\n");
    const std::string line(20000, 'x');
    for (int i = 0; i < 4; ++i) // the fourth finds 60,003 characters collected
        fits->send(line + "\n");
    EXPECT_EQ(fits->readThrough("\r\n"), "-input too large\r\n");
    EXPECT_TRUE(fits->closedByServer());
}

TEST_F(ListenerTest, NetworkClientsNeedALogin)
{
    auto remote = client("127.0.0.2");
    remote->send("stats\nuser bob secret\nstats\n");
    EXPECT_EQ(remote->readThrough("0-1 12\r\n"), "-sorry\r\n+open\r\n+games 60 1-0 26 0-1 12\r\n");
    EXPECT_THAT(logText(), HasSubstr("127.0.0.2:"));

    // Network clients are refused without any network flag; local ones stay welcome.
    serve(0xc0);
    TcpClient refused(listener->port(), "127.0.0.2");
    EXPECT_TRUE(refused.closedByServer());
    EXPECT_THAT(logText(), testing::ContainsRegex("127\\.0\\.0\\.2:[0-9]+: denied\r\n"));
    auto local = client();
    local->send("stats\n");
    EXPECT_EQ(local->readThrough("\r\n"), "+games 60 1-0 26 0-1 12\r\n");
}

// A second server on the busy port fails with its messages; the stop says goodbye to every
// client.
TEST_F(ListenerTest, ASecondServerFailsAndTheStopSaysGoodbye)
{
    ServerListener second(*doc);
    EXPECT_FALSE(second.start({listener->port(), 166, "", path("no-such-folder/log")}));
    ASSERT_EQ(user.messages.size(), 2u);
    EXPECT_EQ(user.messages[0], "Log file " + path("no-such-folder/log") + " couldn't be opened");
    EXPECT_THAT(user.messages[1], StartsWith("Couldn't listen on server socket; error="));

    auto a = client();
    auto b = client("127.0.0.2");
    a->send("new notes\nhalf a note\n");
    a->readThrough("\r\n");
    doc->setServer(nullptr);
    for (TcpClient* c : {a.get(), b.get()}) {
        EXPECT_EQ(c->readThrough("\r\n"), "-shutting down!\r\n");
        EXPECT_TRUE(c->closedByServer());
    }
}

} // namespace
} // namespace vez::test
