#include "server/protocol.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <ctime>
#include <fstream>
#include <vector>

#include "app/document.h"
#include "app/profile_store.h"
#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "interchange/game.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"
#include "interchange/pgn_writer.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/names.h"

namespace vez {

namespace {

constexpr std::string_view kOk = "+ok\r\n";
constexpr std::string_view kSorry = "-sorry\r\n";
constexpr std::string_view kGo = "+go, end with '.'\r\n";
constexpr std::string_view kBadName = "-bad name\r\n";
constexpr std::string_view kBadMove = "-bad move\r\n";
constexpr std::string_view kNoGame = "-nogame\r\n";

constexpr std::string_view kHelpText =
    "+commands:\r\n user <user> <password>\r\n bye\r\n reset\r\n pos <FEN>\r\n move <SAN>\r\n"
    " where\r\n stats\r\n notes\r\n moves\r\n score\r\n pgn <game#>\r\n gamesets\r\n"
    " players\r\n events\r\n tags\r\n gameset size <name\r\n gameset games <name>\r\n"
    " gameset desc <name>\r\n new notes (notes on next lines, then '.')\r\n"
    " new score <val>\r\n new anno <SAN>\r\n new epd <EPD>\r\n"
    " new pgn (PGN on next lines, then '.')\r\n"
    " new gameset <name> (rules on next lines, then '.')\r\n rm game <game#>\r\n"
    " rm gameset <name>\r\n+ok\r\n";

// The gameset rule's text form, key by key, in the order "gameset desc" lists them.
// The text after a command prefix such as "pos ", or false when the line lacks it.
bool afterPrefix(std::string_view line, std::string_view prefix, std::string_view& rest)
{
    if (!line.starts_with(prefix))
        return false;
    rest = line.substr(prefix.size());
    return true;
}

// A password file line names a user and a password, both non-empty: a blank line, a name
// alone or a password alone would otherwise let a bare "user " or "user NAME " in.
bool isCredentialLine(std::string_view line)
{
    const std::size_t space = line.find(' ');
    return space != std::string_view::npos && space > 0 && space + 1 < line.size();
}

// A "user" request as the log shows it: the name, and a mask where the password was.
std::string maskedRequest(std::string_view line)
{
    constexpr std::string_view kUser = "user ";
    if (!line.starts_with(kUser))
        return std::string(line);
    std::string_view rest = line.substr(kUser.size());
    while (rest.starts_with(' '))
        rest.remove_prefix(1);
    return std::string(kUser) + std::string(rest.substr(0, rest.find(' '))) + " ********";
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A decimal number as the C library's atoi reads it (leading blanks, a sign, digits; 0 when
// there is no number), held within the range of int.
int decimalNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 40);
    value = negative ? -value : value;
    return int(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::string format(const char* pattern, auto... values)
{
    char buffer[160];
    const int length = std::snprintf(buffer, sizeof buffer, pattern, values...);
    return std::string(buffer, std::size_t(std::clamp(length, 0, int(sizeof buffer) - 1)));
}

std::string fenText(const Position& position) { return writeFen(position, 0, 1, false); }

// The move the text names, when it is one of the position's moves under the database's
// rules; Move::None otherwise. The parser judges only the geometry of most moves.
Move playableMove(const Position& position, std::string_view text, bool nonstandard,
                  MoveGlyph* glyph)
{
    Move move = Move::None;
    if (!parseMove(position, move, nullptr, glyph, text) || move == Move::None)
        return Move::None;
    MoveList list;
    const int count = legalMoves(position, list, nonstandard);
    for (int i = 0; i < count; ++i)
        if (list[i] == move)
            return move;
    return Move::None;
}

} // namespace

// --- Settings, access and log ---------------------------------------------------------------

AccessFlags AccessFlags::fromBits(int bits)
{
    auto bit = [bits](int n) { return ((bits >> n) & 1) != 0; };
    return {bit(7), bit(6), bit(5), bit(4), bit(3), bit(2), bit(1), bit(0)};
}

int AccessFlags::bits() const
{
    const bool flags[] = {localOthersOpen,    localOthersReadOnly, localKnownOpen,
                          localKnownReadOnly, networkOthersOpen,   networkOthersReadOnly,
                          networkKnownOpen,   networkKnownReadOnly};
    int bits = 0;
    for (bool flag : flags)
        bits = (bits << 1) | (flag ? 1 : 0);
    return bits;
}

ServerSettings ServerSettings::read(const ProfileStore& profile)
{
    ServerSettings settings;
    settings.port = profile.getProfileInt("server port", kDefaultPort);
    settings.permissions = profile.getProfileInt("server perm", kDefaultPermissions);
    settings.passwordFile = profile.getProfileString("server passwds", "");
    settings.logFile = profile.getProfileString("server log", "");
    return settings;
}

void ServerSettings::write(ProfileStore& profile) const
{
    profile.writeProfileInt("server port", port);
    profile.writeProfileInt("server perm", AccessFlags::fromBits(permissions).bits());
    profile.writeProfileString("server passwds", passwordFile);
    profile.writeProfileString("server log", logFile);
}

bool ServerLog::open(const std::string& path)
{
    close();
    m_file = std::fopen(path.c_str(), "ab");
    return m_file != nullptr;
}

void ServerLog::close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

void ServerLog::logLine(std::string_view line)
{
    if (!m_file)
        return;
    // One line per event: a line end inside the text would start a false one.
    const std::size_t end = line.find_first_of("\r\n");
    line = line.substr(0, end);
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fputs("\r\n", m_file);
    std::fflush(m_file);
}

Admission admit(const AccessFlags& flags, bool local)
{
    if (local)
        return {true, flags.localOthersOpen, flags.localOthersReadOnly};
    if (!flags.networkOthersOpen && !flags.networkKnownOpen)
        return {};
    return {true, flags.networkOthersOpen, flags.networkOthersReadOnly};
}

std::string serverGreeting(const CVezDoc& document)
{
    std::string greeting = "+VEZ 1.5 server";
    if (!document.GetPathName().empty())
        greeting += " " + document.GetPathName();
    if (document.isNonstandard())
        greeting += " (nonstandard database)";
    return greeting + "\r\n";
}

std::string connectionTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return format("%02d:%02d:%02d %02d/%02d/%02d", local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
}

// --- The interpreter ------------------------------------------------------------------------

ProtocolSession::ProtocolSession(ServerContext& context, ReplySink& sink, std::string peerAddress,
                                 int peerPort)
    : m_context(context), m_sink(sink), m_peerAddress(std::move(peerAddress)), m_peerPort(peerPort),
      m_local(m_peerAddress == kLocalAddress)
{
    setStandardStart(m_position);
}

void ProtocolSession::log(std::string_view text) const
{
    if (!m_context.log)
        return;
    std::string line = m_peerAddress + ":" + std::to_string(m_peerPort) + ":";
    line += text;
    m_context.log->logLine(line);
}

bool ProtocolSession::admit()
{
    const Admission admission = vez::admit(m_context.flags, m_local);
    if (!admission.admitted) {
        log(" denied");
        return false;
    }
    m_access = admission.access;
    m_readOnly = admission.readOnly;
    log(" connected " + connectionTimeStamp());
    return true;
}

bool ProtocolSession::interpretLine(std::string_view line)
{
    if (m_mode != CollectionMode::None)
        return collect(line);
    std::string logged = " <";
    logged += maskedRequest(line);
    logged += ">";
    log(logged);
    try {
        return command(line);
    } catch (const DamagedDatabase& damage) {
        // The request met damage in the file: it fails, the connection stays.
        log(std::string(" ") + damage.what());
        return send(std::string("-") + damage.what() + "\r\n");
    }
}

bool ProtocolSession::collect(std::string_view line)
{
    if (line == ".")
        return endCollection();
    if (m_collected.size() >= kCollectedTextLimit) {
        send("-input too large\r\n");
        return false;
    }
    m_collected += line;
    m_collected += m_mode == CollectionMode::Notes ? "\r\n" : "\n";
    return true;
}

bool ProtocolSession::endCollection()
{
    const CollectionMode mode = m_mode;
    m_mode = CollectionMode::None;
    bool sent = true;
    try {
        switch (mode) {
        case CollectionMode::Notes: sent = storeNotes(); break;
        case CollectionMode::Pgn: sent = storePgn(); break;
        case CollectionMode::Gameset: sent = storeGameset(); break;
        case CollectionMode::None: break;
        }
    } catch (const DamagedDatabase& damage) {
        log(std::string(" ") + damage.what());
        sent = send(std::string("-") + damage.what() + "\r\n");
    }
    m_collected.clear();
    m_collected.shrink_to_fit();
    m_gamesetName.clear();
    return sent;
}

bool ProtocolSession::storeNotes()
{
    if (!m_context.document.setPositionNote(m_position, m_collected, nullptr))
        return send("-note not stored\r\n");
    return send(kOk);
}

bool ProtocolSession::storePgn()
{
    CVezDoc& document = m_context.document;
    Game game;
    PgnSource source;
    source.openText(m_collected);
    try {
        if (!readPgnGame(game, source, document.isNonstandard()))
            return send("-no game\r\n");
    } catch (const PGNGameException& error) {
        return send(
            format("-bad game, line %d: %s\r\n", source.lineNumber(), error.message().c_str()));
    } catch (const std::exception& error) {
        return send(format("-bad game, line %d: %s\r\n", source.lineNumber(), error.what()));
    }
    if (!game.hasTag("Source") && !m_userName.empty())
        game.setTag("Source", m_userName);
    const std::string title = game.title();
    log(" new game " + title);
    const bool positionOnly = game.isCommentOnly();
    const int number = document.addGame(game, -1);
    // A position-only record is stored as a note and has no number; any other game without
    // a number was not stored.
    if (number < 0 && !positionOnly)
        return send("-game not stored\r\n");
    return send(format("+game %d: ", number) + title + "\r\n");
}

bool ProtocolSession::storeGameset()
{
    GamesetRule rule;
    std::string_view text = m_collected;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const std::size_t space = line.find(' ');
        const std::string_view key = line.substr(0, space);
        const std::string_view value =
            space == std::string_view::npos ? std::string_view{} : line.substr(space + 1);
        const auto field = gamesetRuleField(key);
        if (!field)
            return send("-bad constraint\r\n");
        rule.*field = std::string(value);
    }
    if (!m_context.document.createGamesetFromText(m_gamesetName, rule))
        return send("-gameset creation failed\r\n");
    return send(kOk);
}

bool ProtocolSession::command(std::string_view line)
{
    std::string_view rest;
    if (afterPrefix(line, "user ", rest))
        return login(rest);
    if (line == "bye") {
        send("+bye\r\n");
        return false;
    }
    if (line.starts_with("help") || line.starts_with("?"))
        return send(kHelpText);
    if (!m_access)
        return send(kSorry);
    bool handled = false;
    bool sent = readCommand(line, handled);
    if (!handled)
        sent = listCommand(line, handled);
    if (!handled)
        sent = gamesetCommand(line, handled);
    if (!handled)
        sent = writeCommand(line, handled);
    if (!handled)
        sent = send("-bad command, try 'help'\r\n");
    return sent;
}

// Commands that walk the graph and read what it knows about the current position.
bool ProtocolSession::readCommand(std::string_view line, bool& handled)
{
    CVezDoc& document = m_context.document;
    const bool nonstandard = document.isNonstandard();
    std::string_view rest;
    handled = true;
    if (line == "reset") {
        setStandardStart(m_position);
        return send(kOk);
    }
    if (afterPrefix(line, "pos ", rest)) {
        Position position;
        if (!readFen(position, rest))
            return send("-bad FEN\r\n");
        m_position = position;
        return send(kOk);
    }
    if (afterPrefix(line, "move ", rest)) {
        const Move move = playableMove(m_position, rest, nonstandard, nullptr);
        if (move == Move::None)
            return send(kBadMove);
        makeMove(m_position, move);
        return send("+at " + fenText(m_position) + "\r\n");
    }
    if (line == "where")
        return send("+at " + fenText(m_position) + "\r\n");
    if (line == "stats") {
        const PositionCounts counts = document.countsOf(m_position);
        return send(format("+games %ld 1-0 %ld 0-1 %ld\r\n", long(counts.games),
                           long(counts.whiteWins), long(counts.blackWins)));
    }
    if (line == "notes")
        return sendNotes();
    if (line == "moves") {
        const std::vector<GraphEdge> moves = document.movesFrom(m_position);
        if (moves.empty())
            return send("-no moves\r\n");
        std::string reply = "+moves";
        for (const GraphEdge& edge : moves)
            reply += " " + formatMove(m_position, edge.move, nonstandard, MoveGlyph::None, false);
        return send(reply + "\r\n");
    }
    if (line == "score") {
        const DbOffset record = document.database() ? findPosition(m_position) : 0;
        std::int32_t score = kNoScore;
        if (record == 0 || !getScore(record, score) || score == kNoScore)
            return send("-no score\r\n");
        return send(format("+score %+.2f\r\n", score / 100.0));
    }
    if (afterPrefix(line, "pgn ", rest)) {
        Game game;
        if (!document.readGame(decimalNumber(rest), game, true))
            return send(kNoGame);
        return send("+game\n") && send(writeGameToText(game, nonstandard)) && send("+ok\n");
    }
    handled = false;
    return true;
}

bool ProtocolSession::sendNotes()
{
    if (!send("+notes\r\n"))
        return false;
    const std::string text = m_context.document.noteText(m_position);
    std::string_view note = text;
    while (!note.empty()) {
        const std::size_t end = note.find('\n');
        std::string_view line = note.substr(0, end);
        note = end == std::string_view::npos ? std::string_view{} : note.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        std::string reply = line == "." ? std::string(" .") : std::string(line);
        if (!send(reply + "\r\n"))
            return false;
    }
    return send(".\r\n") && send(kOk);
}

bool ProtocolSession::sendLines(std::string_view head, const std::vector<std::string>& lines)
{
    if (!send(head))
        return false;
    for (const std::string& line : lines)
        if (!send(line + "\r\n"))
            return false;
    return send(kOk);
}

// The name lists of the database.
bool ProtocolSession::listCommand(std::string_view line, bool& handled)
{
    CVezDoc& document = m_context.document;
    const bool open = document.database() != nullptr;
    std::vector<std::string> names;
    handled = true;
    if (line == "players") {
        if (open) {
            document.claimWorkingSet(usedBytesOf(document.database()));
            listPlayers(names);
        }
        return sendLines("+players\r\n", names);
    }
    if (line == "events") {
        if (open)
            listDictionary(Dictionary::Event, names);
        return sendLines("+events\r\n", names);
    }
    if (line == "tags") {
        if (open)
            listDictionary(Dictionary::TagName, names);
        return sendLines("+tags\r\n", names);
    }
    if (line == "gamesets")
        return sendLines("+gamesets\r\n", document.gamesetNames());
    handled = false;
    return true;
}

bool ProtocolSession::gamesetCommand(std::string_view line, bool& handled)
{
    CVezDoc& document = m_context.document;
    std::string_view rest;
    handled = true;
    if (afterPrefix(line, "gameset size ", rest)) {
        const DbOffset set = document.database() ? findGameset(rest) : 0;
        if (set == 0)
            return send(kBadName);
        return send(format("+size %d\r\n", int(size(set))));
    }
    if (afterPrefix(line, "gameset games ", rest)) {
        if (!document.gamesetExists(std::string(rest)))
            return send(kBadName);
        const std::vector<int> games = document.gamesetMembers(std::string(rest));
        if (games.empty())
            return send("-empty\n");
        if (!send("+games\r\n"))
            return false;
        for (int number : games)
            if (!send(format("%d\r\n", number)))
                return false;
        return send(kOk);
    }
    if (afterPrefix(line, "gameset desc ", rest)) {
        const DbOffset set = document.database() ? findGameset(rest) : 0;
        if (set == 0)
            return send(kBadName);
        const GamesetRule rule = describeGameset(set);
        std::string reply = "+gameset\r\n";
        for (const GamesetRuleKey& field : kGamesetRuleKeys)
            if (!(rule.*(field.field)).empty())
                reply += std::string(field.key) + " " + rule.*(field.field) + "\r\n";
        return send(reply) && send(kOk);
    }
    handled = false;
    return true;
}

// Commands that change the database: they need access and no read-only flag.
bool ProtocolSession::writeCommand(std::string_view line, bool& handled)
{
    static constexpr std::string_view kWritePrefixes[] = {
        "new epd ", "rm game ", "rm gameset ", "new gameset ", "new score ", "new anno "};
    bool isWrite = line == "new notes" || line == "new pgn";
    for (std::string_view prefix : kWritePrefixes)
        isWrite = isWrite || line.starts_with(prefix);
    if (!isWrite) {
        handled = false;
        return true;
    }
    handled = true;
    if (m_readOnly)
        return send(kSorry);

    CVezDoc& document = m_context.document;
    std::string_view rest;
    if (line == "new notes" || line == "new pgn") {
        m_mode = line == "new notes" ? CollectionMode::Notes : CollectionMode::Pgn;
        m_collected.clear();
        return send(kGo);
    }
    if (afterPrefix(line, "new epd ", rest)) {
        Position position;
        PositionAnnotation annotation;
        if (!readEpd(position, rest, &annotation) ||
            !document.addPositionAnnotation(position, annotation))
            return send("-badepd\r\n");
        return send(kOk);
    }
    if (afterPrefix(line, "rm game ", rest)) {
        const int number = decimalNumber(rest);
        if (!document.gameExists(number))
            return send(kNoGame);
        if (!document.deleteGame(number))
            return send("-game not deleted\r\n");
        return send(kOk);
    }
    if (afterPrefix(line, "rm gameset ", rest)) {
        const std::string name(rest);
        if (!document.gamesetExists(name))
            return send(kBadName);
        if (!document.canDeleteGamesetByName(name) || !document.deleteGamesetByName(name))
            return send("-can't delete\r\n");
        return send(kOk);
    }
    if (afterPrefix(line, "new gameset ", rest)) {
        if (rest.empty() || document.gamesetExists(std::string(rest)) || !document.database())
            return send(kBadName);
        m_gamesetName = std::string(rest);
        m_mode = CollectionMode::Gameset;
        m_collected.clear();
        return send(kGo);
    }
    if (afterPrefix(line, "new score ", rest))
        return newScore(rest);
    afterPrefix(line, "new anno ", rest);
    return newAnnotation(rest);
}

// The value in pawns, stored in centipawns truncated; an empty value removes the score.
bool ProtocolSession::newScore(std::string_view value)
{
    std::int32_t score = kNoScore;
    if (!value.empty()) {
        std::size_t start = 0;
        while (start < value.size() && isBlank(value[start]))
            ++start;
        if (start < value.size() && value[start] == '+' &&
            (start + 1 == value.size() || value[start + 1] != '-'))
            ++start;
        double pawns = 0;
        const char* end = value.data() + value.size();
        const auto [stop, error] =
            std::from_chars(value.data() + start, end, pawns, std::chars_format::general);
        // A score is a centipawn count that fits the store and is not its "no score" mark.
        const double centipawns = std::trunc(pawns * 100);
        if (error != std::errc{} || stop != end || !std::isfinite(pawns) ||
            centipawns < INT32_MIN || centipawns > INT32_MAX || centipawns == kNoScore)
            return send("-bad score\r\n");
        score = std::int32_t(centipawns);
    }
    if (!m_context.document.setPositionScore(m_position, score, nullptr))
        return send("-score not stored\r\n");
    return send(kOk);
}

// The glyph goes onto the database's edge for the move; the position stays where it is.
bool ProtocolSession::newAnnotation(std::string_view text)
{
    CVezDoc& document = m_context.document;
    MoveGlyph glyph = MoveGlyph::None;
    const Move move = playableMove(m_position, text, document.isNonstandard(), &glyph);
    if (move == Move::None || !document.database())
        return send(kBadMove);
    bool known = false;
    for (const GraphEdge& edge : document.movesFrom(m_position))
        known = known || edge.move == move;
    Position next = m_position;
    makeMove(next, move);
    const DbOffset to = known ? findPosition(next) : 0;
    // A move the database does not know has no edge to carry the glyph.
    if (to == 0)
        return send(kBadMove);
    setMoveGlyph(to, move, glyph);
    document.SetModifiedFlag(true);
    document.UpdateAllViews(nullptr, UpdateHint::MoveGlyph);
    return send(kOk);
}

bool ProtocolSession::rightsReply()
{
    if (!m_access)
        return send(kSorry);
    return send(m_readOnly ? "+rdonly\r\n" : "+open\r\n");
}

bool ProtocolSession::login(std::string_view credentials)
{
    const AccessFlags& flags = m_context.flags;
    const bool allowed = m_local ? flags.localKnownOpen : flags.networkKnownOpen;
    if (!allowed || m_context.passwordFile.empty())
        return rightsReply();
    std::ifstream file(m_context.passwordFile, std::ios::binary);
    if (!file)
        return rightsReply();
    bool matched = false;
    for (std::string line; !matched && std::getline(file, line);) {
        if (line.ends_with('\r'))
            line.pop_back();
        matched = isCredentialLine(line) && line == credentials;
    }
    if (!matched)
        return rightsReply();

    std::string_view name = credentials;
    while (!name.empty() && name.front() == ' ')
        name.remove_prefix(1);
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    m_userName = std::string(name.substr(0, name.find(' ')));
    log(" user " + m_userName + " logged in");
    m_access = true;
    if (m_readOnly)
        m_readOnly = m_local ? flags.localKnownReadOnly : flags.networkKnownReadOnly;
    return rightsReply();
}

} // namespace vez
