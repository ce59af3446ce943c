#include "app/view_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <QDate>

#include "app/pane_builders.h"
#include "app/user_interaction.h"
#include "chess/movegen.h"
#include "chess/notation.h"

namespace vez {

ScoreInput parseScoreText(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const std::string trimmed = text.substr(first, last - first + 1);
    if (trimmed.find_first_not_of("+-.0123456789") != std::string::npos)
        return {};
    char* end = nullptr;
    const double pawns = std::strtod(trimmed.c_str(), &end);
    // A score far beyond any position's worth is a typing slip, and would not fit.
    if (end != trimmed.c_str() + trimmed.size() || !std::isfinite(pawns) || std::fabs(pawns) > 1e7)
        return {};
    const auto centipawns = static_cast<std::int32_t>(std::lround(pawns * 100));
    if (centipawns == kNoScore)
        return {};
    return {true, centipawns};
}

std::string scoreDialogText(std::int32_t score)
{
    if (score == kNoScore)
        return {};
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", score / 100.0);
    return buffer;
}

ViewLogic::ViewLogic(CVezDoc& doc, UserInteraction& user, ViewClient& client)
    : m_doc(doc), m_user(user), m_client(client), m_currentLine(&m_game)
{
    m_doc.addObserver(this);
}

ViewLogic::~ViewLogic() { m_doc.removeObserver(this); }

void ViewLogic::setPanesCreated()
{
    m_panesCreated = true;
    resetGame();
    reloadGame();
    refresh(false);
}

Position ViewLogic::shownPosition() const
{
    return m_game.positionAtPly(*m_currentLine, m_currentPly);
}

const MoveEntry* ViewLogic::entryJustPlayed() const
{
    if (m_currentPly <= 0)
        return nullptr;
    const int ply = m_currentPly - 1;
    const GameLine* owner = m_currentLine;
    while (ply < owner->startPly && owner->parent)
        owner = owner->parent;
    return owner->entryAt(ply);
}

MoveEntry* ViewLogic::mutableEntryJustPlayed() { return const_cast<MoveEntry*>(entryJustPlayed()); }

// --- Document notifications -------------------------------------------------------------

void ViewLogic::onUpdate(DocumentObserver*, UpdateHint hint)
{
    if (!m_panesCreated)
        return;
    if (hint == UpdateHint::NoteFont) {
        m_client.applyNoteFont();
        return;
    }
    // The board holds a position being composed: leave it and the game alone until set-up
    // ends; only the figures of the status text may have changed.
    if (m_setupMode) {
        m_client.statusChanged();
        return;
    }
    commitNote();
    switch (hint) {
    case UpdateHint::Bulk: refresh(true); break;
    case UpdateHint::PositionNote:
    case UpdateHint::MoveGlyph:
    case UpdateHint::VariationAdded:
    case UpdateHint::PositionScore:
    case UpdateHint::PlayersAliased:
        reloadGame();
        refresh(true);
        break;
    default:
        resetGame();
        reloadGame();
        refresh(false);
        break;
    }
}

void ViewLogic::resetGame()
{
    m_pendingNote.reset();
    m_game.clear();
    m_currentLine = &m_game;
    m_gameModified = false;
    m_storedGameNumber = -1;
    m_currentPly = 0;
}

void ViewLogic::reloadGame()
{
    const int number = m_doc.getCurrentGame();
    if (m_storedGameNumber < 0) {
        if (number >= 0) {
            m_game.clear();
            m_currentLine = &m_game;
            m_currentPly = 0;
            m_doc.readGame(number, m_game, true);
        }
    } else {
        Game stored;
        if (m_doc.readGame(m_storedGameNumber, stored, true) && mergeGame(m_game, stored))
            markModified();
    }
    m_storedGameNumber = number;
}

void ViewLogic::markModified()
{
    if (m_gameModified)
        return;
    m_gameModified = true;
    m_client.statusChanged();
}

void ViewLogic::refresh(bool keepScroll)
{
    if (m_coPilot && !m_setupMode)
        m_client.coPilotPosition(shownPosition());
    m_client.refreshPanes(keepScroll);
}

// --- What the panes show ------------------------------------------------------------------

StatusLines ViewLogic::statusLines() const
{
    StatusFacts facts;
    const Position position = shownPosition();
    facts.counts = m_doc.countsOf(position);
    const MoveEntry* entry = entryJustPlayed();
    facts.score = entry && entry->score != kNoScore ? entry->score : m_doc.scoreOf(position);
    facts.eco = m_doc.ecoText(position);
    facts.setupMode = m_setupMode;
    facts.storedGame = m_storedGameNumber >= 0;
    facts.modified = m_gameModified;
    return buildStatusLines(facts, m_game, *m_currentLine);
}

std::vector<KnownMoveRow> ViewLogic::knownMoveRows() const
{
    return buildKnownMoveRows(m_doc, m_game, *m_currentLine, m_currentPly);
}

BoardState ViewLogic::boardState() const
{
    BoardState board;
    board.position = shownPosition();
    board.setupMode = m_setupMode;
    board.nonstandard = m_doc.isNonstandard();
    board.descriptive = m_doc.descriptiveNotation();
    if (!m_setupMode)
        board.arrows = buildBoardArrows(m_doc, m_game, *m_currentLine, m_currentPly);
    return board;
}

ScoresheetData ViewLogic::scoresheet() const
{
    return buildScoresheet(m_doc, m_game, *m_currentLine, m_currentPly, m_setupMode);
}

MoveTreeData ViewLogic::moveTree() const
{
    return buildMoveTree(m_doc, m_game, *m_currentLine, m_currentPly);
}

std::string ViewLogic::notesText() const { return m_pendingNote ? *m_pendingNote : shownComment(); }

std::string ViewLogic::shownComment() const
{
    const MoveEntry* entry = entryJustPlayed();
    const std::string text = displayText(entry ? entry->comment : m_game.initialComment);
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            shown += text[i];
    return shown;
}

// --- Navigation ---------------------------------------------------------------------------

bool ViewLogic::canGoBack() const { return !m_setupMode && m_currentPly > 0; }
bool ViewLogic::canGoForward() const { return !m_setupMode && m_currentPly < endPly(); }

void ViewLogic::rewind()
{
    if (!canGoBack())
        return;
    commitNote();
    m_currentPly = 0;
    refresh(false);
}

void ViewLogic::backUpOnce()
{
    --m_currentPly;
    while (m_currentPly <= m_currentLine->startPly && m_currentLine->parent)
        m_currentLine = m_currentLine->parent;
}

void ViewLogic::backUp()
{
    if (!canGoBack())
        return;
    commitNote();
    backUpOnce();
    refresh(false);
}

void ViewLogic::advance()
{
    if (!canGoForward())
        return;
    commitNote();
    ++m_currentPly;
    refresh(false);
}

void ViewLogic::fastForward()
{
    if (!canGoForward())
        return;
    commitNote();
    m_currentPly = endPly();
    refresh(false);
}

bool ViewLogic::noteworthy() const
{
    const Position position = shownPosition();
    return m_doc.movesInto(position).size() >= 2 || m_doc.movesFrom(position).size() >= 2 ||
           !notesText().empty();
}

void ViewLogic::nextNoteworthy()
{
    if (!canGoForward())
        return;
    commitNote();
    do
        ++m_currentPly;
    while (m_currentPly < endPly() && !noteworthy());
    refresh(false);
}

void ViewLogic::priorNoteworthy()
{
    if (!canGoBack())
        return;
    commitNote();
    do
        backUpOnce();
    while (m_currentPly > 0 && !noteworthy());
    refresh(false);
}

void ViewLogic::goToPly(int ply)
{
    if (m_setupMode)
        return;
    commitNote();
    m_currentPly = std::clamp(ply, 0, endPly());
    refresh(true);
}

void ViewLogic::goToTreePath(const std::vector<Move>& path)
{
    if (m_setupMode)
        return;
    commitNote();
    m_currentPly = 0;
    for (const Move move : path)
        if (!enterMove(move, MoveGlyph::None, true))
            break;
    refresh(false);
}

// --- Move entry ---------------------------------------------------------------------------

bool ViewLogic::enterMove(Move move, MoveGlyph glyph, bool noRefresh)
{
    if (m_setupMode || move == Move::None)
        return false;
    const Position position = shownPosition();
    if (!m_doc.isNonstandard()) {
        MoveList list;
        const int count = legalMoves(position, list, false);
        if (std::find(list.begin(), list.begin() + count, move) == list.begin() + count)
            return false;
    }
    commitNote();
    GameLine* line = m_game.findLine(*m_currentLine, m_currentPly, move);
    if (line) {
        MoveEntry* entry = line->entryAt(m_currentPly);
        if (glyph != MoveGlyph::None && entry && entry->glyph != static_cast<int>(glyph)) {
            entry->glyph = static_cast<int>(glyph);
            markModified();
        }
    } else {
        const bool grow =
            m_currentPly == m_currentLine->endPly && (m_currentLine->parent || m_game.result == 0);
        line = grow ? m_currentLine : &m_game.createSubLine(*m_currentLine, m_currentPly);
        MoveEntry& entry = line->append(move, static_cast<int>(glyph));
        Position after = position;
        makeMove(after, move);
        entry.comment = m_doc.noteText(after);
        markModified();
    }
    m_currentLine = line;
    ++m_currentPly;
    if (!noRefresh)
        refresh(false);
    return true;
}

bool ViewLogic::enterMoveText(const std::string& text)
{
    std::string_view move = text;
    if (move.starts_with("(")) {
        move.remove_prefix(1);
        if (move.ends_with(" ..."))
            move.remove_suffix(4);
    }
    Move parsed = Move::None;
    MoveGlyph glyph = MoveGlyph::None;
    const Position position = shownPosition();
    // The rows are written in the notation of the setting; either reading is tried, so
    // that a text from before a change of the setting still plays.
    const bool descriptive = m_doc.descriptiveNotation();
    const auto parse = [&](bool asDescriptive) {
        return asDescriptive ? parseDescriptive(position, parsed, nullptr, &glyph, move)
                             : parseMove(position, parsed, nullptr, &glyph, move);
    };
    return (parse(descriptive) || parse(!descriptive)) && enterMove(parsed, glyph);
}

// --- Line editing -------------------------------------------------------------------------

bool ViewLogic::canClipLine() const { return !m_setupMode && m_currentPly < endPly(); }
bool ViewLogic::canDeleteVariation() const { return !m_setupMode && m_currentLine->parent; }

void ViewLogic::clipLine()
{
    if (!canClipLine())
        return;
    commitNote();
    GameLine& clipped = line();
    // Clipping a variation back to where it branches leaves nothing of it.
    if (clipped.parent && m_currentPly <= clipped.startPly) {
        deleteVariation();
        return;
    }
    const int keep = std::max(m_currentPly - clipped.startPly, 0);
    clipped.entries.resize(static_cast<std::size_t>(keep));
    clipped.endPly = clipped.startPly + keep;
    clipped.subLinesAfterEnd.clear();
    markModified();
    refresh(true);
}

namespace {

// Takes `line` out of its parent's lists; the line is destroyed.
void detachLine(GameLine& line)
{
    GameLine& parent = *line.parent;
    const auto isLine = [&line](const std::unique_ptr<GameLine>& l) { return l.get() == &line; };
    // A line made after the parent's end stays among its sub-lines after the end even when
    // the parent has grown a move at that ply since.
    if (std::erase_if(parent.subLinesAfterEnd, isLine) == 0)
        if (MoveEntry* at = parent.entryAt(line.startPly))
            std::erase_if(at->subLines, isLine);
}

} // namespace

void ViewLogic::deleteVariation()
{
    if (!canDeleteVariation())
        return;
    commitNote();
    GameLine* parent = m_currentLine->parent;
    const int branch = m_currentLine->startPly;
    detachLine(*m_currentLine);
    m_currentLine = parent;
    m_currentPly = std::min(branch, parent->endPly);
    markModified();
    refresh(false);
}

void ViewLogic::revertToPreviousVariation()
{
    if (!canDeleteVariation())
        return;
    commitNote();
    m_currentPly = m_currentLine->startPly;
    m_currentLine = m_currentLine->parent;
    refresh(false);
}

// --- Set-up mode --------------------------------------------------------------------------

void ViewLogic::enterSetupMode()
{
    if (m_setupMode)
        return;
    commitNote();
    m_doc.clearGame();
    resetGame();
    m_setupMode = true;
    refresh(false);
}

void ViewLogic::leaveSetupMode(const Position& composed)
{
    if (!m_setupMode)
        return;
    m_setupMode = false;
    m_game.startPosition = composed;
    markModified();
    refresh(false);
}

} // namespace vez
