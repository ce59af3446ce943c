#include "engine/engine_dialogue.h"

#include <charconv>
#include <cmath>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"

namespace vez {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::string_view trimLeft(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(kBlanks);
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::string_view trimRight(std::string_view text)
{
    const std::size_t last = text.find_last_not_of(kBlanks);
    return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

// Splits off the first word (up to the first blank); text keeps what follows that blank.
std::string_view takeWord(std::string_view& text)
{
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view{} : text.substr(blank + 1);
    return word;
}

// Elapsed time as seconds ("65") or minutes and seconds ("1:05"); -1 when not a time.
int elapsedSeconds(std::string_view word)
{
    int total = 0;
    const char* at = word.data();
    const char* end = word.data() + word.size();
    for (int part = 0; part < 2; ++part) {
        int value = 0;
        const auto result = std::from_chars(at, end, value);
        if (result.ec != std::errc{} || value < 0)
            return -1;
        total = total * 60 + value;
        at = result.ptr;
        if (at == end || *at != ':')
            break;
        ++at;
    }
    return total;
}

// A move the engine printed, read in the board's position. The parser judges only the
// geometry of piece moves, so legality is checked against the legal move list.
bool readEngineMove(const Position& board, std::string_view text, Move& move)
{
    return parseMove(board, move, nullptr, nullptr, trimLeft(text)) && isLegalMove(board, move);
}

} // namespace

EngineDialogue::EngineDialogue() { setStandardStart(m_board); }

void EngineDialogue::setBoard(const Position& board)
{
    std::lock_guard lock(m_lock);
    m_board = board;
}

Position EngineDialogue::board() const
{
    std::lock_guard lock(m_lock);
    return m_board;
}

void EngineDialogue::setBeep(bool beep)
{
    std::lock_guard lock(m_lock);
    m_beep = beep;
}

void EngineDialogue::setGameAnalysis(bool gameAnalysis)
{
    std::lock_guard lock(m_lock);
    m_gameAnalysis = gameAnalysis;
}

std::string EngineDialogue::scoreText() const
{
    std::lock_guard lock(m_lock);
    return m_scoreText;
}

std::string EngineDialogue::pvText() const
{
    std::lock_guard lock(m_lock);
    return m_pvText;
}

std::string EngineDialogue::commentText() const
{
    std::lock_guard lock(m_lock);
    return m_commentText;
}

Move EngineDialogue::pendingMove() const
{
    std::lock_guard lock(m_lock);
    return m_pendingMove;
}

void EngineDialogue::resetTexts()
{
    m_scoreText.clear();
    m_pvText.clear();
    m_commentText.clear();
}

void EngineDialogue::SendSetup(const EngineWriter& write, std::string_view commands,
                               const TimeControl& time)
{
    std::string block;
    for (const char c : commands) {
        if (c != '\r')
            block += c;
    }
    write(block);
    write(timeCommand(time));
    std::lock_guard lock(m_lock);
    resetTexts();
    m_previousScore = 0;
    m_pendingMove = Move::None;
}

void EngineDialogue::SendPosition(const EngineWriter& write)
{
    std::string command;
    {
        std::lock_guard lock(m_lock);
        resetTexts();
        command = "setboard " + setboardFen(m_board) + "\ngo\n";
    }
    write(command);
}

void EngineDialogue::deliverPendingMove(EngineRecord& record)
{
    if (m_pendingMove == Move::None)
        return;
    record.move = m_pendingMove;
    record.moveMade = 1;
    m_pendingMove = Move::None;
}

bool EngineDialogue::takeEngineMove(std::string_view text, EngineRecord& record)
{
    Move move = Move::None;
    if (readEngineMove(m_board, text, move)) {
        m_pendingMove = move;
        return false;
    }
    record.stop = 1;
    return true;
}

void EngineDialogue::readKibitz(std::string_view text, EngineRecord& record)
{
    if (text.starts_with("pv: ")) {
        m_pvText = text.substr(4);
        return;
    }
    if (!text.starts_with('d')) {
        m_commentText = text;
        return;
    }
    // "d<depth> <time> <score> <pv>", or "d<depth>; <score>" which leaves the PV alone.
    const std::string_view depth = takeWord(text);
    if (!depth.ends_with(';')) {
        const int seconds = elapsedSeconds(takeWord(text));
        if (!m_gameAnalysis)
            record.progressSeconds = seconds;
        std::string_view pv = text;
        takeWord(pv);
        m_pvText = trimLeft(pv);
    }
    std::string_view score = text.substr(0, text.find(' '));
    if (score.ends_with(';'))
        score.remove_suffix(1);
    m_scoreText = score;
    record.newScore = 1;
    deliverPendingMove(record);
}

bool EngineDialogue::readMoveNumberLine(std::string_view line, EngineRecord& record)
{
    if (line.front() == '*')
        return takeEngineMove(line.substr(1), record);
    int number = 0;
    const auto result = std::from_chars(line.data(), line.data() + line.size(), number);
    const std::string_view rest = line.substr(std::size_t(result.ptr - line.data()));
    return result.ec == std::errc{} && number > 0 && rest.starts_with(". ... ") &&
           takeEngineMove(rest.substr(6), record);
}

ParsedLine EngineDialogue::ParseEngineLine(std::string_view line, int stream)
{
    std::lock_guard lock(m_lock);
    ParsedLine parsed;
    parsed.sound = stream == 1 ? EngineSound::Exclamation
                   : m_beep    ? EngineSound::Simple
                               : EngineSound::None;
    while (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    line = trimRight(line);
    if (line.empty())
        return parsed;

    EngineRecord& record = parsed.record;
    record.moveMade = record.stop = stream;
    bool send = true;
    if (const std::size_t kibitz = line.find("kibitz"); kibitz != std::string_view::npos) {
        readKibitz(trimLeft(line.substr(kibitz + 6)), record);
    } else if (stream == 1 || line.starts_with("Crafty")) {
        m_commentText = line;
    } else if (line.starts_with("whisper ")) {
        m_commentText = line.substr(7);
    } else if (line.starts_with("ERROR")) {
        m_commentText = line;
        record.moveMade = record.stop = 1;
    } else if (line.find("White(") != std::string_view::npos ||
               line.find("Black(") != std::string_view::npos) {
        // After a bell the prompt is followed by the engine's move; a plain prompt (perhaps
        // repeated in front of later text) hands over a pending move.
        const std::size_t prompt = line.find("): ");
        if (line.front() != '\a')
            deliverPendingMove(record);
        else if (prompt == std::string_view::npos)
            record.stop = 1;
        else
            send = takeEngineMove(line.substr(prompt + 3), record);
    } else if (line.front() == '*' || (line.front() >= '0' && line.front() <= '9')) {
        send = readMoveNumberLine(line, record);
    } else {
        send = false;
    }
    parsed.send = send && !stopping();
    if (parsed.send) {
        record.scoreText = m_scoreText;
        record.pvText = m_pvText;
        record.commentText = m_commentText;
    }
    return parsed;
}

ScoreSwing EngineDialogue::takeScore(std::string_view shown, bool whiteToMove)
{
    ScoreSwing score;
    score.value = scoreValue(shown, m_previousScore);
    score.centipawns = int(std::trunc(score.value * 100));
    score.swing = score.value - m_previousScore;
    m_previousScore = score.value;
    if (whiteToMove)
        score.swing = -score.swing;
    return score;
}

std::string setboardFen(const Position& board)
{
    std::string fen = writeFen(board, 0, 0, true);
    while (fen.ends_with(" -"))
        fen.resize(fen.size() - 2);
    return fen;
}

std::string shownScore(std::string_view scoreText, bool blackToMove)
{
    std::string text(scoreText);
    if (text.size() > 3 && text.starts_with(">(") && text.ends_with(')'))
        text = text.substr(2, text.size() - 3);
    if (blackToMove) {
        if (text.starts_with('-'))
            text[0] = '+';
        else if (text.starts_with('+'))
            text[0] = '-';
        else
            text.insert(0, 1, '-');
    }
    return text;
}

double scoreValue(std::string_view shown, double previous)
{
    if (shown.starts_with('M') || shown.starts_with("+M"))
        return 9999.0;
    if (shown.starts_with("-M"))
        return -9999.0;
    if (shown.empty())
        return 0.0;
    std::string_view number = shown;
    if (number.starts_with('+'))
        number.remove_prefix(1);
    double value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value,
                                        std::chars_format::fixed);
    if (result.ec != std::errc{} || result.ptr != number.data() + number.size())
        return previous;
    return value;
}

std::vector<Move> pvMoves(const Position& board, std::string_view pvText, int saveCount)
{
    std::vector<Move> moves;
    Position position = board;
    std::string_view text = trimLeft(pvText);
    while (int(moves.size()) < saveCount + 1) {
        const std::size_t blank = text.find(' ');
        if (blank == std::string_view::npos)
            break; // the last word has no blank behind it
        const std::string_view word = text.substr(0, blank);
        text.remove_prefix(blank + 1);
        const bool letter = !word.empty() && ((word.front() >= 'a' && word.front() <= 'z') ||
                                              (word.front() >= 'A' && word.front() <= 'Z'));
        if (!letter)
            continue;
        Move move = Move::None;
        if (!readEngineMove(position, word, move))
            break;
        makeMove(position, move);
        moves.push_back(move);
    }
    return moves;
}

MoveGlyph glyphForSwing(double swing, double margin1, double margin2)
{
    if (swing <= -margin2)
        return MoveGlyph::Blunder;
    if (swing <= -margin1)
        return MoveGlyph::Mistake;
    if (swing >= margin2)
        return MoveGlyph::Brilliant;
    if (swing >= margin1)
        return MoveGlyph::Good;
    return MoveGlyph::None;
}

} // namespace vez
