#include "app/import.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include <array>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <utility>

#include "app/converter_process.h"
#include "app/profile_store.h"
#include "chess/fen.h"
#include "interchange/pgn_reader.h"
#include "interchange/pgn_source.h"
#include "interchange/pgn_writer.h"

namespace vez {

namespace {

constexpr std::array<Converter, 3> kConverters = {{
    {".cbf", "CBASC32 path", "cbasc32", "cbasc32.exe", " -e (TF) (CF) ", false},
    {".bfi", "CA2PGN path", "ca2pgn", "ca2pgn.exe", " -i (CF) ", true},
    {".g30", "NIC2PGN path", "nic2pgn", "nic2pgn.exe", " (CF) (TF) ", false},
}};

constexpr int kHintEvery = 200;

bool endsWithNoCase(const std::string& path, std::string_view suffix)
{
    if (path.size() <= 4 || path.size() < suffix.size())
        return false;
    const std::string_view tail = std::string_view(path).substr(path.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != suffix[i])
            return false;
    return true;
}

std::string systemReason(int error) { return std::strerror(error); }

std::string couldNotOpen(const std::string& path, int error)
{
    return path + ": could not open:\n\t" + systemReason(error);
}

// Shows the "could not open" message when the path is not a regular file that can be
// read; false then.
bool checkReadable(const std::string& path, ImportContext& context)
{
    const std::string reason = unreadableReason(path);
    if (reason.empty())
        return true;
    context.showMessage(path + ": could not open:\n\t" + reason);
    return false;
}

// A unique temporary file "VEZ..." in the temporary folder ("." when there is none).
std::string makeTemporaryFile(ImportContext& context)
{
    std::string folder = QDir::tempPath().toStdString();
    if (folder.empty())
        folder = ".";
    std::string name = folder + "/VEZXXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        context.showMessage("Couldn't create temporary file " + folder + " for conversion program");
        return {};
    }
    ::close(fd);
    return name;
}

std::vector<std::string> converterArguments(const Converter& converter, const std::string& input,
                                            const std::string& temporary)
{
    std::vector<std::string> arguments;
    std::istringstream words(converter.argumentTemplate);
    std::string word;
    while (words >> word) {
        for (auto [token, value] : {std::pair<std::string, std::string>{"(TF)", temporary},
                                    std::pair<std::string, std::string>{"(CF)", input}}) {
            for (std::size_t at = word.find(token); at != std::string::npos;
                 at = word.find(token, at + value.size()))
                word.replace(at, token.size(), value);
        }
        arguments.push_back(word);
    }
    return arguments;
}

void removeConverted(const std::string& path, const std::string& converted, ImportContext& context,
                     const std::string& message)
{
    if (converted == path)
        return;
    std::error_code error;
    if (!std::filesystem::remove(converted, error))
        context.showMessage(message + converted);
}

bool askAboutBadGame(ImportContext& context, const PgnErrorReport& report, bool& ignoreRemaining);

// The PGN error dialog for a bad game, after which the source stands at the next game. False
// when the user aborts the file.
bool reportBadGame(ImportContext& context, PgnSource& source, const std::string& path, int ordinal,
                   const PGNGameException& error, bool& ignoreRemaining)
{
    PgnErrorReport report;
    report.file = path;
    report.game = ordinal;
    report.line = source.lineNumber();
    report.message = error.message();
    source.rewindToMark();
    PgnSink sink;
    source.skipGame(&sink);
    sink.flush();
    report.text = sink.takeText();
    return askAboutBadGame(context, report, ignoreRemaining);
}

// The PGN error dialog; false when the user aborts the file.
bool askAboutBadGame(ImportContext& context, const PgnErrorReport& report, bool& ignoreRemaining)
{
    if (ignoreRemaining)
        return true;
    bool goOn = true;
    context.withUser([&](UserInteraction& user) {
        const PgnErrorAnswer answer = user.pgnError(report);
        ignoreRemaining = answer.ignoreRemaining;
        switch (answer.choice) {
        case PgnErrorChoice::SaveAs: {
            const std::string file = user.chooseSaveFile(
                {"pgn", "",
                 "PGN games (*.pgn)|*.pgn|Text files (*.txt)|*.txt|All Files (*.*)|*.*||",
                 false});
            if (!file.empty()) {
                std::ofstream out(file, std::ios::binary | std::ios::app);
                out << report.text;
                if (!out)
                    user.showMessage(file + ": could not append:\n\t" + systemReason(errno));
            }
            break;
        }
        case PgnErrorChoice::CopyToClipboard: user.setClipboardText(report.text); break;
        case PgnErrorChoice::Skip: break;
        case PgnErrorChoice::Abort: goOn = false; break;
        }
    });
    context.progress().raise();
    return goOn;
}

// The bad-EPD dialog; false when the user aborts the file.
bool reportBadLine(ImportContext& context, const std::string& path, int lineNumber,
                   const std::string& line, const std::string& message, bool& ignoreRemaining)
{
    if (ignoreRemaining)
        return true;
    PgnErrorReport report{path, -1, lineNumber, message, line, true};
    bool goOn = true;
    context.withUser([&](UserInteraction& user) {
        const PgnErrorAnswer answer = user.pgnError(report);
        ignoreRemaining = answer.ignoreRemaining;
        if (answer.choice == PgnErrorChoice::SaveAs) {
            const std::string file = user.chooseSaveFile(
                {"epd", "",
                 "EPD positions (*.epd)|*.epd|Text files (*.txt)|*.txt|All Files (*.*)|*.*||",
                 false});
            if (!file.empty()) {
                std::ofstream out(file, std::ios::binary | std::ios::app);
                out << line << "\r\n";
            }
        } else if (answer.choice == PgnErrorChoice::CopyToClipboard) {
            user.setClipboardText(line);
        } else if (answer.choice == PgnErrorChoice::Abort) {
            goOn = false;
        }
    });
    context.progress().raise();
    return goOn;
}

std::uint64_t fileLength(const std::string& path, int& error)
{
    std::error_code code;
    const std::uint64_t length = std::filesystem::file_size(path, code);
    error = code ? code.value() : 0;
    return code ? 0 : length;
}

bool claimRoom(ImportContext& context, std::uint64_t length)
{
    ImportRequest request;
    request.code = ImportNotification::EnsureRoom;
    request.count = length;
    request.bytesPerItem = 2;
    return context.send(request) == 1;
}

// Reads the games of a PGN text one by one, with progress, cancellation and the PGN error
// dialog, and hands each to take (with its ordinal in the file and the line it starts on),
// which returns false to end the file. False when the file could not be read.
template <class Take>
bool forEachGame(const std::string& path, const std::string& text, ImportContext& context,
                 ImportTotals& totals, Take take)
{
    if (!checkReadable(text, context))
        return false;
    PgnSource source;
    if (!source.openFile(text)) {
        context.showMessage(couldNotOpen(text, errno));
        return false;
    }
    int error = 0;
    const std::uint64_t length = fileLength(text, error);
    bool ignoreRemaining = false;
    int ordinal = 0;
    Game game;
    OpeningMoves openings(4096);
    while (!context.cancelled()) {
        context.progress().update(path, length, source.position());
        game.clear();
        const int firstLine = source.lineNumber();
        try {
            if (!readPgnGame(game, source, context.nonstandard, &openings))
                break;
        } catch (const PGNGameException& bad) {
            ++ordinal;
            ++totals.skipped;
            if (!reportBadGame(context, source, path, ordinal, bad, ignoreRemaining))
                break;
            continue;
        } catch (const std::exception&) {
            ++ordinal;
            char message[1024];
            std::snprintf(message, sizeof message,
                          "%s: unknown exception raised while parsing game %d", path.c_str(),
                          ordinal);
            context.showMessage(message);
            break;
        }
        ++ordinal;
        if (!take(game, ordinal, firstLine))
            break;
    }
    return true;
}

// Games go to the document a batch at a time, and the worker reads the next batches while
// the document stores the last ones: one hand-over per batch rather than per game, and
// reading overlaps storing. A cancelled import stores the games read before it (the reading stops
// after the current game); a document going away stores no more.
class GameBatches {
public:
    GameBatches(ImportContext& context, ImportTotals& totals, std::string path)
        : m_context(context), m_totals(totals), m_path(std::move(path))
    {
        for (Batch& b : m_batches) {
            b.store = [this, &b] { storeBatch(b); };
            // The games stay where they are from reading to storing (their preparations
            // know their lines by address), and their storage serves game after game.
            b.games.resize(kGamesPerBatch);
            b.prepared.resize(kGamesPerBatch);
        }
        m_context.setPendingGames([this] { flush(); });
    }
    ~GameBatches()
    {
        m_context.setPendingGames({});
        finish();
    }
    GameBatches(const GameBatches&) = delete;
    GameBatches& operator=(const GameBatches&) = delete;

    // Takes the game over, leaving an earlier one's storage in its place. False once the
    // user has chosen to abort the file.
    bool add(Game& game, UpdateHint hint, int ordinal, int line)
    {
        Batch& b = m_batches[m_filling];
        Game& slot = b.games[b.count];
        slot.swap(game);
        b.hints.push_back(hint);
        b.origins.push_back({ordinal, line});
        if (m_context.storeSettings)
            b.prepared[b.count].prepare(slot, *m_context.storeSettings);
        if (++b.count >= kGamesPerBatch)
            flush();
        reportUnstored();
        return !m_aborted;
    }

    // Hands the games collected over; the next batch to fill is the oldest one handed
    // over, once it has been stored.
    void flush()
    {
        Batch& b = m_batches[m_filling];
        if (b.count == 0)
            return;
        b.numbers.assign(b.count, kNotTried);
        b.outcomes.assign(b.count, AddOutcome::NotStored);
        m_context.doc().startCall(b.call, b.store);
        m_filling = (m_filling + 1) % kBatches;
        collect(m_batches[m_filling]);
    }

    // Hands everything over and waits until it is stored.
    void finish()
    {
        flush();
        for (Batch& b : m_batches)
            collect(b);
        reportUnstored();
    }

private:
    static constexpr std::size_t kGamesPerBatch = 64;
    // The reading may run this many batches less one ahead of the storing, which evens out
    // games that take one side longer than the other.
    static constexpr std::size_t kBatches = 4;
    static constexpr int kNotTried = std::numeric_limits<int>::min();

    // Where a game came from, for the message when it cannot be stored.
    struct Origin {
        int ordinal = 0;
        int line = 0;
    };

    struct Batch {
        std::vector<Game> games; // the first count are this batch's
        std::size_t count = 0;
        std::vector<PreparedGame> prepared; // one for each game's place
        std::vector<UpdateHint> hints;
        std::vector<Origin> origins;
        std::vector<int> numbers; // as the document answered, or kNotTried
        std::vector<AddOutcome> outcomes;
        CVezDoc::PendingCall call;
        std::function<void()> store;
    };

    // On the document's thread.
    void storeBatch(Batch& b)
    {
        for (std::size_t i = 0; i < b.count && !m_context.doc().workerStopRequested(); ++i) {
            ImportRequest request;
            request.code = ImportNotification::AddGame;
            request.game = &b.games[i];
            request.prepared = m_context.storeSettings ? &b.prepared[i] : nullptr;
            request.hint = b.hints[i];
            request.outcome = &b.outcomes[i];
            const int number = m_context.doc().sendImportNotification(request);
            // A game refused because the import is stopping (no room for it on the disk)
            // was not a bad game: it was never tried.
            b.numbers[i] = number < 0 && m_context.doc().workerStopRequested() ? kNotTried : number;
        }
    }

    void collect(Batch& b)
    {
        m_context.doc().awaitCall(b.call);
        for (std::size_t i = 0; i < b.numbers.size(); ++i) {
            if (b.numbers[i] == kNotTried)
                continue;
            switch (b.outcomes[i]) {
            case AddOutcome::Position: ++m_totals.positions; break;
            case AddOutcome::Combined: ++m_totals.combined; [[fallthrough]];
            case AddOutcome::Stored: ++m_totals.games; break;
            case AddOutcome::NotStored:
                ++m_totals.skipped;
                m_unstored.push_back(
                    {b.origins[i], writeGameToText(b.games[i], m_context.nonstandard)});
                break;
            }
        }
        b.count = 0;
        b.hints.clear();
        b.origins.clear();
        b.numbers.clear();
        b.outcomes.clear();
    }

    // Reports the games the document could not store (a position of 33 pieces, say); the
    // dialog hands the games read meanwhile over, which may add to the list.
    void reportUnstored()
    {
        if (m_reporting)
            return;
        m_reporting = true;
        while (!m_unstored.empty() && !m_aborted) {
            std::vector<Unstored> now;
            now.swap(m_unstored);
            for (std::size_t i = 0; i < now.size() && !m_aborted; ++i) {
                const PgnErrorReport report{m_path,
                                            now[i].origin.ordinal,
                                            now[i].origin.line,
                                            "game cannot be stored",
                                            now[i].text,
                                            false};
                m_aborted = !askAboutBadGame(m_context, report, m_ignoreRemaining);
            }
        }
        m_unstored.clear();
        m_reporting = false;
    }

    struct Unstored {
        Origin origin;
        std::string text;
    };

    ImportContext& m_context;
    ImportTotals& m_totals;
    const std::string m_path;
    Batch m_batches[kBatches];
    std::size_t m_filling = 0;
    std::vector<Unstored> m_unstored;
    bool m_reporting = false;
    bool m_aborted = false;
    bool m_ignoreRemaining = false;
};

// The lines of an EPD file one by one, whichever line ends it uses: LF, CR LF or a lone CR.
class LineReader {
public:
    explicit LineReader(std::istream& in) : m_in(in) {}

    bool next(std::string& line)
    {
        line.clear();
        int c = m_in.get();
        if (c == EOF)
            return false;
        for (; c != EOF && c != '\n' && c != '\r'; c = m_in.get())
            line.push_back(char(c));
        m_done += line.size() + (c == EOF ? 0 : 1);
        if (c == '\r' && m_in.peek() == '\n') {
            m_in.get();
            ++m_done;
        }
        return true;
    }
    std::uint64_t done() const { return m_done; }

private:
    std::istream& m_in;
    std::uint64_t m_done = 0;
};

ImportTotals importEpd(const std::string& path, ImportContext& context)
{
    ImportTotals totals;
    if (!checkReadable(path, context))
        return totals;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        context.showMessage(couldNotOpen(path, errno));
        return totals;
    }
    int error = 0;
    const std::uint64_t length = fileLength(path, error);
    if (!claimRoom(context, length))
        return totals;
    bool ignoreRemaining = false;
    LineReader lines(in);
    std::string line;
    int lineNumber = 0;
    while (!context.cancelled() && lines.next(line)) {
        ++lineNumber;
        context.progress().update(path, length, lines.done());
        if (line.empty() || line.front() == ';')
            continue;
        Position position;
        PositionAnnotation annotation;
        std::string problem = "Bad EPD position";
        if (readEpd(position, line, &annotation)) {
            ImportRequest request;
            request.code = ImportNotification::AddPosition;
            request.position = &position;
            request.annotation = &annotation;
            request.hint = lineNumber % kHintEvery == 0 ? UpdateHint::Bulk : UpdateHint::None;
            if (context.send(request) == 1) {
                ++totals.positions;
                continue;
            }
            // Read but refused by the store (more pieces than a record holds, say).
            problem = "position cannot be stored";
        }
        ++totals.skipped;
        if (!reportBadLine(context, path, lineNumber, line, problem, ignoreRemaining))
            break;
    }
    return totals;
}

} // namespace

std::string unreadableReason(const std::string& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return systemReason(errno);
    if (S_ISDIR(status.st_mode))
        return systemReason(EISDIR);
    if (!S_ISREG(status.st_mode))
        return "not a regular file";
    if (::access(path.c_str(), R_OK) != 0)
        return systemReason(errno);
    return {};
}

const Converter* converterFor(const std::string& path)
{
    for (const Converter& converter : kConverters)
        if (endsWithNoCase(path, converter.extension))
            return &converter;
    return nullptr;
}

bool ImportContext::cancelled() const
{
    return m_progress.cancelled() || m_doc.workerStopRequested();
}

int ImportContext::send(const ImportRequest& request)
{
    assert(m_onWorker != m_doc.onDocumentThread());
    return m_doc.sendImportNotification(request);
}

void ImportContext::withUser(const std::function<void(UserInteraction&)>& function)
{
    if (m_flushPending)
        m_flushPending();
    m_doc.callOnDocumentThread([&] { function(m_doc.user()); });
}

void ImportContext::showMessage(const std::string& text)
{
    withUser([&](UserInteraction& user) { user.showMessage(text); });
}

std::string convertIfNeeded(const std::string& path, ImportContext& context)
{
    const Converter* converter = converterFor(path);
    if (!converter)
        return path;
    std::string program;
    context.withUser([&](UserInteraction&) {
        program =
            context.profile().getProfileString(converter->settingsKey, converter->defaultPath);
    });
    std::error_code error;
    const std::string input = std::filesystem::absolute(path, error).string();
    std::string output;
    if (std::string_view(converter->argumentTemplate).find("(TF)") != std::string_view::npos) {
        output = makeTemporaryFile(context);
        if (output.empty())
            return {};
    }
    if (converter->outputBesideInput)
        output = path.substr(0, path.size() - 3) + "pgn";
    const std::vector<std::string> arguments = converterArguments(*converter, input, output);
    for (;;) {
        ConverterProcess process;
        bool started = false;
        context.withUser(
            [&](UserInteraction& user) { started = process.start(program, arguments, user); });
        if (started) {
            process.wait();
            return output;
        }
        std::string chosen;
        context.withUser([&](UserInteraction& user) {
            chosen = user.chooseOpenFile(
                {"", converter->programFileName, "Executable files (*.exe)|*.exe||"});
            if (!chosen.empty())
                context.profile().writeProfileString(converter->settingsKey, chosen);
        });
        if (chosen.empty()) {
            if (!converter->outputBesideInput)
                std::filesystem::remove(output, error);
            return {};
        }
        program = chosen;
    }
}

ImportTotals importFile(const std::string& path, ImportContext& context)
{
    if (endsWithNoCase(path, ".epd"))
        return importEpd(path, context);
    ImportTotals totals;
    const std::string text = convertIfNeeded(path, context);
    if (text.empty())
        return totals;
    int error = 0;
    const bool readable = checkReadable(text, context);
    const std::uint64_t length = readable ? fileLength(text, error) : 0;
    if (readable && error != 0)
        context.showMessage(couldNotOpen(text, error));
    if (readable && error == 0 && claimRoom(context, length)) {
        int taken = 0;
        GameBatches batches(context, totals, path);
        forEachGame(path, text, context, totals, [&](Game& game, int ordinal, int line) {
            if (!game.hasTag("Source"))
                game.setTag("Source", path);
            ++taken;
            return batches.add(game, taken % kHintEvery == 0 ? UpdateHint::Bulk : UpdateHint::None,
                               ordinal, line);
        });
    }
    removeConverted(path, text, context, "Couldn't delete temporary conversion file ");
    return totals;
}

ImportTotals cleanFile(const std::string& path, std::ostream& out, ImportContext& context)
{
    ImportTotals totals;
    const std::string text = convertIfNeeded(path, context);
    if (text.empty())
        return totals;
    forEachGame(path, text, context, totals, [&](Game& game, int, int) {
        writeGameToFile(game, out, context.nonstandard);
        ++totals.games;
        return true;
    });
    removeConverted(path, text, context, "Couldn't delete temporary conversion file ");
    return totals;
}

ImportTotals splitFile(const std::string& path, ImportContext& context)
{
    ImportTotals totals;
    const std::string text = convertIfNeeded(path, context);
    if (text.empty())
        return totals;
    forEachGame(path, text, context, totals, [&](Game& game, int, int) {
        ImportRequest request;
        request.code = ImportNotification::SplitGame;
        request.game = &game;
        request.path = path;
        context.send(request);
        ++totals.games;
        return true;
    });
    removeConverted(path, text, context, "Could not delete temporary file ");
    return totals;
}

std::string splitFolderOf(const std::string& path)
{
    // Only a dot in the file's own name starts an extension; a dot in a folder name does not.
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path;
    return path.substr(0, dot);
}

} // namespace vez
