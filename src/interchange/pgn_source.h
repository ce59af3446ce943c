// The character source of the PGN reader: a file or a text, handed out line by line and
// character by character, with the line numbers and line texts that error reports show and
// the mark that lets the import go back to the start of a bad game.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace vez {

class PgnSink;

class PgnSource {
public:
    static constexpr int kEnd = -1;
    // One read takes a line up to and including its line feed, at most this many
    // characters; a longer physical line goes on in the next read, which counts as a line.
    static constexpr int kLineCapacity = 511;

    PgnSource() = default;
    PgnSource(const PgnSource&) = delete;
    PgnSource& operator=(const PgnSource&) = delete;

    // Opening restarts reading at line 1. A UTF-8 byte-order mark at the very start is not
    // part of the text. False when the file cannot be opened (errno tells why).
    bool openFile(const std::filesystem::path& path);
    void openText(std::string text);

    // The current character (0..255), or kEnd once the input is exhausted. Line ends (LF,
    // CR LF or a lone CR) are handed out as one line feed.
    int current() const { return m_current; }
    bool atEnd() const { return m_current == kEnd; }

    // The next character of the line; at its end the next line is read, skipping lines that
    // begin with "%" (PGN escape lines). Only a physical line can be an escape line: a read
    // that goes on with a long line is text wherever that line happens to be cut.
    void nextChar()
    {
        if (m_next != m_lineLength)
            m_current = static_cast<unsigned char>(m_line[m_next++]);
        else
            advanceLine();
    }
    void skipSpace()
    {
        while (isSpace(m_current))
            nextChar();
    }
    // Drops the rest of the physical line (with any reads that go on with it) and reads the
    // next one, leaving its first character current; false at the end of the input. Where a
    // line begins is where tags and games begin, never inside a long line.
    bool nextLine();
    // After skipSpace: a letter followed by letters, digits and "_"; false (nothing read)
    // when no letter starts it.
    bool readSymbol(std::string& symbol);
    // The unread rest of the current line, starting with the current character (empty at
    // the end of the input); `skipLineChars` then hands out the character after a prefix of
    // it. The reader scans tokens, comments and values in place this way.
    std::string_view lineFromCurrent() const;
    void skipLineChars(std::size_t count);

    // The number of the current line (from 1), and its text without the line feed.
    int lineNumber() const { return m_lineBase + m_linesRead - 1; }
    std::string_view currentLineText() const;
    // How far the input has been read, in bytes (for progress reports).
    std::uint64_t position() const { return m_dataOffset + m_scan; }
    // Where reading last restarted: the first byte of the current game's text.
    std::uint64_t markOffset() const { return m_mark; }

    // After a game: the lines read are counted into the line base, the rest of the current
    // physical line is dropped and reading restarts at the next line, which becomes the mark.
    void consume();
    // Goes back to the mark and reads from there again with the same line numbers.
    void rewindToMark();
    // From the mark, appends `count` lines (as numbered) verbatim to the sink.
    void copyLines(PgnSink& sink, int count);
    // Error recovery, called after rewindToMark: passes the bad game (any text before its
    // tags, the tag lines, then everything up to the next line that begins with "[") and
    // stops at the next game or the end. With a sink, the skipped lines are copied to it.
    // The mark then moves to the next game, so that a following bad game is skipped from
    // its own start.
    void skipGame(PgnSink* sink = nullptr);

    static bool isSpace(int c)
    {
        return c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f';
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;

    void open(std::uint64_t start);
    void restart();
    void markCurrentLine();
    bool readLine();
    bool takeLine();
    bool skipToLineStart();
    void advanceLine();
    bool fillFrom(std::uint64_t offset);
    bool topUp();

    // The input: the whole text, or a window of the file read in chunks. m_data holds the
    // bytes from input offset m_dataOffset on; m_scan is where the next line starts.
    std::string m_text;
    std::ifstream m_file;
    bool m_fromFile = false;
    bool m_fileEnded = false;
    std::vector<char> m_buffer;
    const char* m_data = nullptr;
    std::size_t m_dataSize = 0;
    std::uint64_t m_dataOffset = 0;
    std::size_t m_scan = 0;
    std::uint64_t m_mark = 0;
    bool m_markStartsLine = true;
    std::uint64_t m_lineOffset = 0; // input offset of the line in the buffer

    // The line buffer: one read, its line end made a line feed.
    char m_line[kLineCapacity + 1] = {};
    std::size_t m_lineLength = 0;
    std::size_t m_next = 0;
    int m_current = kEnd;
    // Whether the read in the buffer begins a physical line, and whether the next one will.
    bool m_lineStart = true;
    bool m_nextStartsLine = true;

    int m_lineBase = 1;
    int m_linesRead = 0;
};

} // namespace vez
