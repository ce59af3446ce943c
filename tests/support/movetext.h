// A small reader of PGN files for tests and benchmarks: per game, the starting FEN and the
// main-line move tokens. It is not the product's PGN reader: it checks nothing, keeps no
// tags but FEN, and skips whatever is not a main-line move (comments, variations, NAGs,
// move numbers, stray text after a result). A token it hands out that is no move simply
// ends that game's replay in the caller.
#pragma once

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vez::test {

inline constexpr std::string_view kStandardStartFen =
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

struct PgnGame {
    std::string fen{kStandardStartFen}; // in this system's dialect (en-passant file only)
    std::vector<std::string> moves;     // main-line tokens as written, "Nf3", "e8=Q+", "O-O"
};

// The file's text, at most maxBytes of it; nullopt when it cannot be read.
inline std::optional<std::string> readTextFile(const std::string& path,
                                               std::size_t maxBytes = std::string::npos)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return std::nullopt;
    std::string text(std::min<std::size_t>(maxBytes, std::size_t(in.tellg())), '\0');
    in.seekg(0);
    in.read(text.data(), std::streamsize(text.size()));
    text.resize(std::size_t(in.gcount()));
    return text;
}

// Standard FEN writes the en-passant square ("e3"); this system's FEN the file ("e").
inline std::string toFileEnPassant(std::string_view fen)
{
    std::string out(fen);
    std::size_t at = 0; // the start of the fourth field
    for (int field = 0; field < 3 && at != std::string::npos; ++field)
        at = out.find_first_not_of(' ', out.find(' ', at));
    if (at != std::string::npos && at + 1 < out.size() && out[at] >= 'a' && out[at] <= 'h' &&
        out[at + 1] >= '1' && out[at + 1] <= '8')
        out.erase(at + 1, 1);
    return out;
}

// Splits PGN text into games. A tag line after movetext or a result starts the next game.
class PgnMovetextReader {
public:
    explicit PgnMovetextReader(std::string_view text) : m_text(text) {}

    // The next game with at least one tag or token; false at the end of the text.
    bool next(PgnGame& game)
    {
        game = PgnGame{};
        bool started = false;  // a tag or a token belongs to this game
        bool movetext = false; // a token or a result has been seen
        bool finished = false; // the result has been seen: ignore text up to the next tag
        int depth = 0;         // variation nesting
        while (m_at < m_text.size()) {
            const char c = m_text[m_at];
            if (c == '[' && (!movetext || atLineStart())) {
                if (movetext)
                    return true; // the next game's tags
                readTag(game);
                started = true;
            } else if (c == '%' && atLineStart()) {
                skipPast('\n');
            } else if (c == '{') {
                skipPast('}');
            } else if (c == ';') {
                skipPast('\n');
            } else if (c == '(') {
                ++depth;
                ++m_at;
            } else if (c == ')') {
                depth = depth > 0 ? depth - 1 : 0;
                ++m_at;
            } else if (isSpace(c)) {
                ++m_at;
            } else {
                const std::string_view token = readToken();
                if (depth > 0 || finished)
                    continue;
                started = movetext = true;
                if (isResult(token))
                    finished = true;
                else if (std::string_view move = stripMoveNumber(token); isMove(move))
                    game.moves.emplace_back(move);
            }
        }
        return started;
    }

private:
    static bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    static bool isResult(std::string_view token)
    {
        return token == "1-0" || token == "0-1" || token == "1/2-1/2" || token == "*";
    }

    // "12." "12..." "1.e4" "...Be7": the number and dots go, the move stays.
    static std::string_view stripMoveNumber(std::string_view token)
    {
        std::size_t i = 0;
        while (i < token.size() && isDigit(token[i]))
            ++i;
        if (i < token.size() && token[i] != '.')
            i = 0; // "0-0" is castling, not a number
        while (i < token.size() && token[i] == '.')
            ++i;
        return token.substr(i);
    }

    // NAGs ("$14") and stray evaluation signs ("+/-", "!?") are no moves.
    static bool isMove(std::string_view token)
    {
        const char c = token.empty() ? ' ' : token[0];
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '0';
    }

    bool atLineStart() const
    {
        std::size_t i = m_at;
        while (i > 0 && (m_text[i - 1] == ' ' || m_text[i - 1] == '\t'))
            --i;
        return i == 0 || m_text[i - 1] == '\n' || m_text[i - 1] == '\r';
    }

    void skipPast(char end)
    {
        const std::size_t found = m_text.find(end, m_at + 1);
        m_at = found == std::string_view::npos ? m_text.size() : found + 1;
    }

    std::string_view readToken()
    {
        const std::size_t start = m_at;
        while (m_at < m_text.size() && !isSpace(m_text[m_at]) &&
               std::string_view("{}();[").find(m_text[m_at]) == std::string_view::npos)
            ++m_at;
        if (m_at == start)
            ++m_at; // a lone "]" or "}": skip it
        return m_text.substr(start, m_at - start);
    }

    // [Name "value"]; only FEN is kept.
    void readTag(PgnGame& game)
    {
        const std::size_t end = m_text.find('\n', m_at);
        const std::string_view line = m_text.substr(
            m_at, end == std::string_view::npos ? std::string_view::npos : end - m_at);
        m_at = end == std::string_view::npos ? m_text.size() : end + 1;
        const std::size_t open = line.find('"');
        const std::size_t close = line.rfind('"');
        if (line.substr(1, 4) == "FEN " && open != close)
            game.fen = toFileEnPassant(line.substr(open + 1, close - open - 1));
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

} // namespace vez::test
