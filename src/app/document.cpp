#include "app/document.h"

#include <sys/mman.h>

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <cassert>

#include "app/profile_store.h"
#include "app/user_interaction.h"
#include "app/wake_event.h"
#include "interchange/eco_book.h"
#include "interchange/game.h"
#include "store/checksum.h"
#include "store/database.h"
#include "store/flashcards.h"
#include "store/games.h"
#include "store/names.h"
#include "store/notes.h"
#include "store/statistics.h"
#include "store/validation.h"

namespace vez {

namespace {

constexpr std::uint64_t kOpenRoom = 65536;
// The most a position with its score and flags can take, a pool on each chain included;
// its note's text comes on top.
constexpr std::uint64_t kRoomForPosition = 6 * 8008 + 1024;

std::string lowerExtension(const std::string& path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

// The folder separators of both worlds cut a title: a path typed the Windows way keeps
// reading well.
std::size_t lastSeparator(const std::string& text)
{
    const std::size_t slash = text.rfind('/');
    const std::size_t backslash = text.rfind('\\');
    if (slash == std::string::npos)
        return backslash;
    if (backslash == std::string::npos)
        return slash;
    return std::max(slash, backslash);
}

// Lives on the document's thread; a posted wake-up event makes it serve the waiting calls.
class ThreadAnchor final : public QObject {
public:
    explicit ThreadAnchor(std::function<void()> serve) : m_serve(std::move(serve)) {}

    bool event(QEvent* event) override
    {
        if (!receiveWakeEvent(event))
            return QObject::event(event);
        m_serve();
        return true;
    }

private:
    std::function<void()> m_serve;
};

} // namespace

CVezDoc::CVezDoc(ProfileStore& profile, UserInteraction& user)
    : m_profile(profile), m_user(user), m_recentFiles(profile),
      m_threadAnchor(std::make_unique<ThreadAnchor>([this] { serveCalls(); }))
{
    setStoreMessages(&m_user);
    DeleteContents();
}

CVezDoc::~CVezDoc()
{
    m_server.reset();
    m_stopWorker = true;
    waitForImport();
    if (m_database)
        closeDatabase(m_database);
    m_database = nullptr;
    setStoreMessages(nullptr);
}

// --- Views --------------------------------------------------------------------------------

void CVezDoc::addObserver(DocumentObserver* observer)
{
    if (std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void CVezDoc::removeObserver(DocumentObserver* observer) { std::erase(m_observers, observer); }

void CVezDoc::UpdateAllViews(DocumentObserver* sender, UpdateHint hint)
{
    const std::vector<DocumentObserver*> observers = m_observers;
    for (DocumentObserver* observer : observers)
        if (observer != sender)
            observer->onUpdate(sender, hint);
}

// --- Lifecycle ----------------------------------------------------------------------------

void CVezDoc::setServer(std::unique_ptr<QObject> server)
{
    m_server = std::move(server);
}

void CVezDoc::DeleteContents()
{
    beforeReplace();
    m_server.reset();
    if (m_database)
        closeDatabase(m_database);
    m_database = nullptr;
    m_currentGame = -1;
    m_nextGameInGameset = -1;
    m_currentGamesetName.clear();
    m_browsingMode = false;
    m_hogMemory = m_profile.getProfileInt("Hog Memory", 0) != 0;
    m_combineDuplicates = m_profile.getProfileInt("Combine Duplicate Games", 1) != 0;
    m_descriptiveNotation = m_profile.getProfileInt("Descriptive Notation", 0) != 0;
    m_modified = false;
    m_damageFound = false;
    UpdateAllViews(nullptr, UpdateHint::Reset);
    updateTitle();
}

bool CVezDoc::newDatabase(bool nonstandard)
{
    DeleteContents();
    m_pathName.clear();
    DatabaseHeader* db = createInMemory();
    if (!db) {
        m_user.showMessage(nonstandard ? "Could not initialize nonstandard database."
                                       : "Could not initialize database.");
        updateTitle();
        return false;
    }
    adopt(db);
    if (nonstandard)
        m_database->nonstandard = 1;
    updateTitle();
    return true;
}

bool CVezDoc::OnNewDocument() { return newDatabase(false); }

bool CVezDoc::onNewNonstandardDocument() { return newDatabase(true); }

void CVezDoc::adopt(DatabaseHeader* database)
{
    m_database = database;
    setCurrentBase(database);
}

bool CVezDoc::OnOpenDocument(const std::string& path)
{
    const std::string extension = lowerExtension(path);
    if (extension == "pgn" || extension == "cbf" || extension == "bfi" || extension == "g30")
        return browseFile(path);

    DeleteContents();
    DatabaseHeader* db = openMapped(path, kOpenRoom);
    if (!db) {
        m_pathName.clear();
        m_recentFiles.remove(path);
        updateTitle();
        return false;
    }
    m_pathName = path;
    m_recentFiles.add(path);
    adopt(db);
    selectGame(m_database->currentGameNumber, {}, nullptr);
    m_modified = false;
    updateTitle();
    return true;
}

bool CVezDoc::canSaveAs() const { return m_database && (m_pathName.empty() || m_browsingMode); }

bool CVezDoc::saveAs()
{
    if (!canSaveAs())
        return false;
    const std::string path = m_user.chooseSaveFile(
        {"vez", "Chess Database", "VEZ database (*.vez)|*.vez|All Files (*.*)|*.*||"});
    return !path.empty() && OnSaveDocument(path);
}

bool CVezDoc::OnSaveDocument(const std::string& path)
{
    if (!m_database)
        return false;
    beforeReplace();
    std::string error;
    if (!writeToFile(path, &error)) {
        m_user.showMessage(path + ": could not write:\n\t" + error);
        return false;
    }
    DatabaseHeader* saved = openMapped(path, kOpenRoom);
    if (!saved) {
        setCurrentBase(m_database);
        return false;
    }
    closeDatabase(m_database);
    adopt(saved);
    m_pathName = path;
    m_recentFiles.add(path);
    m_browsingMode = false;
    m_database->currentGameNumber = m_currentGame;
    m_modified = false;
    updateTitle();
    return true;
}

bool CVezDoc::SaveModified()
{
    if (!m_database || !m_pathName.empty() || m_browsingMode || !m_modified)
        return true;
    switch (m_user.askSaveChanges(m_title)) {
    case SaveAnswer::Yes: return saveAs();
    case SaveAnswer::No: return true;
    case SaveAnswer::Cancel: break;
    }
    return false;
}

void CVezDoc::updateTitle()
{
    std::string title = m_pathName;
    if (title.empty())
        title = m_browsingMode ? "PGN File Browsing" : m_database ? "New Database" : "No Database";
    const std::size_t separator = lastSeparator(title);
    if (separator != std::string::npos && separator + 1 < title.size())
        title = title.substr(separator + 1);
    const std::size_t dot = title.rfind('.');
    if (dot != std::string::npos)
        title = title.substr(0, dot);
    if (isNonstandard())
        title += " (Nonstandard)";
    m_title = title;
}

bool CVezDoc::isNonstandard() const { return m_database && m_database->nonstandard == 1; }

// --- Games and positions ------------------------------------------------------------------

void CVezDoc::ensureGamesFromSourceGameset(const std::string& source)
{
    const std::string name = std::string(kGamesFromPrefix) + source;
    if (findGameset(name) != 0)
        return;
    GamesetDefinition rule;
    rule.rule = GamesetKind::Plain;
    rule.tag = "Source";
    rule.value = source;
    createGameset(name, rule, true);
}

int CVezDoc::addGame(const Game& game, int requestedNumber)
{
    return addGameCombining(game, requestedNumber, m_combineDuplicates && requestedNumber < 0,
                            nullptr);
}

int CVezDoc::addAnalysedGame(const Game& game)
{
    const int number = addGameCombining(game, -1, true, nullptr);
    // Folding keeps the stored copy's tag values; the analysis's are newer.
    if (number >= 0)
        for (const TagPair& tag : game.tags)
            setGameTag(gameByNumber(std::uint32_t(number)), tag.name, tag.value);
    return number;
}

int CVezDoc::addGameCombining(const Game& game, int requestedNumber, bool combine,
                              AddOutcome* outcome, const PreparedGame* prepared)
{
    assert(onDocumentThread());
    AddOutcome ignored;
    AddOutcome& result = outcome ? *outcome : ignored;
    result = AddOutcome::NotStored;
    if (!m_database || m_damageFound || !claimRoom(roomToStore(game)))
        return -1;
    try {
        return storeInDatabase(game, requestedNumber, combine, result, prepared);
    } catch (const DamagedDatabase& damage) {
        reportDamage(damage.what());
        result = AddOutcome::NotStored;
        return -1;
    }
}

int CVezDoc::storeInDatabase(const Game& game, int requestedNumber, bool combine,
                             AddOutcome& result, const PreparedGame* prepared)
{
    std::string comment;
    if (requestedNumber < 0 && game.isCommentOnly(&comment)) {
        const std::string source = game.getTag("Source");
        if (comment == "%")
            comment = vez::noteText(game.startPosition);
        DbOffset record = setNote(game.startPosition, comment);
        if (record != 0) {
            result = AddOutcome::Position;
            if (source == "user")
                markUserNote(record);
            else if (source == "flashcard") {
                if (!isFlashcard(record))
                    addFlashcard(record);
            } else if (comment.starts_with("ECO["))
                m_database->hasEcoBook = 1;
        }
        SetModifiedFlag(true);
        return -1;
    }
    if (game.getTag(kSpecialTag) == kEcoBookValue)
        m_database->hasEcoBook = 1;
    else if (game.hasTag("Source"))
        ensureGamesFromSourceGameset(game.getTag("Source"));
    bool combined = false;
    const std::optional<std::uint32_t> number = storeGame(game, combine, prepared, &combined);
    if (!number)
        return -1;
    result = combined ? AddOutcome::Combined : AddOutcome::Stored;
    if (requestedNumber >= 0 && std::uint32_t(requestedNumber) != *number)
        vez::deleteGame(std::uint32_t(requestedNumber));
    SetModifiedFlag(true);
    return int(*number);
}

bool CVezDoc::addPositionAnnotation(const Position& position, const PositionAnnotation& annotation)
{
    assert(onDocumentThread());
    if (!m_database || !claimRoom(kRoomForPosition + 2 * annotation.note.size()))
        return false;
    DbOffset record = findOrAddRoot(position);
    if (record == 0)
        return false;
    if (annotation.score != kNoScore)
        record = setScore(position, annotation.score);
    if (!annotation.note.empty() && annotation.note != "%") {
        record = setNote(position, annotation.note);
        if (annotation.note.starts_with("ECO["))
            m_database->hasEcoBook = 1;
    }
    record = findPosition(position);
    if (record != 0 && annotation.userNotation)
        record = markUserNote(record);
    if (record != 0 && annotation.flashcard && !isFlashcard(record))
        addFlashcard(record);
    SetModifiedFlag(true);
    return true;
}

void CVezDoc::selectGame(int gameNumber, const std::string& gamesetName, DocumentObserver* sender)
{
    m_currentGame = gameNumber;
    if (m_database)
        m_database->currentGameNumber = gameNumber;
    const DbOffset gameset = !gamesetName.empty() && m_database ? findGameset(gamesetName) : 0;
    if (gameset == 0) {
        m_nextGameInGameset = -1;
        m_currentGamesetName.clear();
    } else {
        const std::int32_t next = nextMember(gameset, gameNumber);
        if (last(gameset) < next) {
            m_nextGameInGameset = -1;
            m_currentGamesetName.clear();
        } else {
            m_nextGameInGameset = next;
            m_currentGamesetName = gamesetName;
        }
    }
    SetModifiedFlag(true);
    UpdateAllViews(sender, UpdateHint::GameSelected);
}

void CVezDoc::selectNextGameInGameset()
{
    if (m_nextGameInGameset >= 0)
        selectGame(m_nextGameInGameset, m_currentGamesetName, nullptr);
}

void CVezDoc::clearGame()
{
    m_currentGame = -1;
    if (m_database)
        m_database->currentGameNumber = -1;
    UpdateAllViews(nullptr, UpdateHint::Reset);
}

bool CVezDoc::deleteGame(int gameNumber)
{
    assert(onDocumentThread());
    // A position a gameset names outlives the game as a record of its own: that is room.
    if (!m_database || gameNumber < 0 || m_damageFound || !claimRoom(kRoomForPosition))
        return false;
    try {
        vez::deleteGame(std::uint32_t(gameNumber));
    } catch (const DamagedDatabase& damage) {
        reportDamage(damage.what());
        return false;
    }
    SetModifiedFlag(true);
    if (gameNumber == m_currentGame)
        clearGame();
    return true;
}

bool CVezDoc::claimRoom(std::uint64_t bytes)
{
    if (reserveRoom(bytes))
        return true;
    // The store has said why. The change is refused before any of it is written, and a
    // running import stops after the games it has stored.
    m_outOfRoom = true;
    return false;
}

void CVezDoc::claimRoomAhead(std::uint64_t bytes)
{
    // Growing once for a whole file spares growing game by game; a disk that cannot give
    // that much may still hold the games, which then claim their room one by one.
    std::string ignored;
    if (m_database && !m_pathName.empty())
        (void)reserveRoom(bytes, &ignored);
}

bool CVezDoc::ensureRoom(std::uint64_t count, std::uint64_t bytesPerItem)
{
    assert(onDocumentThread());
    if (!m_database)
        return false;
    const bool ok = vez::ensureRoom(m_database, m_pathName, count, bytesPerItem);
    if (m_database) {
        setCurrentBase(m_database);
    } else {
        // Even the former room could not be mapped again: the document has no database.
        m_pathName.clear();
        DeleteContents();
    }
    return ok;
}

// Linux has no working-set quota to raise; the nearest help is to ask the kernel to read
// the image in ahead of use. It is advice: a refusal changes nothing.
void CVezDoc::claimWorkingSet(std::uint64_t bytes)
{
    if (!m_hogMemory || !m_database)
        return;
    const std::uint64_t mapped = m_database->committedBytes;
    const std::uint64_t length = std::min<std::uint64_t>(bytes, mapped);
    if (length > 0)
        (void)madvise(reinterpret_cast<void*>(m_database), length, MADV_WILLNEED);
}

bool CVezDoc::setPositionNote(const Position& position, const std::string& text,
                              DocumentObserver* sender)
{
    assert(onDocumentThread());
    if (!m_database || !claimRoom(kRoomForPosition + 2 * text.size()))
        return false;
    const DbOffset record = setNote(position, text);
    if (record != 0)
        markUserNote(record);
    SetModifiedFlag(true);
    UpdateAllViews(sender, UpdateHint::PositionNote);
    return true;
}

bool CVezDoc::setPositionScore(const Position& position, std::int32_t score,
                               DocumentObserver* sender)
{
    assert(onDocumentThread());
    if (!m_database || !claimRoom(kRoomForPosition))
        return false;
    setScore(position, score);
    SetModifiedFlag(true);
    UpdateAllViews(sender, UpdateHint::PositionScore);
    return true;
}

// --- Queries ------------------------------------------------------------------------------

std::vector<GraphEdge> CVezDoc::movesFrom(const Position& position) const
{
    if (!m_database)
        return {};
    const DbOffset record = findPosition(position);
    return record ? successorMoves(record) : std::vector<GraphEdge>{};
}

std::vector<GraphEdge> CVezDoc::movesInto(const Position& position) const
{
    if (!m_database)
        return {};
    const DbOffset record = findPosition(position);
    return record ? predecessorMoves(record) : std::vector<GraphEdge>{};
}

PositionCounts CVezDoc::countsOf(const Position& position) const
{
    return m_database ? positionCounts(position) : PositionCounts{};
}

std::string CVezDoc::noteText(const Position& position) const
{
    return m_database ? vez::noteText(position) : std::string{};
}

std::string CVezDoc::ecoText(const Position& position) const
{
    return m_database ? vez::ecoText(position) : std::string{};
}

bool CVezDoc::gameExists(int gameNumber) const
{
    return m_database && gameNumber >= 0 && gameByNumber(std::uint32_t(gameNumber)) != 0;
}

bool CVezDoc::readGame(int gameNumber, Game& game, bool withMoves) const
{
    try {
        if (!gameExists(gameNumber))
            return false;
        game.clear();
        vez::readGame(gameByNumber(std::uint32_t(gameNumber)), game, withMoves);
        return true;
    } catch (const DamagedDatabase& damage) {
        game.clear();
        reportDamage("game " + std::to_string(gameNumber) + ": damaged: " + damage.detail());
        return false;
    }
}

std::vector<int> CVezDoc::gameNumbers() const
{
    std::vector<int> numbers;
    if (!m_database)
        return numbers;
    try {
        for (std::uint32_t n = 0; n < m_database->gameNumbersIssued; ++n)
            if (gameByNumber(n) != 0)
                numbers.push_back(int(n));
    } catch (const DamagedDatabase& damage) {
        // The numbers found before the damage are still worth listing.
        reportDamage(damage.what());
    }
    return numbers;
}

std::vector<int> CVezDoc::gamesThroughPosition(const Position& position)
{
    std::vector<int> numbers;
    if (!m_database)
        return numbers;
    const DbOffset old = findGameset(kTemporarySelectionName);
    if (old != 0)
        deleteGameset(old);
    GamesetDefinition rule;
    rule.rule = GamesetKind::Union;
    rule.fen = position;
    const DbOffset set = createGameset(kTemporarySelectionName, rule, false);
    if (set == 0)
        return numbers;
    for (std::int32_t n : members(set))
        numbers.push_back(n);
    deleteGameset(set);
    return numbers;
}

std::vector<int> CVezDoc::gamesPassingThrough(const Position& position) const
{
    std::vector<int> numbers;
    const DbOffset record = m_database ? findPosition(position) : 0;
    if (record != 0)
        findGamesThrough(record, [&](std::uint32_t n) { numbers.push_back(int(n)); });
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

// --- Gamesets -----------------------------------------------------------------------------

std::vector<std::string> CVezDoc::gamesetNames() const
{
    return m_database ? vez::gamesetNames() : std::vector<std::string>{};
}

bool CVezDoc::createGamesetFromText(const std::string& name, const GamesetRule& rule)
{
    // A member costs a range at most; the set, its texts and their pools come on top.
    if (!m_database ||
        !claimRoom(kRoomForPosition +
                   2 * sizeof(IntRange) * std::uint64_t(m_database->gameNumbersIssued)))
        return false;
    claimWorkingSet(usedBytesOf(m_database));
    return vez::createGamesetFromText(name, rule) != 0;
}

bool CVezDoc::gamesetExists(const std::string& name) const
{
    return m_database && findGameset(name) != 0;
}

std::vector<int> CVezDoc::gamesetMembers(const std::string& name) const
{
    std::vector<int> numbers;
    const DbOffset set = m_database ? findGameset(name) : 0;
    if (set != 0)
        for (std::int32_t n : members(set))
            numbers.push_back(n);
    return numbers;
}

void CVezDoc::addToGameset(const std::string& name, int gameNumber)
{
    const DbOffset set = m_database ? findGameset(name) : 0;
    if (set != 0) {
        addMember(set, gameNumber);
        SetModifiedFlag(true);
    }
}

void CVezDoc::removeFromGameset(const std::string& name, int gameNumber)
{
    const DbOffset set = m_database ? findGameset(name) : 0;
    if (set != 0) {
        removeMember(set, gameNumber);
        SetModifiedFlag(true);
    }
}

bool CVezDoc::canDeleteGamesetByName(const std::string& name) const
{
    const DbOffset set = m_database ? findGameset(name) : 0;
    return set != 0 && canDeleteGameset(set);
}

bool CVezDoc::deleteGamesetByName(const std::string& name)
{
    const DbOffset set = m_database ? findGameset(name) : 0;
    if (set == 0 || !deleteGameset(set))
        return false;
    if (name == m_currentGamesetName) {
        m_currentGamesetName.clear();
        m_nextGameInGameset = -1;
    }
    SetModifiedFlag(true);
    return true;
}

void CVezDoc::addToSelectedGames(int gameNumber)
{
    if (!m_database)
        return;
    const std::string name(kSelectedGamesName);
    if (findGameset(name) == 0) {
        GamesetDefinition rule;
        rule.rule = GamesetKind::Fixed;
        createGameset(name, rule, false);
    }
    addToGameset(name, gameNumber);
}

// --- Database commands --------------------------------------------------------------------

bool CVezDoc::mergeDatabase(const std::string& otherPath)
{
    if (!m_database)
        return false;
    const std::unique_ptr<Progress> progress = m_user.openProgress("Database Merging");
    DatabaseHeader* other = openMapped(otherPath, 0);
    setCurrentBase(m_database);
    if (!other) {
        m_user.showMessage("Could not map database file " + otherPath + ".");
        return false;
    }
    if (other->nonstandard != m_database->nonstandard) {
        m_user.showMessage(otherPath + ": incompatibility with nonstandard games");
        closeDatabase(other);
        return false;
    }
    const std::uint32_t issued = other->gameNumbersIssued;
    ensureRoom(usedBytesOf(other), 1);
    if (!m_database) {
        closeDatabase(other);
        return false;
    }
    Game game;
    for (std::uint32_t i = 0; i < issued; ++i) {
        progress->update(otherPath, issued, i);
        setCurrentBase(other);
        const DbOffset record = gameByNumber(i);
        if (record != 0) {
            game.clear();
            vez::readGame(record, game, true);
        }
        setCurrentBase(m_database);
        if (record != 0 && !claimRoom(roomToStore(game)))
            break;
        if (record != 0)
            storeGame(game, m_combineDuplicates);
    }
    closeDatabase(other);
    setCurrentBase(m_database);
    SetModifiedFlag(true);
    UpdateAllViews(nullptr, UpdateHint::Bulk);
    return true;
}

bool CVezDoc::canCreateDatabaseFromGameset() const
{
    return m_database && !m_importRunning && gamesetCount() > 0;
}

bool CVezDoc::createDatabaseFromGameset(const std::string& gamesetName)
{
    if (!canCreateDatabaseFromGameset())
        return false;
    if ((m_pathName.empty() || m_browsingMode) &&
        !m_user.askOkCancel("This command will lose all the other games in your unsaved "
                            "database; use Save As first if you want to preserve them."))
        return false;
    const DbOffset set = findGameset(gamesetName);
    if (set == 0)
        return false;
    const std::vector<std::int32_t> numbers = members(set);
    beforeReplace();
    DatabaseHeader* created = createInMemory();
    setCurrentBase(m_database);
    if (!created) {
        m_user.showMessage("Could not create new database.");
        return false;
    }
    created->nonstandard = m_database->nonstandard;
    created->compressionThresholdPly = m_database->compressionThresholdPly;
    Game game;
    for (std::int32_t n : numbers) {
        const DbOffset record = gameByNumber(std::uint32_t(n));
        if (record == 0)
            continue;
        game.clear();
        vez::readGame(record, game, true);
        setCurrentBase(created);
        storeGame(game, m_combineDuplicates);
        setCurrentBase(m_database);
    }
    DeleteContents();
    adopt(created);
    m_pathName.clear();
    updateTitle();
    m_database->currentGameNumber = -1;
    m_currentGame = -1;
    SetModifiedFlag(true);
    UpdateAllViews(nullptr, UpdateHint::Bulk);
    return true;
}

void CVezDoc::aliasPlayerNames(const std::string& primary, const std::string& alias)
{
    if (!m_database)
        return;
    if (primary.empty() || alias.empty()) {
        m_user.beep();
        return;
    }
    aliasPlayer(primary, alias);
    SetModifiedFlag(true);
    UpdateAllViews(nullptr, UpdateHint::PlayersAliased);
}

bool CVezDoc::nameNormalization() const
{
    return m_database && m_database->nameNormalizationOff == 0;
}

void CVezDoc::toggleNameNormalization()
{
    if (m_database) {
        m_database->nameNormalizationOff = m_database->nameNormalizationOff ? 0 : 1;
        noteImageChange(m_database);
    }
}

void CVezDoc::toggleDescriptiveNotation()
{
    if (isNonstandard())
        return;
    m_descriptiveNotation = !m_descriptiveNotation;
    m_profile.writeProfileInt("Descriptive Notation", m_descriptiveNotation ? 1 : 0);
    UpdateAllViews(nullptr, UpdateHint::Bulk);
}

void CVezDoc::toggleHogMemory()
{
    m_hogMemory = !m_hogMemory;
    m_profile.writeProfileInt("Hog Memory", m_hogMemory ? 1 : 0);
}

void CVezDoc::toggleCombineDuplicates() { m_combineDuplicates = !m_combineDuplicates; }

int CVezDoc::compressionThreshold() const
{
    return m_database ? m_database->compressionThresholdPly : 0;
}

void CVezDoc::setCompressionThreshold(int ply)
{
    if (m_database) {
        m_database->compressionThresholdPly = ply;
        noteImageChange(m_database);
        SetModifiedFlag(true);
    }
}

std::string CVezDoc::statisticsText() const
{
    if (!m_database)
        return "No database";
    const std::string name =
        m_pathName.empty() || m_browsingMode ? "Unestablished database" : m_pathName;
    try {
        return name + ":\n\n" + statisticsReport();
    } catch (const DamagedDatabase& damage) {
        reportDamage(damage.what());
        return name + ":\n\n" + damage.what();
    }
}

std::vector<std::string> CVezDoc::validate() const
{
    return m_database ? validateDatabase() : std::vector<std::string>{};
}

void CVezDoc::reportDamage(const std::string& message) const
{
    m_damageFound = true;
    m_user.showMessage(message);
}

// --- Crossing threads ---------------------------------------------------------------------

bool CVezDoc::onDocumentThread() const
{
    return QThread::currentThread() == m_threadAnchor->thread();
}

void CVezDoc::callOnDocumentThread(const std::function<void()>& function)
{
    PendingCall call;
    startCall(call, function);
    awaitCall(call);
}

void CVezDoc::startCall(PendingCall& call, const std::function<void()>& function)
{
    if (onDocumentThread()) {
        function();
        call = {&function, true};
        return;
    }
    {
        std::lock_guard lock(m_callMutex);
        call = {&function, false};
        m_calls.push_back(&call);
    }
    postWakeEvent(m_threadAnchor.get());
}

void CVezDoc::awaitCall(PendingCall& call)
{
    std::unique_lock lock(m_callMutex);
    m_callDone.wait(lock, [&] { return call.done; });
}

void CVezDoc::serveCalls()
{
    for (;;) {
        PendingCall* call = nullptr;
        {
            std::lock_guard lock(m_callMutex);
            if (m_calls.empty())
                return;
            call = m_calls.front();
            m_calls.pop_front();
        }
        (*call->function)();
        {
            std::lock_guard lock(m_callMutex);
            call->done = true;
        }
        m_callDone.notify_all();
    }
}

int CVezDoc::sendImportNotification(const ImportRequest& request)
{
    int result = 0;
    callOnDocumentThread([&] { result = handleImportNotification(request); });
    return result;
}

int CVezDoc::handleImportNotification(const ImportRequest& request)
{
    if (m_damageFound && request.code != ImportNotification::Finished)
        return -1;
    try {
        return handleImportRequest(request);
    } catch (const DamagedDatabase& damage) {
        // The game in hand may be half stored; the rest of the import would build on the
        // damage, so it stops here.
        m_stopWorker = true;
        reportDamage(damage.what());
        return -1;
    }
}

int CVezDoc::handleImportRequest(const ImportRequest& request)
{
    switch (request.code) {
    case ImportNotification::EnsureRoom:
        claimRoomAhead(request.count * request.bytesPerItem);
        return 1;
    case ImportNotification::AddGame: {
        const int number = addGameCombining(*request.game, -1, m_combineDuplicates, request.outcome,
                                            request.prepared);
        if (m_database)
            m_importHeapTop.store(usedBytesOf(m_database), std::memory_order_relaxed);
        if (request.hint != UpdateHint::None)
            UpdateAllViews(nullptr, request.hint);
        return number;
    }
    case ImportNotification::AddPosition: {
        const bool stored = addPositionAnnotation(*request.position, *request.annotation);
        if (request.hint != UpdateHint::None)
            UpdateAllViews(nullptr, request.hint);
        return stored ? 1 : 0;
    }
    case ImportNotification::Finished:
        m_importRunning = false;
        UpdateAllViews(nullptr, UpdateHint::Bulk);
        return 1;
    case ImportNotification::SplitGame: splitGame(*request.game, request.path); return 1;
    }
    return 0;
}

void CVezDoc::waitForImport()
{
    while (m_importRunning)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (m_importThread.joinable())
        m_importThread.join();
}

} // namespace vez
