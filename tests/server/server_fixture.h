// A document over the bundled sample games, its server, and the reply sink and TCP client
// the server tests talk through.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ranges>
#include <string>
#include <string_view>
#include <vector>

#include "app/document_fixture.h"
#include "server/listener.h"
#include "server/protocol.h"

namespace vez::test {

// The interpreter of one connection from `address`, driven line by line without a socket.
// It gathers the replies; it refuses them once `accept` is cleared.
class Interpreter final : public ReplySink {
public:
    explicit Interpreter(ServerContext& context, const std::string& address = "127.0.0.1")
        : session(context, *this, address, 4711), admitted(session.admit())
    {
        gathered.clear();
    }
    // The replies to the lines of `text`; `open` tells whether the connection stays open.
    std::string ask(std::string_view text, bool open = true)
    {
        for (const auto line : std::views::split(text, '\n'))
            EXPECT_EQ(session.interpretLine(std::string_view(line.begin(), line.end())), open)
                << text;
        return std::exchange(gathered, {});
    }
    bool send(std::string_view text) override
    {
        if (accept)
            gathered.append(text);
        return accept;
    }

    bool accept = true;
    std::string gathered; // before the session, which greets into it
    ProtocolSession session;
    const bool admitted;
};

// Runs this thread's event loop (and with it the server) until the condition holds or the
// time is up; whether it holds.
template <typename Done>
bool serveUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(20))
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < until)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

// A document that a server may serve.
class ServerTest : public DocumentTest {
protected:
    void TearDown() override
    {
        doc->setServer(nullptr);
        DocumentTest::TearDown();
    }
    // Starts a server on a free port with the given "server perm", in place of any before.
    void serve(int permissions = 166)
    {
        doc->setServer(nullptr);
        auto made = std::make_unique<ServerListener>(*doc);
        ASSERT_TRUE(made->start({0, permissions, path("passwords"), path("server.log")}));
        listener = made.get();
        doc->setServer(std::move(made));
    }
    // The used part of the database image, to show that nothing changed it.
    std::string image() const
    {
        const auto* base = reinterpret_cast<const char*>(doc->database());
        return std::string(base, usedBytesOf(doc->database()));
    }

    ServerListener* listener = nullptr;
};

// A document on a database file holding the sample games.
class ServerDocumentTest : public ServerTest {
protected:
    void SetUp() override
    {
        ServerTest::SetUp();
        ASSERT_TRUE(doc->OnNewDocument());
        for (const Game& game : gamesOfText(readFile(kSamplePgn)))
            ASSERT_GE(doc->addGame(game, -1), 0);
        ASSERT_TRUE(doc->OnSaveDocument(path("served.vez")));
    }
};

// A blocking TCP client on 127.0.0.1, bound to `from` when given. A client on the server's
// own thread keeps its event loop (and so the server) running while it waits (`pump`); a
// client on a thread of its own leaves it alone. A small receive buffer keeps what the
// client does not read with the server, not the system. Every wait ends after a while so
// that a fault fails instead of hanging.
class TcpClient {
public:
    explicit TcpClient(int port, const char* from = nullptr, bool pump = true,
                       int receiveBuffer = 0)
        : m_fd(::socket(AF_INET, SOCK_STREAM, 0)), m_pump(pump)
    {
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in local{AF_INET, 0, {}, {}};
        sockaddr_in server{AF_INET, htons(std::uint16_t(port)), {}, {}};
        ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
        const bool bound =
            !from || (::inet_pton(AF_INET, from, &local.sin_addr) == 1 &&
                      ::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0);
        if (!bound || ::connect(m_fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
            ADD_FAILURE() << "cannot connect to " << port << " from "
                          << (from ? from : "any address") << ": " << std::strerror(errno);
            close();
        }
    }
    ~TcpClient() { close(); }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Closes with a reset instead of the orderly end.
    void abort()
    {
        linger hard{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close();
    }
    // Sends every byte unless the connection fails.
    void send(std::string_view bytes)
    {
        while (m_fd >= 0 && !bytes.empty()) {
            const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0)
                return;
            bytes.remove_prefix(std::size_t(sent));
        }
    }
    // Reads until `count` bytes are there or the server closes; returns them.
    std::string read(std::size_t count)
    {
        waitFor([&] { return m_buffer.size() >= count; });
        return take(count);
    }
    // Reads until the text ends with `end`.
    std::string readThrough(std::string_view end)
    {
        waitFor([&] { return m_buffer.find(end) != std::string::npos; });
        const std::size_t at = m_buffer.find(end);
        return take(at == std::string::npos ? at : at + end.size());
    }
    // True when the server closes the connection in time.
    bool closedByServer()
    {
        waitFor([] { return false; });
        return m_closed;
    }
    // The greeting, sent on admission.
    std::string greeting() { return readThrough("\r\n"); }

private:
    template <typename Done>
    void waitFor(Done done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done() && !m_closed && m_fd >= 0 && std::chrono::steady_clock::now() < deadline) {
            if (m_pump)
                QCoreApplication::processEvents();
            pollfd ready{m_fd, POLLIN, 0};
            if (::poll(&ready, 1, m_pump ? 2 : 100) <= 0)
                continue;
            char chunk[65536];
            const ssize_t received = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (received <= 0)
                m_closed = true;
            else
                m_buffer.append(chunk, std::size_t(received));
        }
    }
    // The first `count` bytes received (all when there are fewer), taken off the buffer.
    std::string take(std::size_t count)
    {
        std::string out = m_buffer.substr(0, count);
        m_buffer.erase(0, count);
        return out;
    }

    int m_fd = -1;
    bool m_pump;
    std::string m_buffer;
    bool m_closed = false;
};

} // namespace vez::test
