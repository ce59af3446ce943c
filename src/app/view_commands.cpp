// The view's commands on the game as a whole: saving, selecting, notes, glyphs, scores,
// flashcards, the clipboard and files, and what the analysis windows send.
#include <cerrno>
#include <cstring>
#include <fstream>

#include <QDate>

#include "app/pane_builders.h"
#include "app/user_interaction.h"
#include "app/view_logic.h"
#include "chess/fen.h"
#include "interchange/pgn_writer.h"

namespace vez {

namespace {

// The notes pane's line ends as the database keeps them.
std::string databaseLineEnds(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' || text[i] == '\r')
            out += "\r\n";
        else
            out += text[i];
    }
    return out;
}

} // namespace

// --- Save and select ----------------------------------------------------------------------

bool ViewLogic::canSave() const { return !m_setupMode && m_doc.database() != nullptr; }

bool ViewLogic::save()
{
    if (m_setupMode)
        return false;
    commitNote();
    if (!m_doc.database()) {
        m_user.showMessage("No database is open; the game was not saved.");
        return false;
    }
    if ((m_game.white.empty() || m_game.black.empty()) && !m_client.editTags(m_game))
        return false;
    if (!m_game.hasTag("Source"))
        m_game.setTag("Source", "user");
    if (m_game.year == 0) {
        const QDate today = QDate::currentDate();
        m_game.year = today.year();
        m_game.month = today.month();
        m_game.day = today.day();
    }
    std::vector<Move> replay;
    for (const MoveEntry* entry : lineEntries(*m_currentLine))
        if (static_cast<int>(replay.size()) < m_currentPly)
            replay.push_back(entry->move);

    const int number = m_doc.addGame(m_game, m_storedGameNumber);
    if (number < 0) {
        // The edited game is all the user has: keep it, still marked as not saved.
        m_gameModified = true;
        m_user.showMessage("The game could not be stored in the database.");
        m_client.statusChanged();
        return false;
    }
    m_gameModified = false;
    m_doc.selectGame(number, {}, nullptr);
    m_doc.addToSelectedGames(number);
    for (const Move move : replay)
        if (!enterMove(move, MoveGlyph::None, true))
            break;
    refresh(false);
    return true;
}

void ViewLogic::startNewGame()
{
    if (m_setupMode)
        return;
    commitNote();
    m_doc.clearGame();
}

void ViewLogic::editTags()
{
    if (m_setupMode)
        return;
    commitNote();
    if (m_client.editTags(m_game)) {
        markModified();
        refresh(true);
    }
}

bool ViewLogic::canSelectGameFromPosition() const
{
    if (m_setupMode)
        return false;
    const std::uint32_t games = m_doc.countsOf(shownPosition()).games;
    return games >= 1 && games <= 499;
}

std::optional<std::vector<int>> ViewLogic::gamesForPositionSelection()
{
    commitNote();
    const Position position = shownPosition();
    if (m_doc.countsOf(position).games > 500) {
        m_user.showMessage("Too many games contain this position; make some more moves before "
                           "selecting a game.");
        return std::nullopt;
    }
    return m_doc.gamesPassingThrough(position);
}

void ViewLogic::selectGameFromPosition(int gameNumber)
{
    if (m_setupMode || gameNumber < 0)
        return;
    const Position chosen = shownPosition();
    selectChosenGame(gameNumber, {});
    while (m_currentPly < endPly() && differentPosition(shownPosition(), chosen))
        ++m_currentPly;
    refresh(false);
}

void ViewLogic::selectGameFromGameset(int gameNumber, const std::string& gamesetName)
{
    if (m_setupMode || gameNumber < 0)
        return;
    m_doc.clearGame();
    selectChosenGame(gameNumber, gamesetName);
}

void ViewLogic::selectChosenGame(int gameNumber, const std::string& gamesetName)
{
    commitNote();
    resetGame();
    m_doc.selectGame(gameNumber, gamesetName, nullptr);
    m_doc.addToSelectedGames(gameNumber);
}

// --- Notes and glyphs ---------------------------------------------------------------------

void ViewLogic::noteEdited(const std::string& text) { m_pendingNote = text; }

bool ViewLogic::commitNote()
{
    if (!m_pendingNote)
        return false;
    const std::string typed = *m_pendingNote;
    m_pendingNote.reset();
    // A pane that reports the text it was given has changed nothing: storing it again would
    // turn a Latin-1 comment into UTF-8.
    if (typed == shownComment())
        return false;
    const std::string text = databaseLineEnds(typed);
    MoveEntry* entry = mutableEntryJustPlayed();
    std::string& comment = entry ? entry->comment : m_game.initialComment;
    if (comment == text)
        return false;
    comment = text;
    const Position position = shownPosition();
    // A note the database could not take (a full disk) still lives in the game's comment,
    // which a Save stores.
    if (!m_doc.positionExists(position) || !m_doc.setPositionNote(position, text, this))
        markModified();
    return true;
}

void ViewLogic::setGlyph(int ply, MoveGlyph glyph)
{
    if (m_setupMode)
        return;
    commitNote();
    const std::vector<const MoveEntry*> entries = lineEntries(*m_currentLine);
    if (ply < 0 || ply >= static_cast<int>(entries.size()))
        return;
    auto* entry = const_cast<MoveEntry*>(entries[static_cast<std::size_t>(ply)]);
    entry->glyph = static_cast<int>(glyph);
    const Position before = m_game.positionAtPly(*m_currentLine, ply);
    if (!m_doc.setGraphGlyph(before, entry->move, glyph))
        markModified();
    refresh(true);
}

// --- Scores and flashcards ----------------------------------------------------------------

std::int32_t ViewLogic::currentScore() const
{
    if (const MoveEntry* entry = entryJustPlayed())
        return entry->score;
    return m_doc.scoreOf(shownPosition());
}

void ViewLogic::setScore(std::int32_t score)
{
    if (m_setupMode)
        return;
    commitNote();
    if (MoveEntry* entry = mutableEntryJustPlayed()) {
        entry->score = score;
        markModified();
    } else {
        m_doc.setPositionScore(shownPosition(), score, this);
    }
    refresh(true);
}

bool ViewLogic::isFlashcard() const { return m_doc.isFlashcardPosition(shownPosition()); }

void ViewLogic::toggleFlashcard()
{
    if (m_setupMode || !m_doc.database())
        return;
    commitNote();
    m_doc.toggleFlashcard(shownPosition());
    refresh(true);
}

bool ViewLogic::canPickFlashcard() const { return !m_setupMode && m_doc.hasFlashcards(); }

void ViewLogic::pickFlashcard()
{
    if (m_setupMode)
        return;
    commitNote();
    Position next;
    if (!m_doc.nextFlashcard(shownPosition(), next)) {
        m_user.showMessage("No flashcards defined in this database.");
        return;
    }
    startFromPosition(next);
    refresh(false);
}

void ViewLogic::startFromPosition(const Position& position)
{
    m_doc.clearGame();
    resetGame();
    m_game.startPosition = position;
}

// --- Clipboard and files ------------------------------------------------------------------

std::string ViewLogic::copyPgn() const { return writeGameToText(m_game, m_doc.isNonstandard()); }

std::string ViewLogic::cutPgn()
{
    commitNote();
    std::string text = copyPgn();
    const int number = m_doc.getCurrentGame();
    if (number >= 0 && AnalysisJob::jobsHoldingGames() == 0)
        m_doc.deleteGame(number);
    return text;
}

bool ViewLogic::exportPgn(const std::string& path)
{
    commitNote();
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file)
        writeGameToFile(m_game, file, m_doc.isNonstandard());
    if (file)
        file.close();
    if (!file) {
        m_user.showMessage(path + ": could not export PGN:\n\t" + std::strerror(errno));
        return false;
    }
    return true;
}

int ViewLogic::pastePgn(const std::string& clipboardText)
{
    if (m_setupMode)
        return 0;
    commitNote();
    return m_doc.pasteGames(clipboardText);
}

std::string ViewLogic::copyEpd() const
{
    const Position position = shownPosition();
    PositionAnnotation annotation;
    const MoveEntry* entry = entryJustPlayed();
    annotation.score = entry && entry->score != kNoScore ? entry->score : m_doc.scoreOf(position);
    annotation.note = entry && !entry->comment.empty() ? entry->comment
                      : m_pendingNote                  ? databaseLineEnds(*m_pendingNote)
                      : entry                          ? std::string{}
                                                       : m_game.initialComment;
    // Without the mark a pasted note would not be stored.
    annotation.userNotation = annotation.note.empty() ? 0 : 1;
    annotation.flashcard = m_doc.isFlashcardPosition(position) ? 1 : 0;
    return writeEpd(position, &annotation);
}

void ViewLogic::pasteEpd(const std::string& clipboardText)
{
    if (m_setupMode)
        return;
    commitNote();
    const std::size_t lineEnd = clipboardText.find_first_of("\r\n");
    std::string line = clipboardText.substr(0, lineEnd);
    if (lineEnd != std::string::npos &&
        clipboardText.find_first_not_of(" \t\r\n", lineEnd) != std::string::npos)
        m_user.showMessage("Multiple lines in Clipboard data; only first line read!");
    Position position;
    PositionAnnotation annotation;
    if (!readEpd(position, line, &annotation)) {
        m_user.showMessage("Bad EPD in Clipboard: " + line);
        return;
    }
    startFromPosition(position);
    if (annotation.score != kNoScore)
        m_doc.setPositionScore(position, annotation.score, this);
    if (annotation.flashcard && m_doc.database() && !m_doc.isFlashcardPosition(position))
        m_doc.toggleFlashcard(position);
    if (annotation.userNotation)
        m_doc.setPositionNote(position, annotation.note, this);
    m_game.initialComment = m_doc.noteText(position);
    markModified();
    refresh(false);
}

// --- Analysis windows ---------------------------------------------------------------------

void ViewLogic::analysisClosed(AnalysisJob& job)
{
    if (&job == m_coPilot)
        m_coPilot = nullptr;
}

void ViewLogic::analysisVariation(AnalysisJob&, int centipawns, const Position& position,
                                  const std::vector<Move>& moves)
{
    if (m_setupMode || differentPosition(position, shownPosition()))
        return;
    std::vector<MoveWithGlyph> line;
    for (const Move move : moves)
        line.push_back({move, 0});
    bool changed =
        !line.empty() && m_game.addLine(*m_currentLine, m_currentPly, line, kNoScore, {});
    if (MoveEntry* entry = mutableEntryJustPlayed()) {
        changed = changed || entry->score != centipawns;
        entry->score = centipawns;
    } else {
        m_doc.setPositionScore(position, centipawns, this);
    }
    if (changed)
        markModified();
    refresh(true);
}

} // namespace vez
