#include "uci_adapter.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"

namespace vez {

namespace {

constexpr std::string_view kBlanks = " \t\r\n";

std::string_view trim(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Splits off the first word; text keeps the rest, trimmed.
std::string_view takeWord(std::string_view& text)
{
    text = trim(text);
    const std::size_t blank = text.find_first_of(kBlanks);
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view{} : trim(text.substr(blank));
    return word;
}

long long readNumber(std::string_view word, long long fallback)
{
    long long value = 0;
    const auto result = std::from_chars(word.data(), word.data() + word.size(), value);
    return result.ec == std::errc{} && result.ptr == word.data() + word.size() ? value : fallback;
}

// Settings of the engine we stand in for that mean nothing to a UCI engine: accepted and
// ignored.
bool isIgnoredSetting(std::string_view word)
{
    static constexpr std::string_view kIgnored[] = {
        "log",    "ansi",   "verbose", "display", "noise", "ponder", "xboard",   "post",
        "nopost", "hash",   "hashp",   "book",    "bell",  "resign", "name",     "computer",
        "otim",   "random", "easy",    "hard",    "egtb",  "learn",  "protover", "accepted"};
    return std::find(std::begin(kIgnored), std::end(kIgnored), word) != std::end(kIgnored);
}

// A position a UCI engine can search: one king a side, no pawn on the first or last rank,
// and the side not to move not in check.
bool isPlayable(const Position& pos)
{
    int kings[2] = {0, 0};
    for (int square = 0; square < 64; ++square) {
        const std::uint8_t piece = pos.squares[square];
        if (typeOf(piece) == PieceType::King)
            ++kings[colourOf(piece)];
        if (typeOf(piece) == PieceType::Pawn && (rankOf(square) == 0 || rankOf(square) == 7))
            return false;
    }
    if (kings[kWhite] != 1 || kings[kBlack] != 1)
        return false;
    Position other = pos;
    other.sideToMove = 1 - pos.sideToMove;
    return !isAttacked(other, findKing(other));
}

std::string scoreText(bool mate, long long value)
{
    char text[32];
    if (mate)
        std::snprintf(text, sizeof text, "%sM%lld", value > 0 ? "+" : "-", std::llabs(value));
    else
        std::snprintf(text, sizeof text, "%+.2f", double(value) / 100.0);
    return text;
}

// The PV in SAN with move numbers, each move followed by a blank.
std::string sanLine(Position pos, int moveNumber, const std::vector<std::string_view>& pv)
{
    std::string text;
    bool first = true;
    for (const std::string_view uci : pv) {
        const Move move = readUciMove(pos, uci);
        if (move == Move::None)
            break;
        if (pos.sideToMove == kWhite)
            text += std::to_string(moveNumber) + ". ";
        else if (first)
            text += std::to_string(moveNumber) + ". ... ";
        text += formatMove(pos, move, false, MoveGlyph::None, false) + " ";
        if (pos.sideToMove == kBlack)
            ++moveNumber;
        makeMove(pos, move);
        first = false;
    }
    return text;
}

} // namespace

std::string uciFen(const Position& pos, int moveNumber)
{
    std::string fen = writeFen(pos, 0, 0, true);
    fen.resize(fen.find(' ') + 3); // board and side to move
    const auto at = [&pos](int square, PieceType type, int colour) {
        return pos.squares[square] == makePiece(type, colour);
    };
    std::string castling;
    const bool whiteKing = at(4, PieceType::King, kWhite);
    const bool blackKing = at(60, PieceType::King, kBlack);
    if (whiteKing && !pos.castleKingsideLost[kWhite] && at(7, PieceType::Rook, kWhite))
        castling += 'K';
    if (whiteKing && !pos.castleQueensideLost[kWhite] && at(0, PieceType::Rook, kWhite))
        castling += 'Q';
    if (blackKing && !pos.castleKingsideLost[kBlack] && at(63, PieceType::Rook, kBlack))
        castling += 'k';
    if (blackKing && !pos.castleQueensideLost[kBlack] && at(56, PieceType::Rook, kBlack))
        castling += 'q';
    fen += castling.empty() ? "-" : castling;
    if (pos.enPassant) {
        fen += ' ';
        fen += char('a' + (pos.enPassantFile & 7));
        fen += pos.sideToMove == kWhite ? '6' : '3';
    } else {
        fen += " -";
    }
    return fen + " 0 " + std::to_string(moveNumber < 1 ? 1 : moveNumber);
}

Move readUciMove(const Position& pos, std::string_view text)
{
    if (text.size() != 4 && text.size() != 5)
        return Move::None;
    std::string coordinates(text.substr(0, 4));
    if (text.size() == 5)
        coordinates += char(std::toupper(static_cast<unsigned char>(text[4])));
    Move move = Move::None;
    if (!parseMove(pos, move, nullptr, nullptr, coordinates) || !isLegalMove(pos, move))
        return Move::None;
    return move;
}

std::string uciMoveText(const Position& pos, Move move)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    std::string text{char('a' + fileOf(from)), char('1' + rankOf(from)), char('a' + fileOf(to)),
                     char('1' + rankOf(to))};
    if (typeOf(pos.squares[from]) == PieceType::Pawn && pieceTypeOf(move) != PieceType::Pawn)
        text += " pnbrqk"[int(pieceTypeOf(move))];
    return text;
}

UciAdapter::UciAdapter(Output toDialogue, Output toEngine, double timeScale)
    : m_toDialogue(std::move(toDialogue)), m_toEngine(std::move(toEngine)), m_timeScale(timeScale)
{
    setStandardStart(m_board);
    m_baseFen = uciFen(m_board, 1);
}

void UciAdapter::begin() { prompt(); }

bool UciAdapter::command(std::string_view line)
{
    line = trim(line);
    if (line.empty())
        return true;
    std::string_view rest = line;
    const std::string_view word = takeWord(rest);
    if (word == "quit") {
        stopSearch(false);
        m_toEngine("quit\n");
        return false;
    }
    if (m_searching) {
        // "?" asks for the move now; anything else ends the search without a move and is
        // handled once the engine has stopped.
        if (word == "?") {
            stopSearch(true);
        } else {
            m_deferred.emplace_back(line);
            stopSearch(false);
        }
        return true;
    }
    handle(line);
    if (!m_searching)
        prompt();
    return true;
}

void UciAdapter::handle(std::string_view line)
{
    std::string_view rest = line;
    const std::string_view word = takeWord(rest);
    if (word == "?") {
        return; // nothing to interrupt
    } else if (word == "new") {
        newGame();
    } else if (word == "go") {
        m_engineSide = m_board.sideToMove;
        startSearch();
    } else if (word == "setboard") {
        setBoard(rest);
    } else if (word == "time") {
        setTime(rest);
    } else if (word == "force") {
        force(rest);
    } else if (word == "kibitz") {
        m_kibitz = readNumber(rest, 1) != 0;
    } else if (!isIgnoredSetting(word)) {
        userMove(line);
    }
}

void UciAdapter::newGame()
{
    setStandardStart(m_board);
    m_moveNumber = 1;
    m_baseFen = uciFen(m_board, 1);
    m_played.clear();
    m_engineSide = kBlack;
    m_engineMoved = false;
    m_toEngine("ucinewgame\n");
}

void UciAdapter::setBoard(std::string_view fen)
{
    // This system's FEN names the en-passant file alone; a standard square is taken too.
    std::string text(fen);
    std::size_t field = 0;
    for (int blanks = 0; field < text.size() && blanks < 3; ++field)
        blanks += text[field] == ' ';
    if (field + 1 < text.size() && text[field] >= 'a' && text[field] <= 'h' &&
        (text[field + 1] == '3' || text[field + 1] == '6'))
        text.erase(field + 1, 1);
    Position pos;
    int moveNumber = 0;
    if (!readFen(pos, text, nullptr, &moveNumber) || !isPlayable(pos)) {
        error("illegal position: " + std::string(fen));
        return;
    }
    m_board = pos;
    m_moveNumber = moveNumber < 1 ? 1 : moveNumber;
    m_baseFen = uciFen(m_board, m_moveNumber);
    m_played.clear();
    m_engineMoved = false;
}

void UciAdapter::setTime(std::string_view values)
{
    long long numbers[3] = {0, 0, 0};
    for (long long& number : numbers) {
        const std::size_t slash = values.find('/');
        number = readNumber(trim(values.substr(0, slash)), -1);
        values = slash == std::string_view::npos ? std::string_view{} : values.substr(slash + 1);
    }
    if (numbers[0] < 1 || numbers[1] < 0 || numbers[2] < 0) {
        error("time needs moves/minutes/increment");
        return;
    }
    m_moveTimeMs = numbers[1] * 60000 / numbers[0];
}

void UciAdapter::force(std::string_view moveText)
{
    // The given move replaces the engine's own last move.
    if (m_engineMoved) {
        m_board = m_beforeEngineMove;
        m_moveNumber = m_numberBeforeEngineMove;
        m_played.pop_back();
        m_engineMoved = false;
    }
    Move move = Move::None;
    if (!parseMove(m_board, move, nullptr, nullptr, moveText) || !isLegalMove(m_board, move)) {
        error("illegal move: " + std::string(moveText));
        return;
    }
    playMove(move);
}

void UciAdapter::userMove(std::string_view text)
{
    // The parser judges only the geometry of piece moves; the legal list decides.
    Move move = Move::None;
    if (!parseMove(m_board, move, nullptr, nullptr, text)) {
        error("unknown command: " + std::string(text));
        return;
    }
    if (!isLegalMove(m_board, move)) {
        error("illegal move: " + std::string(text));
        return;
    }
    playMove(move);
    if (m_engineSide == m_board.sideToMove)
        startSearch();
}

void UciAdapter::playMove(Move move)
{
    m_played.push_back(uciMoveText(m_board, move));
    if (m_board.sideToMove == kBlack)
        ++m_moveNumber;
    makeMove(m_board, move);
    m_engineMoved = false;
}

void UciAdapter::startSearch()
{
    MoveList list;
    if (legalMoves(m_board, list, false) == 0) {
        error("no legal move in this position");
        return;
    }
    std::string position = "position fen " + m_baseFen;
    if (!m_played.empty()) {
        position += " moves";
        for (const std::string& move : m_played)
            position += " " + move;
    }
    const long long time = std::max(1LL, std::llround(double(m_moveTimeMs) * m_timeScale));
    m_toEngine(position + "\n");
    m_toEngine("go movetime " + std::to_string(time) + "\n");
    m_searching = true;
    m_stopSent = false;
    m_discardResult = false;
}

void UciAdapter::stopSearch(bool keepResult)
{
    if (!m_searching || m_stopSent)
        return;
    m_toEngine("stop\n");
    m_stopSent = true;
    m_discardResult = !keepResult;
}

void UciAdapter::engineLine(std::string_view line)
{
    line = trim(line);
    if (line.starts_with("info "))
        searchInfo(line);
    else if (line.starts_with("bestmove"))
        bestMove(line);
}

void UciAdapter::searchInfo(std::string_view line)
{
    if (!m_searching || m_discardResult || !m_kibitz)
        return;
    long long depth = -1, nodes = 0, timeMs = 0, score = 0;
    bool hasScore = false, mate = false, bound = false;
    std::vector<std::string_view> pv;
    std::string_view rest = line;
    takeWord(rest); // "info"
    while (!rest.empty()) {
        const std::string_view word = takeWord(rest);
        if (word == "depth") {
            depth = readNumber(takeWord(rest), -1);
        } else if (word == "nodes") {
            nodes = readNumber(takeWord(rest), 0);
        } else if (word == "time") {
            timeMs = readNumber(takeWord(rest), 0);
        } else if (word == "multipv") {
            bound = bound || readNumber(takeWord(rest), 1) != 1;
        } else if (word == "score") {
            mate = takeWord(rest) == "mate";
            score = readNumber(takeWord(rest), 0);
            hasScore = true;
        } else if (word == "lowerbound" || word == "upperbound") {
            bound = true;
        } else if (word == "pv") {
            while (!rest.empty())
                pv.push_back(takeWord(rest));
        }
    }
    if (depth < 0 || !hasScore || bound || pv.empty())
        return;
    const long long seconds = timeMs / 1000;
    char head[64];
    std::snprintf(head, sizeof head, "kibitz d%lld %lld:%02lld ", depth, seconds / 60,
                  seconds % 60);
    say(head + scoreText(mate, score) + " " + sanLine(m_board, m_moveNumber, pv) + "(" +
        std::to_string(nodes) + " nodes)");
}

void UciAdapter::bestMove(std::string_view line)
{
    if (!m_searching)
        return;
    m_searching = false;
    std::string_view rest = line;
    takeWord(rest); // "bestmove"
    const std::string_view text = takeWord(rest);
    if (!m_discardResult) {
        const Move move = readUciMove(m_board, text);
        if (move == Move::None) {
            error("the engine gave no move: " + std::string(text));
        } else {
            const Position before = m_board;
            const int number = m_moveNumber;
            const std::string san = formatMove(m_board, move, false, MoveGlyph::None, false);
            playMove(move);
            m_engineMoved = true;
            m_beforeEngineMove = before;
            m_numberBeforeEngineMove = number;
            say("\a" + std::string(before.sideToMove == kWhite ? "White(" : "Black(") +
                std::to_string(number) + "): " + san);
        }
    }
    while (!m_searching && !m_deferred.empty()) {
        const std::string next = std::move(m_deferred.front());
        m_deferred.pop_front();
        handle(next);
    }
    if (!m_searching)
        prompt();
}

void UciAdapter::say(std::string_view line)
{
    if (m_promptOpen)
        m_toDialogue("\n");
    m_promptOpen = false;
    m_toDialogue(std::string(line) + "\n");
}

void UciAdapter::prompt()
{
    if (m_promptOpen)
        return;
    m_toDialogue(std::string(m_board.sideToMove == kWhite ? "White(" : "Black(") +
                 std::to_string(m_moveNumber) + "): ");
    m_promptOpen = true;
}

void UciAdapter::error(std::string_view text) { say("ERROR: " + std::string(text)); }

} // namespace vez
