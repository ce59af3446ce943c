#include "database_commands.h"

#include <QCoreApplication>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/analysis_job.h"
#include "app/document.h"
#include "app/profile_store.h"
#include "chess/fen.h"
#include "chess/notation.h"
#include "interchange/eco_book.h"
#include "interchange/game.h"
#include "interchange/pgn_writer.h"
#include "store/gamesets.h"
#include "terminal.h"

namespace vez {

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

// The document and everything it needs, for one command.
struct Session {
    Session()
    {
        static int argc = 1;
        static char name[] = "vezdb";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            application = std::make_unique<QCoreApplication>(argc, argv);
        document = std::make_unique<CVezDoc>(profile, terminal);
    }
    ~Session() { document.reset(); }

    int status() const { return terminal.failures() > 0 ? kFailure : 0; }

    std::unique_ptr<QCoreApplication> application;
    ProfileStore profile;
    TerminalInteraction terminal;
    std::unique_ptr<CVezDoc> document;
};

int fail(const std::string& text)
{
    std::cerr << "vezdb: " << text << '\n';
    return kFailure;
}

// The bytes of the regular files among the paths.
std::uintmax_t inputBytes(const std::vector<std::string>& paths)
{
    std::uintmax_t total = 0;
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error))
            total += std::filesystem::file_size(path, error);
    }
    return total;
}

// Prints each game as the analysis takes it and each search's result as it is stored.
class AnalysisPrinter final : public AnalysisJobObserver {
public:
    explicit AnalysisPrinter(const CVezDoc& doc) : m_doc(doc) {}

    void analysisChanged(AnalysisJob& job) override
    {
        if (!job.game() || job.gameNumber() == m_gameNumber)
            return;
        m_gameNumber = job.gameNumber();
        ++games;
        std::cout << "game " << m_gameNumber << ": " << job.game()->title() << ", "
                  << job.game()->entries.size() << " plies\n";
    }

    void analysisSearched(AnalysisJob& job, const SearchResult& result) override
    {
        ++searches;
        const Game* game = job.game();
        std::string line = "  start";
        if (game && result.ply > game->startPly) {
            const int ply = result.ply - 1;
            const Position before = game->positionAtPly(*game, ply);
            line = "  after " + moveNumberText(before, ply) + " " +
                   text(before, game->entryAt(ply)->move);
        }
        char score[32];
        std::snprintf(score, sizeof score, ": %+.2f", result.centipawns / 100.0);
        line += score;
        if (result.glyph != MoveGlyph::None)
            line += std::string(" ") + glyphText(result.glyph);
        if (result.variationAdded)
            line += ", line " + lineText(result.position, result.ply, result.pv);
        std::cout << line << '\n';
    }

    void analysisCloseRequested(AnalysisJob&) override { closed = true; }

    int games = 0;
    int searches = 0;
    bool closed = false;

private:
    std::string text(const Position& before, Move move) const
    {
        return formatMove(before, move, m_doc.isNonstandard(), MoveGlyph::None,
                          m_doc.descriptiveNotation());
    }

    // "3. Bc4 Bc5 4. c3"
    std::string lineText(Position position, int ply, const std::vector<Move>& moves) const
    {
        std::string line;
        for (std::size_t i = 0; i < moves.size(); ++i, ++ply) {
            if (i > 0)
                line += ' ';
            if (i == 0 || position.sideToMove == kWhite)
                line += moveNumberText(position, ply) + " ";
            line += text(position, moves[i]);
            makeMove(position, moves[i]);
        }
        return line;
    }

    const CVezDoc& m_doc;
    int m_gameNumber = -1;
};

} // namespace

DatabaseCommands::DatabaseCommands(CLI::App& app)
{
    m_create = app.add_subcommand("create", "Create an empty database file");
    m_create->add_option("DB", m_database, "Database file (.vez)")->required();
    m_create->add_flag("--nonstandard", m_nonstandard, "A database for nonstandard chess");
    m_create
        ->add_option("--compression-ply", m_compressionPly,
                     "Ply beyond which new games' private tails are compressed")
        ->check(CLI::Range(0, 32767));

    m_import = app.add_subcommand("import", "Import PGN and EPD files (creates the database)");
    m_import->add_option("DB", m_database, "Database file")->required();
    m_import->add_option("FILE", m_files, "PGN, EPD, CBF, BFI or G30 files")->required();

    m_export = app.add_subcommand("export", "Write games as PGN, in ascending number");
    m_export->add_option("DB", m_database, "Database file")->required();
    m_export->add_option("OUT", m_output, "PGN file to write")->required();
    m_export->add_option("--gameset", m_gamesetName, "Only the members of this gameset");

    m_exportPositions = app.add_subcommand(
        "export-positions", "Write the positions with user notes, or the flashcards, as EPD");
    m_exportPositions->add_option("DB", m_database, "Database file")->required();
    m_exportPositions->add_option("OUT", m_output, "EPD file to write")->required();
    m_exportPositions->add_flag("--flashcards", m_flashcards,
                                "Every flashcard in sequence order instead");

    m_stats = app.add_subcommand("stats", "Print the database statistics");
    m_stats->add_option("DB", m_database, "Database file")->required();

    m_check = app.add_subcommand("check", "Check every structure of a database file");
    m_check->add_option("DB", m_database, "Database file")->required();

    m_games = app.add_subcommand("games", "List game numbers, one per line, ascending");
    m_games->add_option("DB", m_database, "Database file")->required();
    m_games->add_option("--through", m_through, "Only games whose main line reaches this FEN");
    m_games->add_option("--gameset", m_gamesetName, "Only the members of this gameset");

    m_gameset = app.add_subcommand("gameset", "Create, list or delete gamesets");
    m_gameset->add_option("DB", m_database, "Database file")->required();
    m_gameset->add_option("ACTION", m_action, "create, list or delete")
        ->required()
        ->check(CLI::IsMember({"create", "list", "delete"}));
    m_gameset->add_option("ARGS", m_arguments, "NAME [KEY=VALUE]... for create, NAME for delete");

    m_delete = app.add_subcommand("delete", "Delete games by number");
    m_delete->add_option("DB", m_database, "Database file")->required();
    m_delete->add_option("NUMBER", m_numbers, "Game numbers")
        ->required()
        ->check(CLI::NonNegativeNumber);

    m_merge = app.add_subcommand("merge", "Add every game of another database");
    m_merge->add_option("DB", m_database, "Database file")->required();
    m_merge->add_option("OTHER", m_other, "Database to merge from")->required();

    m_clean = app.add_subcommand("clean", "Rewrite game files as one clean PGN file");
    m_clean->add_option("IN", m_files, "Game files")->required();
    m_clean->add_option("-o,--output", m_output, "PGN file to write")->required();

    m_split = app.add_subcommand("split", "Split PGN files by ECO code of the database's book");
    m_split->add_option("DB", m_database, "Database file with an ECO opening book")->required();
    m_split->add_option("IN", m_files, "PGN files")->required();

    m_analyze = app.add_subcommand("analyze", "Analyse a game or a gameset with the engine");
    m_analyze->add_option("DB", m_database, "Database file")->required();
    CLI::Option* game =
        m_analyze->add_option("--game", m_gameNumber, "Game number")->check(CLI::NonNegativeNumber);
    CLI::Option* gameset =
        m_analyze->add_option("--gameset", m_gamesetName, "Every game of this gameset");
    game->excludes(gameset);
    m_analyze->add_option("--slider", m_slider, "Time: 2 to the power of this many minutes")
        ->check(CLI::Range(0, 9));
    m_analyze->add_flag("--white", m_white, "Search the positions with White to move");
    m_analyze->add_flag("--black", m_black, "Search the positions with Black to move");

    m_ecoBook = app.add_subcommand("eco-book", "Make an ECO opening book game");
    m_ecoBook->add_option("ECO", m_other, "ECO classification file (PGN)")->required();
    m_ecoBook->add_option("-o,--output", m_output, "Book file to write")->required();
}

int DatabaseCommands::run(int, char**)
{
    const std::pair<CLI::App*, int (DatabaseCommands::*)()> commands[] = {
        {m_create, &DatabaseCommands::create},
        {m_import, &DatabaseCommands::import},
        {m_export, &DatabaseCommands::exportGames},
        {m_stats, &DatabaseCommands::stats},
        {m_check, &DatabaseCommands::check},
        {m_exportPositions, &DatabaseCommands::exportPositions},
        {m_games, &DatabaseCommands::games},
        {m_gameset, &DatabaseCommands::gameset},
        {m_delete, &DatabaseCommands::deleteGames},
        {m_merge, &DatabaseCommands::merge},
        {m_clean, &DatabaseCommands::clean},
        {m_split, &DatabaseCommands::split},
        {m_ecoBook, &DatabaseCommands::ecoBook},
        {m_analyze, &DatabaseCommands::analyze},
    };
    for (const auto& [command, function] : commands)
        if (*command)
            return (this->*function)();
    return -1;
}

int DatabaseCommands::create()
{
    if (std::filesystem::exists(m_database))
        return fail(m_database + ": already exists");
    Session session;
    CVezDoc& doc = *session.document;
    if (!(m_nonstandard ? doc.onNewNonstandardDocument() : doc.OnNewDocument()))
        return kFailure;
    if (m_compressionPly >= 0)
        doc.setCompressionThreshold(m_compressionPly);
    if (!doc.OnSaveDocument(m_database))
        return kFailure;
    return session.status();
}

int DatabaseCommands::import()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (std::filesystem::exists(m_database)) {
        if (!doc.OnOpenDocument(m_database))
            return kFailure;
    } else if (!doc.OnNewDocument() || !doc.OnSaveDocument(m_database)) {
        return kFailure;
    }
    if (doc.importFiles(m_files))
        doc.waitForImport();
    const ImportTotals& totals = doc.lastImportTotals();
    std::cout << "imported " << totals.games << " games (" << totals.combined
              << " combined with games already stored), " << totals.positions
              << " positions, skipped " << totals.skipped << '\n';
    // Input that held something, of which nothing could be used, is a failure even when
    // every bad game was reported and passed over.
    if (totals.games == 0 && totals.positions == 0 &&
        (totals.skipped > 0 || inputBytes(m_files) > 0))
        return fail("nothing could be imported");
    return session.status();
}

int DatabaseCommands::exportGames()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    if (!m_gamesetName.empty() && !doc.gamesetExists(m_gamesetName))
        return fail(m_database + ": no gameset named " + m_gamesetName);
    const std::vector<int> numbers =
        m_gamesetName.empty() ? doc.gameNumbers() : doc.gamesetMembers(m_gamesetName);
    std::ofstream out(m_output, std::ios::binary | std::ios::trunc);
    if (!out)
        return fail(m_output + ": could not write:\n\t" + std::strerror(errno));
    Game game;
    for (int n : numbers)
        if (doc.readGame(n, game, true))
            writeGameToFile(game, out, doc.isNonstandard());
    out.flush();
    if (!out)
        return fail(m_output + ": could not write:\n\t" + std::strerror(errno));
    return session.status();
}

int DatabaseCommands::exportPositions()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    const bool written =
        m_flashcards ? doc.exportFlashcards(m_output) : doc.exportUserNotes(m_output);
    return written ? session.status() : kFailure;
}

int DatabaseCommands::stats()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    const std::string text = doc.statisticsText();
    std::cout << text;
    if (text.empty() || text.back() != '\n')
        std::cout << '\n';
    return session.status();
}

// "sound", or one line per problem and status 1.
int DatabaseCommands::check()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    const std::vector<std::string> problems = doc.validate();
    if (problems.empty()) {
        std::cout << "sound\n";
        return session.status();
    }
    for (const std::string& problem : problems)
        std::cout << problem << '\n';
    return kFailure;
}

int DatabaseCommands::games()
{
    Position position;
    if (!m_through.empty() && !readFen(position, m_through)) {
        std::cerr << "vezdb: bad FEN: " << m_through << '\n';
        return kUsageError;
    }
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    if (!m_gamesetName.empty() && !doc.gamesetExists(m_gamesetName))
        return fail(m_database + ": no gameset named " + m_gamesetName);
    if (!m_through.empty() && m_gamesetName.empty()) {
        // The games through a position are stored games already: listing every number to
        // intersect with would cost more than the search from a saved index.
        for (int n : doc.gamesPassingThrough(position))
            std::cout << n << '\n';
        return session.status();
    }
    std::vector<int> numbers =
        m_gamesetName.empty() ? doc.gameNumbers() : doc.gamesetMembers(m_gamesetName);
    if (!m_through.empty()) {
        const std::vector<int> through = doc.gamesPassingThrough(position);
        std::vector<int> both;
        std::set_intersection(numbers.begin(), numbers.end(), through.begin(), through.end(),
                              std::back_inserter(both));
        numbers.swap(both);
    }
    for (int n : numbers)
        std::cout << n << '\n';
    return session.status();
}

int DatabaseCommands::gameset()
{
    GamesetRule rule;
    if (m_action == "create") {
        if (m_arguments.empty()) {
            std::cerr << "vezdb: gameset create needs a NAME\n";
            return kUsageError;
        }
        for (std::size_t i = 1; i < m_arguments.size(); ++i) {
            const std::string& pair = m_arguments[i];
            const std::size_t equals = pair.find('=');
            const auto field =
                equals == std::string::npos ? nullptr : gamesetRuleField(pair.substr(0, equals));
            if (!field) {
                std::cerr << "vezdb: not a gameset KEY=VALUE: " << pair << '\n';
                return kUsageError;
            }
            rule.*field = pair.substr(equals + 1);
        }
    } else if ((m_action == "delete" && m_arguments.size() != 1) ||
               (m_action == "list" && !m_arguments.empty())) {
        std::cerr << "vezdb: gameset " << m_action
                  << (m_action == "list" ? " takes no arguments\n" : " needs one NAME\n");
        return kUsageError;
    }
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    if (m_action == "list") {
        for (const std::string& name : doc.gamesetNames())
            std::cout << name << '\n';
    } else if (m_action == "create") {
        if (!doc.createGamesetFromText(m_arguments[0], rule))
            return fail("Could not construct new gameset.");
    } else {
        const std::string& name = m_arguments[0];
        if (!doc.gamesetExists(name))
            return fail(m_database + ": no gameset named " + name);
        if (!doc.deleteGamesetByName(name))
            return fail(name + ": another gameset is defined by it");
    }
    return session.status();
}

int DatabaseCommands::deleteGames()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    int status = 0;
    for (int n : m_numbers) {
        if (!doc.gameExists(n)) {
            status = fail(m_database + ": no game number " + std::to_string(n));
            continue;
        }
        doc.deleteGame(n);
    }
    return status != 0 ? status : session.status();
}

int DatabaseCommands::merge()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database) || !doc.mergeDatabase(m_other))
        return kFailure;
    return session.status();
}

int DatabaseCommands::clean()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.cleanPgn(m_files, m_output))
        return kFailure;
    doc.waitForImport();
    return session.status();
}

int DatabaseCommands::split()
{
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    if (!doc.canSplit())
        return fail(m_database + (doc.isNonstandard() ? ": a nonstandard database cannot split"
                                                      : ": has no ECO opening book"));
    if (!doc.splitFiles(m_files))
        return kFailure;
    doc.waitForImport();
    return session.status();
}

int DatabaseCommands::ecoBook()
{
    PgnSource source;
    if (!source.openFile(m_other))
        return fail(m_other + ": could not open:\n\t" + std::strerror(errno));
    Game book;
    const EcoBookCounts counts = buildEcoBook(source, book);
    if (counts.lines == 0)
        return fail(m_other + ": no ECO classification found");
    std::ofstream out(m_output, std::ios::binary | std::ios::trunc);
    if (out)
        writeGameToFile(book, out, false);
    out.flush();
    if (!out)
        return fail(m_output + ": could not write:\n\t" + std::strerror(errno));
    std::cout << "book lines " << counts.lines << ", repeated positions " << counts.repeated
              << ", unusable " << counts.unusable << ", unreadable " << counts.unreadable << '\n';
    return 0;
}

int DatabaseCommands::analyze()
{
    if (m_gameNumber < 0 && m_gamesetName.empty()) {
        std::cerr << "vezdb: analyze needs --game or --gameset\n";
        return kUsageError;
    }
    Session session;
    CVezDoc& doc = *session.document;
    if (!doc.OnOpenDocument(m_database))
        return kFailure;
    if (m_gameNumber >= 0 && !doc.gameExists(m_gameNumber))
        return fail(m_database + ": no game number " + std::to_string(m_gameNumber));
    if (!m_gamesetName.empty() && !doc.gamesetExists(m_gamesetName))
        return fail(m_database + ": no gameset named " + m_gamesetName);

    std::unique_ptr<AnalysisJob> job =
        m_gameNumber >= 0 ? std::make_unique<AnalysisJob>(doc, nullptr, m_gameNumber)
                          : std::make_unique<AnalysisJob>(doc, nullptr, m_gamesetName);
    AnalysisPrinter printer(doc);
    job->setObserver(&printer);
    if (m_slider >= 0)
        job->setTimeSlider(m_slider);
    if (m_white || m_black) {
        job->setAnalyzeWhite(m_white);
        job->setAnalyzeBlack(m_black);
    }
    const int minutes = 1 << job->timeSlider();
    std::cout << job->title() << ", " << minutes << (minutes == 1 ? " minute\n" : " minutes\n");
    job->start();
    // The engine's records arrive as events of this thread; the job stops when the engine
    // has quit after the last game.
    int status = 0;
    while (!printer.closed && (job->running() || job->engineActive())) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (job->searchStopped()) {
            // Nobody is there to press Stop.
            status = fail("the engine gave up: " + job->commentText());
            job->stop();
        }
    }
    job.reset();
    std::cout << "analysed " << printer.games << (printer.games == 1 ? " game, " : " games, ")
              << printer.searches << " positions\n";
    return status != 0 ? status : session.status();
}

} // namespace vez
