// The database server's sockets: a listener on all IPv4 addresses of one port and one
// connection per admitted client, all on the document's thread (Qt delivers the socket
// events through that thread's event loop), so that every request runs where the database
// lives. A connection assembles request lines for its ProtocolSession and queues replies
// for the socket as it accepts them.
#pragma once

#include <QObject>

#include <cstddef>
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

private:
    void onReadyRead();
    void onBytesWritten();
    void onDisconnected();
    void onError();
    // Consumes received bytes: line ends, backspaces and the input limit.
    bool consume(const char* data, std::size_t size);
    void pump();
    // Ends the connection: gracefully after the pending replies, or at once.
    void close(bool flush);
    std::size_t unsentBytes() const;

    ServerListener& m_listener;
    QTcpSocket* m_socket;
    std::unique_ptr<ProtocolSession> m_session;
    std::string m_input;  // the request line being assembled
    std::string m_output; // reply bytes not yet handed to the socket
    std::size_t m_outputStart = 0;
    bool m_closing = false;
    QTimer* m_lingerTimer = nullptr;
};

class ServerListener final : public QObject {
public:
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

private:
    void onNewConnection();

    CVezDoc& m_document;
    ServerLog m_log;
    ServerContext m_context;
    QTcpServer* m_server;
    std::list<ServerConnection*> m_connections; // accept order
    std::string m_greeting;
};

} // namespace vez
