// The document's operations for the view and the dialogs: positions' scores, flashcards and
// glyphs, the name lists, Paste PGN and the EPD exports.
#include <cassert>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "app/document.h"
#include "app/user_interaction.h"
#include "interchange/pgn_reader.h"
#include "store/flashcards.h"
#include "store/names.h"
#include "store/notes.h"

namespace vez {

void CVezDoc::addReplaceListener(std::function<void()> listener)
{
    m_replaceListeners.push_back(std::move(listener));
}

void CVezDoc::beforeReplace()
{
    for (const auto& listener : m_replaceListeners)
        listener();
}

std::int32_t CVezDoc::scoreOf(const Position& position) const
{
    std::int32_t score = kNoScore;
    if (!m_database)
        return score;
    const DbOffset record = findPosition(position);
    if (record == 0 || !getScore(record, score))
        return kNoScore;
    return score;
}

bool CVezDoc::positionExists(const Position& position) const
{
    return m_database && findPosition(position) != 0;
}

bool CVezDoc::isFlashcardPosition(const Position& position) const
{
    if (!m_database)
        return false;
    const DbOffset record = findPosition(position);
    return record != 0 && vez::isFlashcard(record);
}

bool CVezDoc::hasFlashcards() const { return m_database && flashcardAt(0) != 0; }

bool CVezDoc::toggleFlashcard(const Position& position)
{
    if (!m_database)
        return false;
    const bool on = vez::toggleFlashcard(position);
    SetModifiedFlag(true);
    return on;
}

bool CVezDoc::nextFlashcard(const Position& current, Position& next) const
{
    return m_database && vez::nextFlashcard(current, next);
}

bool CVezDoc::setGraphGlyph(const Position& before, Move move, MoveGlyph glyph)
{
    if (!m_database)
        return false;
    const DbOffset from = findPosition(before);
    if (from == 0)
        return false;
    Position after = before;
    makeMove(after, move);
    const DbOffset to = findPosition(after);
    if (to == 0)
        return false;
    bool linked = false;
    for (const GraphEdge& edge : successorMoves(from))
        linked = linked || edge.move == move;
    if (!linked)
        return false;
    setMoveGlyph(to, move, glyph);
    SetModifiedFlag(true);
    return true;
}

std::vector<std::string> CVezDoc::playerNames()
{
    std::vector<std::string> names;
    if (!m_database)
        return names;
    claimWorkingSet(usedBytesOf(m_database));
    listPlayers(names);
    return names;
}

std::vector<std::string> CVezDoc::eventNames() const
{
    std::vector<std::string> names;
    if (m_database)
        listDictionary(Dictionary::Event, names);
    return names;
}

std::vector<std::string> CVezDoc::tagNames() const
{
    std::vector<std::string> names;
    if (m_database)
        listDictionary(Dictionary::TagName, names);
    return names;
}

int CVezDoc::pasteGames(const std::string& text)
{
    if (!m_database)
        return 0;
    PgnSource source;
    source.openText(text);
    Game game;
    int lastStored = -1;
    int stored = 0;
    for (int count = 1;; ++count) {
        game.clear();
        try {
            if (!readPgnGame(game, source, isNonstandard()))
                break;
        } catch (const PGNGameException& error) {
            m_user.showMessage("Error in game " + std::to_string(count) + " from Clipboard, line " +
                               std::to_string(source.lineNumber()) + ": " + error.message());
            break;
        } catch (const std::exception&) {
            m_user.showMessage("Unknown exception raised while parsing game " +
                               std::to_string(count) + " from Clipboard");
            break;
        }
        if (!game.hasTag("Source"))
            game.setTag("Source", "Clipboard");
        const int number = addGame(game, -1);
        if (number >= 0) {
            lastStored = number;
            ++stored;
        }
    }
    if (lastStored >= 0)
        selectGame(lastStored, {}, nullptr);
    return stored;
}

namespace {

// Writes one EPD line per position the visitor hands out; false after a message when the
// file cannot be written.
bool writeEpdFile(UserInteraction& user, const std::string& path,
                  const std::function<void(std::ofstream&)>& writeLines)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out)
        writeLines(out);
    if (out)
        out.close();
    if (!out) {
        user.showMessage(path + ": could not write:\n\t" + std::strerror(errno));
        return false;
    }
    return true;
}

PositionAnnotation annotationOf(DbOffset record, bool flashcard)
{
    PositionAnnotation annotation;
    std::int32_t score = kNoScore;
    if (getScore(record, score))
        annotation.score = score;
    annotation.note = noteText(record);
    annotation.userNotation = 1;
    annotation.flashcard = flashcard ? 1 : 0;
    return annotation;
}

} // namespace

bool CVezDoc::exportUserNotes(const std::string& path)
{
    if (!m_database)
        return false;
    return writeEpdFile(m_user, path, [](std::ofstream& out) {
        forEachUserNote([&out](DbOffset record) {
            Position position;
            const PositionAnnotation annotation = annotationOf(record, isFlashcard(record));
            if (!annotation.note.empty() && reconstructPosition(record, position))
                out << writeEpd(position, &annotation) << '\n';
            return 0;
        });
    });
}

bool CVezDoc::exportFlashcards(const std::string& path)
{
    if (!m_database)
        return false;
    return writeEpdFile(m_user, path, [](std::ofstream& out) {
        for (std::uint32_t i = 0;; ++i) {
            const DbOffset record = flashcardAt(i);
            if (record == 0)
                break;
            Position position;
            const PositionAnnotation annotation = annotationOf(record, true);
            if (reconstructPosition(record, position))
                out << writeEpd(position, &annotation) << '\n';
        }
    });
}

} // namespace vez
