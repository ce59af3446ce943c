#include "interchange/pgn_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "interchange/pgn_writer.h"

namespace vez {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

} // namespace

bool PgnSource::openFile(const std::filesystem::path& path)
{
    m_text.clear();
    m_file.close();
    m_file.clear();
    m_file.open(path, std::ios::binary);
    if (!m_file.is_open()) {
        const int reason = errno;
        openText({}); // nothing to read
        errno = reason;
        return false;
    }
    m_fromFile = true;
    m_buffer.resize(kChunk);
    fillFrom(0);
    open(m_dataSize >= 3 && std::string_view(m_data, 3) == kByteOrderMark ? 3 : 0);
    return true;
}

void PgnSource::openText(std::string text)
{
    m_file.close();
    m_fromFile = false;
    m_text = std::move(text);
    m_data = m_text.data();
    m_dataSize = m_text.size();
    m_dataOffset = 0;
    open(std::string_view(m_text).starts_with(kByteOrderMark) ? 3 : 0);
}

void PgnSource::open(std::uint64_t start)
{
    m_lineBase = 1;
    m_mark = start;
    m_markStartsLine = true;
    rewindToMark();
}

// Reads the file from `offset` into the buffer; the window then starts there.
bool PgnSource::fillFrom(std::uint64_t offset)
{
    m_file.clear();
    m_file.seekg(static_cast<std::streamoff>(offset));
    m_file.read(m_buffer.data(), static_cast<std::streamsize>(m_buffer.size()));
    m_dataSize = static_cast<std::size_t>(std::max<std::streamsize>(m_file.gcount(), 0));
    m_fileEnded = m_dataSize < m_buffer.size();
    m_data = m_buffer.data();
    m_dataOffset = offset;
    m_scan = 0;
    return m_dataSize > 0;
}

// Makes sure a whole line (or the rest of the file) lies in the window from m_scan on.
bool PgnSource::topUp()
{
    if (!m_fromFile || m_fileEnded || m_dataSize - m_scan > kLineCapacity + 1)
        return m_scan < m_dataSize;
    const std::size_t kept = m_dataSize - m_scan;
    std::memmove(m_buffer.data(), m_buffer.data() + m_scan, kept);
    m_dataOffset += m_scan;
    m_scan = 0;
    m_file.read(m_buffer.data() + kept, static_cast<std::streamsize>(m_buffer.size() - kept));
    const std::size_t got = static_cast<std::size_t>(std::max<std::streamsize>(m_file.gcount(), 0));
    m_dataSize = kept + got;
    m_fileEnded = m_dataSize < m_buffer.size();
    return m_dataSize > 0;
}

// Copies the next physical line (or its first kLineCapacity characters) into the line
// buffer. A line ends in a line feed, a carriage return and line feed, or a carriage return
// alone (old Macintosh files); in the buffer it always ends in a line feed.
bool PgnSource::takeLine()
{
    if (!topUp())
        return false;
    const char* begin = m_data + m_scan;
    const std::size_t available = m_dataSize - m_scan;
    const std::size_t window = std::min(available, std::size_t{kLineCapacity + 1});
    // A line feed is looked for first, then a carriage return before it (most files have
    // none): two scans of the library's, many bytes at a time.
    const char* end = static_cast<const char*>(std::memchr(begin, '\n', window));
    if (end == nullptr)
        end = begin + window;
    if (const void* cr = std::memchr(begin, '\r', std::size_t(end - begin)))
        end = static_cast<const char*>(cr);
    const std::size_t at = static_cast<std::size_t>(end - begin);
    std::size_t raw = 0;
    std::size_t length = 0;
    // The line's text and its line feed must fit the buffer; a longer line goes on in the
    // next read.
    if (at < window && at < kLineCapacity) {
        const bool crlf = *end == '\r' && at + 1 < available && end[1] == '\n';
        raw = at + (crlf ? 2 : 1);
        std::memcpy(m_line, begin, at);
        m_line[at] = '\n';
        length = at + 1;
    } else {
        raw = std::min(available, std::size_t{kLineCapacity});
        std::memcpy(m_line, begin, raw);
        length = raw;
    }
    m_line[length] = '\0';
    m_lineLength = length;
    m_next = 0;
    m_lineOffset = m_dataOffset + m_scan;
    m_scan += raw;
    ++m_linesRead;
    m_lineStart = m_nextStartsLine;
    // Whichever line end it was (a lone CR too), the next read starts a physical line.
    m_nextStartsLine = begin[raw - 1] == '\n' || begin[raw - 1] == '\r';
    return true;
}

bool PgnSource::readLine()
{
    while (takeLine()) {
        if (!m_lineStart || m_line[0] != '%')
            return true;
        // An escape line is skipped whole, however long it is.
        while (!m_nextStartsLine && takeLine()) {
        }
    }
    m_next = m_lineLength;
    return false;
}

// Takes the reads that go on with the current physical line; false at the end of the input.
bool PgnSource::skipToLineStart()
{
    while (!m_nextStartsLine) {
        if (!takeLine()) {
            m_next = m_lineLength;
            return false;
        }
    }
    return true;
}

void PgnSource::advanceLine()
{
    if (readLine())
        m_current = static_cast<unsigned char>(m_line[m_next++]);
    else
        m_current = kEnd;
}

bool PgnSource::nextLine()
{
    if (!skipToLineStart()) {
        m_current = kEnd;
        return false;
    }
    advanceLine();
    return m_current != kEnd;
}

bool PgnSource::readSymbol(std::string& symbol)
{
    skipSpace();
    symbol.clear();
    auto isLetter = [](int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!isLetter(m_current))
        return false;
    while (isLetter(m_current) || (m_current >= '0' && m_current <= '9') || m_current == '_') {
        symbol.push_back(static_cast<char>(m_current));
        nextChar();
    }
    return true;
}

std::string_view PgnSource::lineFromCurrent() const
{
    if (m_current == kEnd)
        return {};
    return std::string_view(m_line + m_next - 1, m_lineLength - m_next + 1);
}

void PgnSource::skipLineChars(std::size_t count)
{
    if (count == 0)
        return;
    m_next += count - 1;
    nextChar();
}

std::string_view PgnSource::currentLineText() const
{
    std::string_view text(m_line, m_lineLength);
    if (text.ends_with('\n'))
        text.remove_suffix(1);
    return text;
}

void PgnSource::consume()
{
    skipToLineStart();
    m_lineBase += m_linesRead;
    m_mark = position();
    m_markStartsLine = true;
    restart();
}

void PgnSource::rewindToMark()
{
    if (m_fromFile && (m_mark < m_dataOffset || m_mark > m_dataOffset + m_dataSize))
        fillFrom(m_mark);
    else
        m_scan = static_cast<std::size_t>(m_mark - m_dataOffset);
    restart();
}

void PgnSource::restart()
{
    m_nextStartsLine = m_markStartsLine;
    m_linesRead = 0;
    m_lineLength = m_next = 0;
    advanceLine();
}

void PgnSource::copyLines(PgnSink& sink, int count)
{
    rewindToMark();
    const int last = lineNumber() + count - 1;
    while (count > 0 && !atEnd() && lineNumber() <= last) {
        sink.appendUnwrapped(std::string_view(m_line, m_lineLength));
        advanceLine();
    }
    sink.flush();
}

void PgnSource::skipGame(PgnSink* sink)
{
    const int first = lineNumber();
    skipSpace();
    bool nextGame = false;
    if (!atEnd()) {
        while (m_current != '[' && nextLine()) {
        }
        while (m_current == '[' && nextLine()) {
        }
        while (m_current != '[' && nextLine()) {
        }
        nextGame = m_current == '[';
    }
    if (sink)
        copyLines(*sink, lineNumber() - first + (nextGame ? 0 : 1));
    markCurrentLine();
}

// Makes the current line (or the end) the mark, keeping its number.
void PgnSource::markCurrentLine()
{
    if (atEnd()) {
        consume();
        return;
    }
    m_lineBase += m_linesRead - 1;
    m_mark = m_lineOffset;
    m_markStartsLine = m_lineStart;
    rewindToMark();
}

} // namespace vez
