// The database server's sockets: a listener on all IPv4 addresses of one port and one
// connection per admitted client, all on the document's thread (Qt delivers the socket
// events through that thread's event loop), so that every request runs where the database
// lives. A connection assembles request lines for its ProtocolSession and queues replies
// for the socket as it accepts them.
#pragma once

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <string_view>

#include "server/protocol.h"

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace vez {

class ServerListener;

class ServerConnection final : public QObject, public ReplySink {
public:
    // A request line with its line end must fit this many bytes.
    static constexpr std::size_t kInputBufferSize = 20480;
    // While more reply bytes than this wait for the client, its further requests wait
    // unread: a client that sends without reading holds one reply, not one per request.
    static constexpr std::size_t kPauseMark = 64 * 1024;
    // Unsent reply bytes beyond this mark a client that does not read: it is closed.
    static constexpr std::size_t kOutputLimit = 8u << 20;

    ServerConnection(ServerListener& listener, QTcpSocket* socket);
    ~ServerConnection() override;

    ProtocolSession& session() { return *m_session; }
    bool admit() { return m_session->admit(); }

    // Queues reply text and hands the socket what it takes; false (logged) when the unsent
    // output would pass kOutputLimit.
    bool send(std::string_view text) override;
    // "-shutting down!" and close; the listener is stopping.
    void shutDown();
    // Reply bytes waiting for the client (queued here and in the socket).
    std::size_t unsentBytes() const;
    // Closes the connection at once, logging why; the listener is over its budget.
    void drop(std::string_view why);
    // The listener lets go of the connection: the output it counted, which it no longer counts.
    std::size_t forgetAccount();

private:
    // Interprets received requests until they run out or the replies pass kPauseMark.
    void processInput();
    void onBytesWritten();
    void onDisconnected();
    void onError();
    // Consumes received bytes up to the end of one request line: line ends, backspaces and
    // the input limit. The bytes used; false in *goOn when the connection is closing.
    std::size_t consume(const char* data, std::size_t size, bool* goOn);
    void pump();
    // Tells the listener how much output this connection now holds.
    void account();
    // Ends the connection: gracefully after the pending replies, or at once.
    void close(bool flush);

    ServerListener& m_listener;
    QTcpSocket* m_socket;
    std::unique_ptr<ProtocolSession> m_session;
    std::string m_input;    // the request line being assembled
    std::string m_received; // bytes read from the socket and not yet consumed
    std::size_t m_receivedStart = 0;
    std::string m_output; // reply bytes not yet handed to the socket
    std::size_t m_outputStart = 0;
    std::size_t m_accounted = 0; // unsent bytes as the listener counts them
    bool m_released = false;
    std::uint64_t m_requests = 0; // request lines interpreted
    bool m_turnPosted = false;    // processInput is queued for the next turn
    bool m_closing = false;
    QTimer* m_lingerTimer = nullptr;
};

class ServerListener final : public QObject {
public:
    // Connections beyond this many are refused with kTooMany and a log line.
    static constexpr std::size_t kMaxConnections = 256;
    static constexpr std::string_view kTooMany = "-too many connections\r\n";
    // Unsent reply bytes across all connections: past this, the connection holding the most
    // is closed. With kPauseMark each holds about one reply, so this is reached only by
    // many clients that ask for long replies and do not read them.
    static constexpr std::size_t kOutputBudget = 64u << 20;

    explicit ServerListener(CVezDoc& document);
    // Stops the server: every connection is told "-shutting down!".
    ~ServerListener() override;

    // Opens the log and listens; false (after the message) when listening fails.
    bool start(const ServerSettings& settings);
    void stop();

    // The port listened on (the one chosen by the system when 0 was asked for).
    int port() const;
    ServerContext& context() { return m_context; }
    int connectionCount() const { return int(m_connections.size()); }
    void logLine(std::string_view line) { m_log.logLine(line); }

    // A connection that is finished; it is deleted after the current event.
    void release(ServerConnection* connection);

    // A connection's unsent output changed from `before` to `after` bytes; over the budget
    // the connection holding the most output is closed. False when that was `asking`.
    bool accountOutput(ServerConnection* asking, std::size_t before, std::size_t after);
    std::size_t unsentBytes() const { return m_unsent; }

private:
    void onNewConnection();
    void refuse(QTcpSocket* socket);
    // Gives memory that connections left back to the system, once they are gone.
    void trimSoon();

    CVezDoc& m_document;
    ServerLog m_log;
    ServerContext m_context;
    QTcpServer* m_server;
    std::list<ServerConnection*> m_connections; // accept order
    std::string m_greeting;
    std::size_t m_unsent = 0; // over all connections
    QTimer* m_trimTimer;
};

} // namespace vez
