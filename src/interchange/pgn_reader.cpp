#include "interchange/pgn_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "chess/fen.h"
#include "chess/notation.h"
#include "interchange/move_check.h"
#include "interchange/pgn_writer.h"
#include "store/codes.h"

namespace vez {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kMessages[] = {
    "no error",
    "not a PGN game",
    "duplicate tag: %s",
    "missing \"Result\" tag",
    "missing tag",
    "missing value for tag %s",
    "unexpected end of file",
    "missing ']' after tag/value pair",
    "bad Result tag value: %s",
    "bad integer (move number): %s",
    "wrong move number: %s",
    "unparseable or illegal move: %s",
    "illegal move: %s",
    "bad annotation",
    "bad FEN starting position: %s",
    "no move before variation",
};

// Variations nest at most this deep; deeper text is refused as a bad annotation rather than
// allowed to exhaust the stack.
constexpr int kMaxVariationDepth = 255;
constexpr std::int64_t kNumberCap = 1000000000;

[[noreturn]] void fail(int code, std::string argument = {})
{
    throw PGNGameException(code, std::move(argument));
}

bool isDigit(int c) { return c >= '0' && c <= '9'; }
bool isLetterOrDigit(int c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
// A token that starts with a digit 1-9 (move number or result) goes on with these.
bool continuesNumberToken(int c) { return isLetterOrDigit(c) || c == '/' || c == '-'; }
// Any other token starting with a letter or digit (a move) ends at these.
bool endsWordToken(int c) { return PgnSource::isSpace(c) || c == '{' || c == '*' || c == ')'; }

std::int64_t saturatedDecimal(std::int64_t value, int digit)
{
    return std::min(value * 10 + digit, kNumberCap);
}

// ---------------------------------------------------------------------------------------
// Start position

bool onlyBlanksFrom(std::string_view text, std::size_t at)
{
    return text.find_first_not_of(" \t", std::min(at, text.size())) == std::string_view::npos;
}

// A FEN written by other programs names the en-passant square ("e3"); we name its file.
// Returns the FEN with the square's rank dropped, or "" when the field is not a square.
std::string withEnPassantFile(std::string_view fen)
{
    std::size_t field = 0;
    for (int i = 0; i < 3; ++i) {
        field = fen.find(' ', field);
        if (field == std::string_view::npos)
            return {};
        ++field;
    }
    if (fen.size() < field + 2 || fen[field] < 'a' || fen[field] > 'h' ||
        (fen[field + 1] != '3' && fen[field + 1] != '6'))
        return {};
    std::string converted(fen);
    converted.erase(field + 1, 1);
    return converted;
}

// Whether a pawn of the side to move stands beside the pawn that has just advanced two
// squares on the en-passant file: the condition under which playing the advance gives the
// en-passant right.
bool enPassantCapturePossible(const Position& pos)
{
    const int rank = pos.sideToMove == kWhite ? 4 : 3;
    const std::uint8_t pawn = makePiece(PieceType::Pawn, pos.sideToMove);
    const int file = pos.enPassantFile;
    return (file > 0 && pos.squares[makeSquare(file - 1, rank)] == pawn) ||
           (file < 7 && pos.squares[makeSquare(file + 1, rank)] == pawn);
}

bool readFenTag(Position& pos, std::string_view fen)
{
    std::size_t cursor = 0;
    if (readFen(pos, fen, cursor) && onlyBlanksFrom(fen, cursor))
        return true;
    const std::string converted = withEnPassantFile(fen);
    cursor = 0;
    if (converted.empty() || !readFen(pos, converted, cursor) || !onlyBlanksFrom(converted, cursor))
        return false;
    if (pos.enPassant == 1 && !enPassantCapturePossible(pos))
        pos.enPassant = 0;
    return true;
}

// ---------------------------------------------------------------------------------------
// Tag section

class TagReader {
public:
    TagReader(Game& game, PgnSource& source) : m_game(game), m_source(source) {}

    void readSection();
    const std::string& terminator() const { return m_terminator; }
    const std::string& fen() const { return m_fen; }

private:
    void readPair();
    void readValue();
    void recoverInnerQuotes();
    void store();
    void storeText(std::string& field);
    void storeResult();

    Game& m_game;
    PgnSource& m_source;
    std::string m_name;
    std::string m_value;
    std::string m_terminator;
    std::string m_fen;
};

void TagReader::readSection()
{
    while (m_source.current() == '[') {
        readPair();
        m_source.skipSpace();
    }
    if (m_terminator.empty())
        m_terminator = "*";
}

void TagReader::readPair()
{
    m_source.nextChar();
    if (!m_source.readSymbol(m_name))
        fail(PGNGameException::MissingTag);
    m_source.skipSpace();
    if (m_source.current() != '"')
        fail(PGNGameException::MissingValue, m_name);
    m_source.nextChar();
    readValue();
    m_source.nextChar();
    m_source.skipSpace();
    if (m_source.current() != ']')
        recoverInnerQuotes();
    m_source.nextChar();
    if (m_value == "?")
        m_value.clear();
    store();
}

// Up to the closing double quote; a backslash makes the next character literal and is
// itself dropped. The value may run over several lines.
void TagReader::readValue()
{
    m_value.clear();
    for (;;) {
        const std::string_view rest = m_source.lineFromCurrent();
        if (rest.empty())
            fail(PGNGameException::UnexpectedEnd);
        const std::size_t stop = rest.find_first_of("\"\\");
        if (stop == std::string_view::npos) {
            m_value.append(rest);
            m_source.skipLineChars(rest.size());
            continue;
        }
        m_value.append(rest.substr(0, stop));
        m_source.skipLineChars(stop);
        if (m_source.current() == '"')
            return;
        m_source.nextChar(); // the backslash
        if (m_source.atEnd())
            fail(PGNGameException::UnexpectedEnd);
        m_value.push_back(static_cast<char>(m_source.current()));
        m_source.nextChar();
    }
}

// The quote just read was not the closing one (no "]" follows): the value holds unescaped
// quotes. It goes on up to "]" or the end of the line; the quote before "]" closes it.
void TagReader::recoverInnerQuotes()
{
    const int expected = m_source.current();
    if (expected == PgnSource::kEnd)
        fail(PGNGameException::UnexpectedEnd);
    m_value.push_back('"');
    while (m_source.current() != ']' && m_source.current() != '\n' && !m_source.atEnd()) {
        m_value.push_back(static_cast<char>(m_source.current()));
        m_source.nextChar();
    }
    if (m_source.current() == ']' && m_value.ends_with('"')) {
        m_value.pop_back();
        return;
    }
    fail(PGNGameException::MissingBracket, std::string(1, static_cast<char>(expected)));
}

void TagReader::storeText(std::string& field)
{
    if (!field.empty())
        fail(PGNGameException::DuplicateTag, m_name);
    field = m_value;
}

void TagReader::storeResult()
{
    if (m_game.result != 0)
        fail(PGNGameException::DuplicateTag, m_name);
    if (m_value.empty()) {
        m_terminator = "?";
        return;
    }
    const auto* found = std::find(kResultTexts.begin(), kResultTexts.end(), m_value);
    if (found == kResultTexts.end())
        fail(PGNGameException::BadResult, m_value);
    m_game.result = static_cast<std::int32_t>(found - kResultTexts.begin());
    m_terminator = m_value;
}

void TagReader::store()
{
    const std::string_view name = m_name;
    if (name == "White"sv)
        return storeText(m_game.white);
    if (name == "Black"sv)
        return storeText(m_game.black);
    if (name == "Event"sv)
        return storeText(m_game.event);
    if (name == "Site"sv)
        return storeText(m_game.site);
    if (name == "ECO"sv)
        return storeText(m_game.eco);
    if (name == "Result"sv)
        return storeResult();
    if (name == "SetUp"sv)
        return;
    if (name == "Round"sv || name == "Date"sv) {
        if (name == "Round"sv ? m_game.round != 0 : m_game.year != 0)
            fail(PGNGameException::DuplicateTag, m_name);
        return m_game.setTag(name, m_value);
    }
    if (name == "FEN"sv) {
        if (!m_fen.empty())
            fail(PGNGameException::DuplicateTag, m_name);
        if (m_value != "under construction"sv)
            m_fen = m_value;
        return;
    }
    for (const TagPair& tag : m_game.tags) {
        if (tag.name == name)
            fail(PGNGameException::DuplicateTag, m_name);
    }
    m_game.tags.push_back({m_name, m_value});
}

// ---------------------------------------------------------------------------------------
// Movetext

class MovetextReader {
public:
    MovetextReader(Game& game, PgnSource& source, bool allowIllegal, OpeningMoves* openings)
        : m_game(game), m_source(source), m_allowIllegal(allowIllegal),
          m_openings(allowIllegal ? nullptr : openings)
    {
    }

    void readLine(GameLine& line, std::string_view terminator, const Position& start,
                  bool checkMoveNumbers);

private:
    void readToken();
    void moveNumber(const GameLine& line, bool check);
    void comment(GameLine& line);
    void glyph(GameLine& line);
    void variation(GameLine& line, const Position& before);
    void move(GameLine& line, Position& pos, Position& before, LineLegality& legality);

    Game& m_game;
    PgnSource& m_source;
    bool m_allowIllegal;
    OpeningMoves* m_openings;
    std::uint32_t m_opening = OpeningMoves::kNone; // the main line's node while it has one
    int m_depth = 0;
    std::string m_token;
    std::string m_comment;
};

void MovetextReader::readLine(GameLine& line, std::string_view terminator, const Position& start,
                              bool checkMoveNumbers)
{
    Position pos = start;
    Position before = start; // the position before the line's last entry
    LineLegality legality(start);
    if (m_openings != nullptr && m_depth == 0 && checkMoveNumbers)
        m_opening = OpeningMoves::kRoot;
    for (;;) {
        m_source.skipSpace();
        if (m_source.atEnd())
            fail(PGNGameException::UnexpectedEnd);
        readToken();
        // Moves differ from the terminator in their first character: that is looked at
        // before the whole of a token the terminator's length.
        if (m_token.size() == terminator.size() && m_token.front() == terminator.front() &&
            m_token == terminator)
            return;
        const char first = m_token[0];
        const bool single = m_token.size() == 1;
        if (first >= '1' && first <= '9')
            moveNumber(line, checkMoveNumbers);
        else if (single && first == '{')
            comment(line);
        else if (single && first == '$')
            glyph(line);
        else if (single && first == '(')
            variation(line, before);
        else
            move(line, pos, before, legality);
    }
}

// A token: a move number or result ("12", "1-0", "1/2-1/2"), a move up to white space, "{",
// "*" or ")" ("Nxf3+", "exd5!?", "O-O-O"), or else a single character. Scanned in the line
// buffer; only a token that runs into the end of a read goes on into the next one.
void MovetextReader::readToken()
{
    const int first = m_source.current();
    m_token.clear();
    if (!isLetterOrDigit(first)) {
        m_token.push_back(static_cast<char>(first));
        m_source.nextChar();
        return;
    }
    const bool number = first >= '1' && first <= '9';
    for (;;) {
        const std::string_view rest = m_source.lineFromCurrent();
        std::size_t length = 0;
        if (number) {
            while (length < rest.size() &&
                   continuesNumberToken(static_cast<unsigned char>(rest[length])))
                ++length;
        } else {
            while (length < rest.size() && !endsWordToken(static_cast<unsigned char>(rest[length])))
                ++length;
        }
        m_token.append(rest.data(), length);
        m_source.skipLineChars(length);
        if (length < rest.size() || m_source.atEnd())
            return;
    }
}

// "12." (White to move) or "12..." (Black): the ply the number stands for must be the
// line's next ply when numbers are checked.
void MovetextReader::moveNumber(const GameLine& line, bool check)
{
    std::int64_t number = 0;
    for (char c : m_token) {
        if (!isDigit(static_cast<unsigned char>(c)))
            fail(PGNGameException::BadMoveNumber, m_token);
        number = saturatedDecimal(number, c - '0');
    }
    std::int64_t ply = 2 * number - 2;
    m_source.skipSpace();
    if (m_source.current() == '.') {
        m_source.nextChar();
        if (m_source.current() == '.') {
            ++ply;
            while (m_source.current() == '.')
                m_source.nextChar();
        }
    }
    if (check && ply != line.endPly)
        fail(PGNGameException::WrongMoveNumber, m_token);
}

// Up to "}", each line feed preceded by a carriage return. It goes to the line's last
// entry, or before the first move of the main line to the game's initial comment; a
// variation has no place for a comment before its first move.
void MovetextReader::comment(GameLine& line)
{
    m_comment.clear();
    for (;;) {
        const std::string_view rest = m_source.lineFromCurrent();
        if (rest.empty())
            fail(PGNGameException::BadAnnotation);
        const std::size_t close = rest.find('}');
        if (close != std::string_view::npos) {
            m_comment.append(rest.substr(0, close));
            m_source.skipLineChars(close + 1);
            break;
        }
        if (rest.back() == '\n') {
            m_comment.append(rest.substr(0, rest.size() - 1));
            m_comment += "\r\n";
        } else {
            m_comment.append(rest);
        }
        m_source.skipLineChars(rest.size());
    }
    std::string* target = !line.entries.empty() ? &line.entries.back().comment
                          : line.mainLine       ? &m_game.initialComment
                                                : nullptr;
    if (!target)
        return;
    if (m_comment.find('\\') != std::string::npos)
        *target += decodeComment(m_comment);
    else
        *target += m_comment;
}

void MovetextReader::glyph(GameLine& line)
{
    std::int64_t value = 0;
    while (isDigit(m_source.current())) {
        value = saturatedDecimal(value, m_source.current() - '0');
        m_source.nextChar();
    }
    if (!line.entries.empty())
        line.entries.back().glyph = static_cast<std::int32_t>(value);
}

void MovetextReader::variation(GameLine& line, const Position& before)
{
    if (line.entries.empty())
        fail(PGNGameException::NoMoveBeforeVariation);
    if (m_depth >= kMaxVariationDepth)
        fail(PGNGameException::BadAnnotation);
    GameLine& sub = m_game.createSubLine(line, line.endPly - 1, SubLinePlace::Last);
    const std::uint32_t opening = m_opening;
    m_opening = OpeningMoves::kNone;
    ++m_depth;
    readLine(sub, ")", before, false);
    --m_depth;
    m_opening = opening;
}

void MovetextReader::move(GameLine& line, Position& pos, Position& before, LineLegality& legality)
{
    // A text of seven characters at most names an opening move: its characters, and its
    // length in the top byte.
    std::uint64_t text = 0;
    if (m_opening != OpeningMoves::kNone && m_token.size() < sizeof text) {
        std::memcpy(&text, m_token.data(), m_token.size());
        text |= std::uint64_t(m_token.size()) << 56;
        if (const std::uint32_t known = m_openings->child(m_opening, text);
            known != OpeningMoves::kNone) {
            const OpeningMove& m = m_openings->value(known);
            before = pos;
            pos = m.after;
            legality = m.legality;
            line.append(m.move, m.glyph, kNoScore);
            m_opening = known;
            return;
        }
    }
    Move parsed = Move::None;
    MoveGlyph glyph = MoveGlyph::None;
    if (!parseMove(pos, parsed, nullptr, &glyph, m_token))
        fail(PGNGameException::BadMove, m_token);
    // Standard chess: the move must be in the legal list (the parser alone lets a pinned
    // piece or the king walk into check). Otherwise any move that can be played.
    const bool accepted = m_allowIllegal ? isPlayable(pos, parsed) : legality.isListed(pos, parsed);
    if (!accepted)
        fail(PGNGameException::IllegalMove, m_token);
    before = pos;
    makeMove(pos, parsed);
    if (!m_allowIllegal)
        legality.played(before, parsed, pos);
    line.append(parsed, static_cast<std::int32_t>(glyph), kNoScore);
    if (m_opening != OpeningMoves::kNone)
        m_opening =
            text != 0 ? m_openings->taken(m_opening, text,
                                          {parsed, static_cast<std::int32_t>(glyph), pos, legality})
                      : OpeningMoves::kNone;
}

} // namespace

PGNGameException::PGNGameException(int code, std::string argument)
    : m_code(code), m_argument(std::move(argument))
{
    const std::string_view format = messageFormat(code);
    const std::size_t slot = format.find("%s");
    if (slot == std::string_view::npos) {
        m_message = format;
    } else {
        m_message = format.substr(0, slot);
        m_message += m_argument;
        m_message += format.substr(slot + 2);
    }
}

std::string_view PGNGameException::messageFormat(int code)
{
    if (code < 0 || code >= static_cast<int>(std::size(kMessages)))
        return {};
    return kMessages[code];
}

bool PGNGameException::getErrorMessage(char* buffer, std::size_t size, unsigned* helpContext) const
{
    if (helpContext)
        *helpContext = 0;
    if (buffer && size > 0) {
        const std::size_t length = std::min(size - 1, m_message.size());
        std::memcpy(buffer, m_message.data(), length);
        buffer[length] = '\0';
    }
    return true;
}

void parseMovetext(Game& game, GameLine& line, PgnSource& source, std::string_view terminator,
                   const Position& start, bool allowIllegal, bool checkMoveNumbers,
                   OpeningMoves* openings)
{
    MovetextReader reader(game, source, allowIllegal, openings);
    reader.readLine(line, terminator, start, checkMoveNumbers);
}

bool readPgnGame(Game& game, PgnSource& source, bool allowIllegal, OpeningMoves* openings)
{
    source.skipSpace();
    if (source.atEnd())
        return false;
    // Text before a game (headings, blank lines) is skipped line by line: a tag section
    // begins at the start of a line.
    while (source.current() != '[') {
        if (!source.nextLine())
            fail(PGNGameException::NotPgn);
    }
    TagReader tags(game, source);
    tags.readSection();
    setStandardStart(game.startPosition);
    if (!tags.fen().empty() && !readFenTag(game.startPosition, tags.fen()))
        fail(PGNGameException::BadFen, tags.fen());
    parseMovetext(game, game, source, tags.terminator(), game.startPosition, allowIllegal,
                  tags.fen().empty(), openings);
    source.consume();
    return true;
}

bool readPgnText(Game& game, std::string text, bool allowIllegal)
{
    game.clear();
    PgnSource source;
    source.openText(std::move(text));
    return readPgnGame(game, source, allowIllegal);
}

} // namespace vez
