// The server's line protocol: admission and access rights, the log file and the command
// interpreter of one connection. Plain code over request lines and a reply sink, so that the
// socket layer (listener.h) is a thin transport and tests drive the interpreter directly.
//
// Every request is one line without its line end; replies are one or more lines, the first
// beginning with "+" (success) or "-" (failure). Everything runs on the document's thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "chess/position.h"

namespace vez {

class CVezDoc;
class ProfileStore;

// The eight access flags of the "server perm" setting, bit 7 first.
struct AccessFlags {
    bool localOthersOpen = false;       // bit 7
    bool localOthersReadOnly = false;   // bit 6
    bool localKnownOpen = false;        // bit 5
    bool localKnownReadOnly = false;    // bit 4
    bool networkOthersOpen = false;     // bit 3
    bool networkOthersReadOnly = false; // bit 2
    bool networkKnownOpen = false;      // bit 1
    bool networkKnownReadOnly = false;  // bit 0

    static AccessFlags fromBits(int bits);
    int bits() const;
};

// The server's settings, read from and written back to the profile.
struct ServerSettings {
    static constexpr int kDefaultPort = 26262;
    static constexpr int kDefaultPermissions = 166;

    int port = kDefaultPort;
    int permissions = kDefaultPermissions;
    std::string passwordFile; // empty: nobody can log in
    std::string logFile;      // empty: no log

    static ServerSettings read(const ProfileStore& profile);
    void write(ProfileStore& profile) const;
};

// The log file: one line per event, appended and flushed at once. Without a file it does
// nothing.
class ServerLog {
public:
    ServerLog() = default;
    ~ServerLog() { close(); }
    ServerLog(const ServerLog&) = delete;
    ServerLog& operator=(const ServerLog&) = delete;

    // Opens the file for appending, creating it when missing.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return m_file != nullptr; }
    void logLine(std::string_view line);

private:
    std::FILE* m_file = nullptr;
};

// What admission decides for a new connection.
struct Admission {
    bool admitted = false;
    bool access = false;   // commands beyond user, bye and help are allowed
    bool readOnly = false; // commands that change the database are refused
};

// A client is local when the platform reports its address as exactly this text.
inline constexpr std::string_view kLocalAddress = "127.0.0.1";

Admission admit(const AccessFlags& flags, bool local);

// "+VEZ 1.5 server", the database path when it has one, the nonstandard mark, "\r\n".
std::string serverGreeting(const CVezDoc& document);

// "09:05:03 12/31/1998": the local time as admission logs it.
std::string connectionTimeStamp();

// Where replies go. send returns false when the connection cannot take the text and must
// be closed.
class ReplySink {
public:
    virtual ~ReplySink() = default;
    virtual bool send(std::string_view text) = 0;
};

// What the interpreter shares with every connection of one server.
struct ServerContext {
    CVezDoc& document;
    AccessFlags flags;
    std::string passwordFile;
    ServerLog* log = nullptr; // may be null
};

enum class CollectionMode { None, Notes, Pgn, Gameset };

// The interpreter state of one connection.
class ProtocolSession {
public:
    // A collected text may grow while it is shorter than this; a line beyond gets
    // "-input too large".
    static constexpr std::size_t kCollectedTextLimit = 50001;

    ProtocolSession(ServerContext& context, ReplySink& sink, std::string peerAddress, int peerPort);

    // Sets access and read-only from the server's flags; false (logged as denied) when the
    // connection is refused. An admitted connection is logged as connected.
    bool admit();

    // Interprets one request line; false when the connection must be closed.
    bool interpretLine(std::string_view line);

    // "address:port:" and the text, to the log.
    void log(std::string_view text) const;

    const std::string& peerAddress() const { return m_peerAddress; }
    int peerPort() const { return m_peerPort; }
    bool local() const { return m_local; }
    bool access() const { return m_access; }
    bool readOnly() const { return m_readOnly; }
    const std::string& userName() const { return m_userName; }
    const Position& position() const { return m_position; }
    CollectionMode mode() const { return m_mode; }

private:
    bool collect(std::string_view line);
    bool endCollection();
    bool command(std::string_view line);
    bool readCommand(std::string_view line, bool& handled);
    bool listCommand(std::string_view line, bool& handled);
    bool gamesetCommand(std::string_view line, bool& handled);
    bool writeCommand(std::string_view line, bool& handled);
    bool login(std::string_view credentials);
    bool rightsReply();
    bool storeNotes();
    bool storePgn();
    bool storeGameset();
    bool sendNotes();
    bool sendLines(std::string_view head, const std::vector<std::string>& lines);
    bool newScore(std::string_view value);
    bool newAnnotation(std::string_view text);
    bool send(std::string_view text) { return m_sink.send(text); }

    ServerContext& m_context;
    ReplySink& m_sink;
    std::string m_peerAddress;
    int m_peerPort;
    bool m_local;
    bool m_access = false;
    bool m_readOnly = false;
    std::string m_userName;
    Position m_position;
    CollectionMode m_mode = CollectionMode::None;
    std::string m_collected;
    std::string m_gamesetName;
};

} // namespace vez
