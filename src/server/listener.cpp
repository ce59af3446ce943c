#include "server/listener.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/document.h"
#include "app/user_interaction.h"

namespace vez {

namespace {

// Qt's socket takes every byte written into a buffer of its own; handing it the replies
// in slices keeps what waits for a slow client in one place, where it is counted.
constexpr qint64 kSocketSlice = 64 * 1024;
constexpr qint64 kSocketBacklog = 256 * 1024;
// How long a closing connection may take to deliver its last replies.
constexpr int kLingerMilliseconds = 10000;
// Connections the system completes before the event loop accepts them. A backlog of 5 left
// most of a burst of fifty clients connected on their side but never accepted for many
// seconds; fifty is what Qt chooses by default.
constexpr int kListenBacklog = 50;

std::string text(const char* pattern, auto... values)
{
    char buffer[200];
    const int length = std::snprintf(buffer, sizeof buffer, pattern, values...);
    return std::string(buffer, std::size_t(std::clamp(length, 0, int(sizeof buffer) - 1)));
}

} // namespace

// --- ServerConnection -----------------------------------------------------------------------

ServerConnection::ServerConnection(ServerListener& listener, QTcpSocket* socket)
    : QObject(&listener), m_listener(listener), m_socket(socket)
{
    m_socket->setParent(this);
    // Qt would otherwise read whatever a client sends into memory, whether or not its
    // requests are being taken.
    m_socket->setReadBufferSize(qint64(kInputBufferSize));
    m_session = std::make_unique<ProtocolSession>(listener.context(), *this,
                                                  m_socket->peerAddress().toString().toStdString(),
                                                  int(m_socket->peerPort()));
    connect(m_socket, &QTcpSocket::readyRead, this, &ServerConnection::processInput);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &ServerConnection::onBytesWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, &ServerConnection::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &ServerConnection::onError);
}

ServerConnection::~ServerConnection()
{
    // Destroying the socket aborts it, which must not call back into a half-destroyed
    // connection.
    QObject::disconnect(m_socket, nullptr, this, nullptr);
    delete m_socket;
}

std::size_t ServerConnection::unsentBytes() const
{
    return m_output.size() - m_outputStart + std::size_t(m_socket->bytesToWrite());
}

bool ServerConnection::send(std::string_view reply)
{
    if (m_closing)
        return false;
    if (unsentBytes() + reply.size() > kOutputLimit) {
        m_session->log(text(" closed, client does not read; %zu bytes of output unsent",
                            unsentBytes() + reply.size()));
        close(false);
        return false;
    }
    m_output.append(reply);
    pump();
    return !m_closing;
}

void ServerConnection::account()
{
    const std::size_t now = m_released ? 0 : unsentBytes();
    if (now == m_accounted)
        return;
    const std::size_t before = std::exchange(m_accounted, now);
    m_listener.accountOutput(this, before, now);
}

std::size_t ServerConnection::forgetAccount()
{
    m_released = true;
    return std::exchange(m_accounted, 0);
}

void ServerConnection::drop(std::string_view why)
{
    m_session->log(why);
    close(false);
}

void ServerConnection::pump()
{
    while (m_outputStart < m_output.size() && m_socket->bytesToWrite() < kSocketBacklog) {
        const qint64 slice =
            std::min<qint64>(kSocketSlice, qint64(m_output.size() - m_outputStart));
        const qint64 written = m_socket->write(m_output.data() + m_outputStart, slice);
        if (written <= 0)
            break;
        m_outputStart += std::size_t(written);
    }
    if (m_outputStart == m_output.size()) {
        // A long reply's buffer is not kept for the next short one.
        if (m_output.capacity() > std::size_t(kSocketBacklog))
            std::string().swap(m_output);
        m_output.clear();
        m_outputStart = 0;
    } else if (m_outputStart > std::size_t(kSocketBacklog)) {
        m_output.erase(0, m_outputStart);
        m_outputStart = 0;
    }
    account();
}

void ServerConnection::onBytesWritten()
{
    pump();
    if (m_closing && unsentBytes() == 0 && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->disconnectFromHost();
    else if (!m_closing && unsentBytes() <= kPauseMark)
        processInput(); // the requests that waited for the client to read
}

void ServerConnection::processInput()
{
    m_turnPosted = false;
    const std::uint64_t first = m_requests;
    bool goOn = true;
    while (goOn && !m_closing && unsentBytes() <= kPauseMark) {
        // One request a turn: the event loop then goes round every connection with
        // requests waiting, so that many busy clients delay a quiet one by one request each.
        if (m_requests != first) {
            if (!m_turnPosted) {
                m_turnPosted = true;
                QMetaObject::invokeMethod(this, &ServerConnection::processInput,
                                          Qt::QueuedConnection);
            }
            return;
        }
        if (m_receivedStart == m_received.size()) {
            m_received.resize(kInputBufferSize);
            const qint64 got = m_socket->read(m_received.data(), qint64(m_received.size()));
            m_received.resize(got > 0 ? std::size_t(got) : 0);
            m_receivedStart = 0;
            if (got <= 0)
                break;
        }
        m_receivedStart += consume(m_received.data() + m_receivedStart,
                                   m_received.size() - m_receivedStart, &goOn);
    }
}

std::size_t ServerConnection::consume(const char* data, std::size_t size, bool* goOn)
{
    auto stop = [&](std::size_t used) {
        *goOn = false;
        return used;
    };
    for (std::size_t i = 0; i < size; ++i) {
        const char byte = data[i];
        if (byte == '\b') {
            if (!m_input.empty())
                m_input.pop_back();
        } else if (byte == '\n') {
            if (!m_input.empty() && m_input.back() == '\r')
                m_input.pop_back();
            const std::string line = std::move(m_input);
            m_input.clear();
            ++m_requests;
            if (!m_session->interpretLine(line)) {
                if (!m_closing)
                    m_session->log(" closed, command failed: " + line);
                close(true);
                return stop(i + 1);
            }
            if (m_closing)
                return stop(i + 1);
            return i + 1; // one request at a time, so that its reply can pause the next
        } else {
            m_input.push_back(byte);
            if (m_input.size() >= kInputBufferSize) {
                m_session->log(
                    text(" closed, request line longer than %zu bytes", kInputBufferSize - 1));
                close(true);
                return stop(i + 1);
            }
        }
    }
    return size;
}

void ServerConnection::close(bool flush)
{
    if (m_closing && flush)
        return;
    m_closing = true;
    m_input.clear();
    m_received.clear();
    m_receivedStart = 0;
    if (flush && m_socket->state() == QAbstractSocket::ConnectedState) {
        pump();
        if (unsentBytes() == 0) {
            m_socket->disconnectFromHost();
        } else if (!m_lingerTimer) {
            m_lingerTimer = new QTimer(this);
            m_lingerTimer->setSingleShot(true);
            connect(m_lingerTimer, &QTimer::timeout, m_socket, &QTcpSocket::abort);
            m_lingerTimer->start(kLingerMilliseconds);
        }
    } else {
        m_socket->abort();
    }
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        m_listener.release(this);
}

void ServerConnection::onDisconnected()
{
    if (!m_closing)
        m_session->log(" closed, error 0");
    m_closing = true;
    m_listener.release(this);
}

void ServerConnection::onError()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError || m_closing)
        return; // the disconnection follows and is logged there
    m_session->log(text(" Receive error %d", int(error)));
    close(false);
}

void ServerConnection::shutDown()
{
    if (m_closing)
        return;
    m_closing = true;
    m_output.append("-shutting down!\r\n");
    while (m_outputStart < m_output.size()) {
        const qint64 written = m_socket->write(m_output.data() + m_outputStart,
                                               qint64(m_output.size() - m_outputStart));
        if (written <= 0)
            break;
        m_outputStart += std::size_t(written);
    }
    m_socket->flush();
    m_socket->disconnectFromHost();
}

// --- ServerListener -------------------------------------------------------------------------

ServerListener::ServerListener(CVezDoc& document)
    : m_document(document), m_context{document, {}, {}, &m_log}, m_server(new QTcpServer(this)),
      m_trimTimer(new QTimer(this))
{
    m_trimTimer->setSingleShot(true);
    m_trimTimer->setInterval(200);
    connect(m_trimTimer, &QTimer::timeout, this, [] { ::malloc_trim(0); });
    connect(m_server, &QTcpServer::newConnection, this, &ServerListener::onNewConnection);
    connect(m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError error) {
        m_log.logLine(text("server socket Accept failed, eno=%d", int(error)));
        stop();
    });
}

ServerListener::~ServerListener() { stop(); }

bool ServerListener::start(const ServerSettings& settings)
{
    m_context.flags = AccessFlags::fromBits(settings.permissions);
    m_context.passwordFile = settings.passwordFile;
    if (!settings.logFile.empty() && !m_log.open(settings.logFile))
        m_document.user().showMessage(
            text("Log file %s couldn't be opened", settings.logFile.c_str()));
    m_server->setListenBacklogSize(kListenBacklog);
    // IPv4 only: a dual-stack socket would report a local client as "::ffff:127.0.0.1".
    if (!m_server->listen(QHostAddress::AnyIPv4, quint16(settings.port))) {
        m_document.user().showMessage(
            text("Couldn't listen on server socket; error=%d", int(m_server->serverError())));
        m_log.close();
        return false;
    }
    return true;
}

int ServerListener::port() const { return int(m_server->serverPort()); }

void ServerListener::stop()
{
    const std::list<ServerConnection*> connections = std::move(m_connections);
    m_connections.clear();
    for (ServerConnection* connection : connections) {
        connection->shutDown();
        delete connection;
    }
    m_log.close();
    m_server->close();
}

void ServerListener::onNewConnection()
{
    m_greeting = serverGreeting(m_document);
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (m_connections.size() >= kMaxConnections) {
            refuse(socket);
            continue;
        }
        auto connection = std::make_unique<ServerConnection>(*this, socket);
        if (socket->peerAddress().isNull() || !connection->admit() || !connection->send(m_greeting))
            continue; // the refused connection is closed as it is destroyed
        m_connections.push_back(connection.release());
    }
}

void ServerListener::refuse(QTcpSocket* socket)
{
    socket->setParent(this);
    m_log.logLine(text("%s:%d: refused, too many connections",
                       socket->peerAddress().toString().toStdString().c_str(),
                       int(socket->peerPort())));
    socket->write(kTooMany.data(), qint64(kTooMany.size()));
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // A client that neither reads nor closes is not waited for.
    QTimer::singleShot(kLingerMilliseconds, socket, &QTcpSocket::abort);
}

void ServerListener::release(ServerConnection* connection)
{
    const auto found = std::find(m_connections.begin(), m_connections.end(), connection);
    if (found == m_connections.end())
        return;
    m_connections.erase(found);
    m_unsent -= connection->forgetAccount();
    connection->deleteLater();
    trimSoon();
}

bool ServerListener::accountOutput(ServerConnection* asking, std::size_t before, std::size_t after)
{
    m_unsent = m_unsent - before + after;
    bool askingKept = true;
    while (m_unsent > kOutputBudget && !m_connections.empty()) {
        ServerConnection* largest =
            *std::max_element(m_connections.begin(), m_connections.end(),
                              [](auto* a, auto* b) { return a->unsentBytes() < b->unsentBytes(); });
        largest->drop(text(" closed, server output budget of %zu bytes exceeded; %zu bytes of "
                           "output unsent",
                           kOutputBudget, largest->unsentBytes()));
        release(largest); // at once, whatever the socket reports
        askingKept = askingKept && largest != asking;
    }
    return askingKept;
}

void ServerListener::trimSoon()
{
    // The replies of many connections leave freed blocks that malloc keeps for reuse.
    m_trimTimer->start();
}

} // namespace vez
