// The database document: owns the open database, the current game and the gameset it was
// chosen from, the running import, clean or split worker, and three user settings. Every
// change to the database goes through it, on the thread that created it (the document's
// thread); it tells its observers (the views) what changed with an UpdateHint.
//
// A database is either file-backed (it has a path, every change lands in the mapped file
// at once) or unnamed (new, browsed from a game file, or made from a gameset; it lives in
// memory until Save As gives it a file).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/recent_files.h"
#include "chess/fen.h"
#include "chess/position.h"
#include "store/gamesets.h"
#include "store/graph.h"
#include "store/records.h"

class QObject;

namespace vez {

struct Game;
class PreparedGame;
class ProfileStore;
class UserInteraction;
class Progress;

// What changed, for the views.
enum class UpdateHint : int {
    None = 0,
    Reset = 1,          // the database was reset or the current game was cleared
    GameSelected = 2,   // a game was selected
    Bulk = 3,           // contents changed in bulk (load, import, merge, notation setting)
    NoteFont = 4,       // the note font changed
    PositionNote = 5,   // the note of a position was replaced
    MoveGlyph = 6,      // an analysis changed a move glyph of a stored game
    VariationAdded = 7, // an analysis added a variation to a stored game
    PositionScore = 8,  // the score of a position was set
    PlayersAliased = 9, // player names were aliased
};

// A view of the document. The sender of an update is the view that asked for it, or null.
class DocumentObserver {
public:
    virtual ~DocumentObserver() = default;
    virtual void onUpdate(DocumentObserver* sender, UpdateHint hint) = 0;
};

// Requests a worker makes of the document; each runs on the document's thread while the
// worker waits for its result.
enum class ImportNotification : int {
    EnsureRoom = 108,  // count, bytes per item -> 1 when the room is there
    AddGame = 109,     // game, hint
    AddPosition = 149, // position, annotation, hint
    Finished = 110,    // the worker is done
    SplitGame = 122,   // game, source path
};

// What became of a game handed to the document.
enum class AddOutcome { NotStored, Stored, Combined, Position };

struct ImportRequest {
    ImportNotification code = ImportNotification::Finished;
    std::uint64_t count = 0;
    std::uint64_t bytesPerItem = 0;
    const Game* game = nullptr;
    const PreparedGame* prepared = nullptr; // AddGame: the game worked out ahead, or null
    const Position* position = nullptr;
    const PositionAnnotation* annotation = nullptr;
    UpdateHint hint = UpdateHint::None;
    std::string path;              // SplitGame: the input file
    AddOutcome* outcome = nullptr; // AddGame: what became of the game
};

// What an import brought in.
// Every game or position read is counted once: as a game (combined or not), a position or
// skipped.
struct ImportTotals {
    int games = 0;     // games stored, including those combined
    int combined = 0;  // games folded into a game already stored
    int positions = 0; // positions stored from EPD lines and position-only records
    int skipped = 0;   // bad games and lines left out

    ImportTotals& operator+=(const ImportTotals& other)
    {
        games += other.games;
        combined += other.combined;
        positions += other.positions;
        skipped += other.skipped;
        return *this;
    }
};

class CVezDoc {
public:
    CVezDoc(ProfileStore& profile, UserInteraction& user);
    ~CVezDoc();
    CVezDoc(const CVezDoc&) = delete;
    CVezDoc& operator=(const CVezDoc&) = delete;

    // --- Views ------------------------------------------------------------------------
    void addObserver(DocumentObserver* observer);
    void removeObserver(DocumentObserver* observer);
    // Every observer but the sender gets the hint.
    void UpdateAllViews(DocumentObserver* sender, UpdateHint hint);

    // --- Document lifecycle -------------------------------------------------------------
    void DeleteContents();
    // File/New; false (after "Could not initialize database.") when no database can be made.
    bool OnNewDocument();
    // File/New Nonstandard.
    bool onNewNonstandardDocument();
    // A .vez file, or a pgn/cbf/bfi/g30 file (any case) browsed into a new in-memory
    // database.
    bool OnOpenDocument(const std::string& path);
    // Save As: writes the image to path and continues on the file.
    bool OnSaveDocument(const std::string& path);
    // Save As with the save dialog; enabled by canSaveAs.
    bool canSaveAs() const;
    bool saveAs();
    // Before the database is replaced or the program ends: true to go on. Only an unnamed,
    // modified database that is not a browsed file is offered for saving.
    bool SaveModified();
    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified = true) { m_modified = modified; }
    const std::string& GetPathName() const { return m_pathName; }
    const std::string& GetTitle() const { return m_title; }
    void updateTitle();

    DatabaseHeader* database() const { return m_database; }
    bool browsingMode() const { return m_browsingMode; }
    bool isNonstandard() const;
    bool descriptiveNotation() const { return m_descriptiveNotation; }
    bool hogMemory() const { return m_hogMemory; }
    bool combineDuplicates() const { return m_combineDuplicates; }
    ProfileStore& profile() const { return m_profile; }
    // Databases opened or saved lately; Open and Save As add to it.
    RecentFiles& recentFiles() { return m_recentFiles; }
    UserInteraction& user() const { return m_user; }
    // The running server (File/Server...), owned; null while the server is off.
    // DeleteContents and the destructor stop it.
    QObject* server() const { return m_server.get(); }
    void setServer(std::unique_ptr<QObject> server);

    // --- Games and positions ----------------------------------------------------------
    // Stores a game (requestedNumber -1 for a new one, else the number it replaces) and
    // returns its number; -1 for a position-only record or a game that could not be stored.
    int addGame(const Game& game, int requestedNumber);
    // Stores a game the database already holds once more, folded into its stored copy
    // whatever the setting for combining duplicates, so that what an analysis added (scores,
    // glyphs, lines, tags) lands there; the stored game's number, or -1.
    int addAnalysedGame(const Game& game);
    // Stores an EPD position with its annotation; false when the position cannot be stored.
    bool addPositionAnnotation(const Position& position, const PositionAnnotation& annotation);
    void selectGame(int gameNumber, const std::string& gamesetName, DocumentObserver* sender);
    void clearGame();
    int getCurrentGame() const { return m_currentGame; }
    int nextGameInGameset() const { return m_nextGameInGameset; }
    const std::string& currentGamesetName() const { return m_currentGamesetName; }
    // Game/Select game/Next game in gameset.
    bool canSelectNextGameInGameset() const { return m_nextGameInGameset >= 0; }
    void selectNextGameInGameset();
    // False (after the store's message) when the disk has no room for what the deletion
    // keeps.
    bool deleteGame(int gameNumber);
    bool ensureRoom(std::uint64_t count, std::uint64_t bytesPerItem);
    void claimWorkingSet(std::uint64_t bytes);
    // False (after the store's message) when the disk has no room for the change.
    bool setPositionNote(const Position& position, const std::string& text,
                         DocumentObserver* sender);
    bool setPositionScore(const Position& position, std::int32_t score, DocumentObserver* sender);

    // --- Thin store queries (empty results without a database) ------------------------
    std::vector<GraphEdge> movesFrom(const Position& position) const;
    std::vector<GraphEdge> movesInto(const Position& position) const;
    PositionCounts countsOf(const Position& position) const;
    std::string noteText(const Position& position) const;
    std::string ecoText(const Position& position) const;
    bool gameExists(int gameNumber) const;
    // The header (or with withMoves the whole game) of a stored game; false when none.
    bool readGame(int gameNumber, Game& game, bool withMoves) const;
    // Every stored game number, ascending.
    std::vector<int> gameNumbers() const;
    // The games through a position, by way of the "TEMPORARY SELECTION GAMESET".
    std::vector<int> gamesThroughPosition(const Position& position);
    // The games whose main line passes through a position, ascending; changes nothing.
    std::vector<int> gamesPassingThrough(const Position& position) const;

    // --- Positions for the view (document_view.cpp) -------------------------------------
    // The stored score of a position; kNoScore when it has none or is not stored.
    std::int32_t scoreOf(const Position& position) const;
    bool positionExists(const Position& position) const;
    bool isFlashcardPosition(const Position& position) const;
    bool hasFlashcards() const;
    // Flashcard toggle: true when the position is a flashcard afterwards. Marks the
    // database modified.
    bool toggleFlashcard(const Position& position);
    // The flashcard after `current` in flashcard order, the first when `current` is the last
    // or none; false when there are no flashcards.
    bool nextFlashcard(const Position& current, Position& next) const;
    // Stores a glyph on the graph's move from `before`; false when the graph lacks the move.
    bool setGraphGlyph(const Position& before, Move move, MoveGlyph glyph);

    // --- Lists for the dialogs -----------------------------------------------------------
    std::vector<std::string> playerNames();
    std::vector<std::string> eventNames() const;
    std::vector<std::string> tagNames() const;

    // --- Paste PGN and the EPD exports ---------------------------------------------------
    // Game/Paste PGN: stores every game of the text ("Source" "Clipboard" when missing) and
    // selects the last one stored. A reading error is reported with the game's number; the
    // games before it stay stored. Returns the number of games stored.
    int pasteGames(const std::string& text);
    // Position/Export all user notes... and Position/Export Flashcards... into a new file;
    // false after a message when the file cannot be written.
    bool exportUserNotes(const std::string& path);
    bool exportFlashcards(const std::string& path);

    // Observers that must let go of the database (analyses holding games) before a command
    // replaces it.
    void addReplaceListener(std::function<void()> listener);

    // --- Gamesets ---------------------------------------------------------------------
    std::vector<std::string> gamesetNames() const;
    // Converts and validates the text rule and creates the set; false (with nothing made)
    // when there is no database or the rule is refused.
    bool createGamesetFromText(const std::string& name, const GamesetRule& rule);
    bool gamesetExists(const std::string& name) const;
    std::vector<int> gamesetMembers(const std::string& name) const;
    void addToGameset(const std::string& name, int gameNumber);
    void removeFromGameset(const std::string& name, int gameNumber);
    bool canDeleteGamesetByName(const std::string& name) const;
    bool deleteGamesetByName(const std::string& name);
    void addToSelectedGames(int gameNumber);

    // --- Database commands ------------------------------------------------------------
    // File/Merge... with the other database chosen.
    bool mergeDatabase(const std::string& otherPath);
    // Gameset/Create Database... with the gameset chosen.
    bool canCreateDatabaseFromGameset() const;
    bool createDatabaseFromGameset(const std::string& gamesetName);
    // Edit/Alias player names...
    void aliasPlayerNames(const std::string& primary, const std::string& alias);
    bool nameNormalization() const;
    void toggleNameNormalization();
    void toggleDescriptiveNotation();
    void toggleHogMemory();
    void toggleCombineDuplicates();
    int compressionThreshold() const;
    void setCompressionThreshold(int ply);
    // File/Database statistics: the message box text.
    std::string statisticsText() const;
    // File/Validate: every problem of the database's structures; none when it is sound.
    std::vector<std::string> validate() const;
    // Whether an operation met damage in this database since it was opened; changes are
    // refused from then on, so that damage is not spread.
    bool damageFound() const { return m_damageFound; }
    // For damage met outside the document's own operations (a pane reading the image while
    // it paints): shows the message once and refuses changes from then on, so that a pane
    // that meets the damage at every paint does not ask again and again.
    void containDamage(const std::string& message) const
    {
        if (!m_damageFound)
            reportDamage(message);
    }

    // --- Import, clean and split --------------------------------------------------------
    // File/Import... with the files chosen: checks them, claims room and starts the worker.
    // False when nothing was started.
    bool importFiles(const std::vector<std::string>& paths);
    // File/Convert to clean PGN... with the inputs and the output chosen.
    bool cleanPgn(const std::vector<std::string>& inputs, const std::string& output);
    // File/Split file... with the inputs chosen.
    bool canSplit() const;
    bool splitFiles(const std::vector<std::string>& inputs);
    // Whether a worker runs (the import thread is set); the bulk commands are disabled
    // meanwhile.
    bool importRunning() const { return m_importRunning; }
    // Serves the worker's requests on this thread until it has finished.
    void waitForImport();
    // What the last finished import, clean or split brought in.
    const ImportTotals& lastImportTotals() const { return m_lastTotals; }
    // Set when the document is going away: a running worker stops after its current game.
    // A worker also stops once the disk could not give the room for a game.
    bool workerStopRequested() const { return m_stopWorker || m_outOfRoom; }
    // How far the database's heap reached after the last game an import stored; readable on
    // any thread.
    std::uint64_t importHeapTop() const { return m_importHeapTop.load(std::memory_order_relaxed); }

    // A worker's request: carried onto the document's thread and answered there while the
    // worker waits. Called on the document's thread it runs at once.
    int sendImportNotification(const ImportRequest& request);
    // Runs a function on the document's thread and waits for it.
    void callOnDocumentThread(const std::function<void()>& function);
    bool onDocumentThread() const;

    // A call a worker starts on the document's thread and waits for later, going on with its
    // own work meanwhile. Calls run in the order they were started.
    struct PendingCall {
        const std::function<void()>* function = nullptr;
        bool done = true;
    };
    // Starts the call (runs it at once on the document's thread); the function must live
    // until awaitCall returns.
    void startCall(PendingCall& call, const std::function<void()>& function);
    void awaitCall(PendingCall& call);

private:
    // Tells the replace listeners that the database is about to be replaced.
    void beforeReplace();
    // Shows the message of damage met by an operation and refuses changes from then on.
    void reportDamage(const std::string& message) const;

    int handleImportNotification(const ImportRequest& request);
    // Claims room in the image ahead of a change; false (after the store's message) when
    // the disk cannot give it.
    bool claimRoom(std::uint64_t bytes);
    // Claims room ahead of bulk work when the disk has it; quietly nothing otherwise.
    void claimRoomAhead(std::uint64_t bytes);
    int handleImportRequest(const ImportRequest& request);
    int storeInDatabase(const Game& game, int requestedNumber, bool combine, AddOutcome& outcome,
                        const PreparedGame* prepared);
    int addGameCombining(const Game& game, int requestedNumber, bool combine, AddOutcome* outcome,
                         const PreparedGame* prepared = nullptr);
    // Runs the calls workers are waiting for; on the document's thread.
    void serveCalls();
    bool newDatabase(bool nonstandard);
    void adopt(DatabaseHeader* database);
    bool browseFile(const std::string& path);
    void startWorker(std::function<ImportTotals(CVezDoc&, Progress&)> work,
                     const std::string& progressTitle);
    void splitGame(const Game& game, const std::string& sourcePath);
    void ensureGamesFromSourceGameset(const std::string& source);

    ProfileStore& m_profile;
    UserInteraction& m_user;
    std::vector<DocumentObserver*> m_observers;
    std::vector<std::function<void()>> m_replaceListeners;
    RecentFiles m_recentFiles;
    std::unique_ptr<QObject> m_threadAnchor; // lives on the document's thread

    // The document's own fields.
    int m_currentGame = -1;
    int m_nextGameInGameset = -1;
    std::string m_currentGamesetName;
    bool m_browsingMode = false;
    DatabaseHeader* m_database = nullptr;
    bool m_importRunning = false; // the import thread is set
    bool m_hogMemory = false;
    bool m_combineDuplicates = true;
    bool m_descriptiveNotation = false;
    std::unique_ptr<QObject> m_server;

    // The framework's part.
    bool m_modified = false;
    mutable bool m_damageFound = false;
    std::string m_pathName;
    std::string m_title;

    // Calls from workers: queued under the mutex, run by serveCalls, and answered through
    // the condition. Qt's event loop only wakes the document's thread; the hand-over itself
    // is ordinary mutex traffic, which the thread sanitizer can follow.
    std::mutex m_callMutex;
    std::condition_variable m_callDone;
    std::deque<PendingCall*> m_calls;

    std::thread m_importThread;
    std::atomic<bool> m_stopWorker{false};
    std::atomic<bool> m_outOfRoom{false}; // a change was refused for want of disk space
    std::atomic<std::uint64_t> m_importHeapTop{0};
    ImportTotals m_lastTotals;
};

} // namespace vez
