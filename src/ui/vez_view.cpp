#include "ui/vez_view.h"

#include <QPainter>
#include <QPaintEvent>

#include "app/profile_store.h"
#include "app/user_interaction.h"
#include "interchange/pgn_writer.h"
#include "ui/chessboard.h"
#include "app/pane_builders.h"
#include "ui/known_moves_list.h"
#include "ui/movable_panel.h"
#include "ui/move_tree.h"
#include "ui/notes_pane.h"
#include "ui/scoresheet.h"
#include "ui/dialogs/game_info_dialog.h"
#include "ui/splash_window.h"

namespace vez {

namespace {

// The status text's two lines fill the band above the panes.
constexpr int kStatusTop = 2;

// The default chain: the board at 8,20, the known moves to its right, the scoresheet below
// them, the notes below the board and the move tree beside the scoresheet, 8 pixels apart.
constexpr int kGap = 8;

QRect rightOf(const QRect& pane, QSize size) { return {QPoint(pane.right() + 1 + kGap, pane.top()), size}; }
QRect below(const QRect& pane, QSize size) { return {QPoint(pane.left(), pane.bottom() + 1 + kGap), size}; }

} // namespace

struct VezView::Panes {
    std::map<QString, QWidget*> byName; // the movable panels
    Chessboard* board = nullptr;
    KnownMovesList* known = nullptr;
    Scoresheet* sheet = nullptr;
    NotesPane* notes = nullptr;
    MoveTree* tree = nullptr;
};

VezView::VezView(CVezDoc& doc, UserInteraction& user, ProfileStore& profile, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_user(user), m_profile(profile),
      m_panes(std::make_unique<Panes>())
{
    m_logic = std::make_unique<ViewLogic>(doc, user, *this);
    setAutoFillBackground(true);
}

VezView::~VezView() = default;

QRect VezView::addPane(const char* name, QWidget* content, bool resizable, const QRect& place)
{
    auto* panel = new MovablePanel(content, name,
                                   resizable ? MovablePanel::Sizing::Resizable
                                             : MovablePanel::Sizing::MoveOnly,
                                   &m_profile, this);
    panel->restorePlace(place.topLeft(), place.size());
    panel->show();
    m_panes->byName[name] = panel;
    return panel->geometry();
}

void VezView::createPanes()
{
    ChessboardSetup setup;
    setup.controlId = kMainBoardId;
    setup.pictureResource = -1;
    setup.profile = &m_profile;
    setup.messages = &m_user;
    auto* board = new Chessboard(setup);
    m_panes->board = board;
    const QRect boardRect = addPane("Chessbd", board, false, QRect(QPoint(8, 20), QSize()));
    connect(board, &Chessboard::moveChosen, this, [this](Move move) {
        m_logic->commitNote();
        m_logic->enterMove(move);
    });
    connect(board, &Chessboard::setupModeChanged, this, [this, board](bool on) {
        if (on)
            m_logic->enterSetupMode();
        else
            m_logic->leaveSetupMode(board->GetPosition());
    });
    placeOtherPanes(boardRect);
    m_logic->setPanesCreated();
    refreshPanes(false);
}

void VezView::placeOtherPanes(const QRect& board)
{
    auto* known = new KnownMovesList;
    m_panes->known = known;
    const QRect knownRect = addPane("KnownMoves", known, true, rightOf(board, {350, 150}));
    connect(known, &KnownMovesList::moveChosen, this, [this](Move move, MoveGlyph glyph) {
        m_logic->commitNote();
        m_logic->enterMove(move, glyph);
    });

    auto* sheet = new Scoresheet(&m_profile, nullptr);
    m_panes->sheet = sheet;
    const QRect sheetRect = addPane("ScoreSheet", sheet, true, below(knownRect, {250, 250}));
    connect(sheet, &Scoresheet::moveTyped, this, [this](Move move, MoveGlyph glyph) {
        m_logic->commitNote();
        m_logic->enterMove(move, glyph);
    });
    connect(sheet, &Scoresheet::plyChosen, this, [this](int ply) {
        m_logic->commitNote();
        m_logic->goToPly(ply);
    });
    connect(sheet, &Scoresheet::glyphChosen, this,
            [this](int ply, Move, MoveGlyph glyph) { m_logic->setGlyph(ply, glyph); });

    auto* notes = new NotesPane;
    m_panes->notes = notes;
    notes->applyFont(m_profile);
    addPane("Notepad", notes, true, below(board, {board.width(), 150}));
    connect(notes, &NotesPane::noteEdited, this,
            [this](const std::string& text) { m_logic->noteEdited(text); });
    connect(notes, &NotesPane::noteCommitted, this, [this] {
        if (m_logic->commitNote())
            Q_EMIT stateChanged();
    });

    m_treeRect = rightOf(sheetRect, {150, 250});
    if (moveTreeShown())
        createMoveTree();
}

void VezView::createMoveTree()
{
    auto* tree = new MoveTree;
    m_panes->tree = tree;
    tree->setChildrenProvider([this](const std::vector<Move>& path) {
        return buildMoveTreeChildren(m_doc, m_logic->game().startPosition, path);
    });
    addPane("MoveTree", tree, true, m_treeRect);
    connect(tree, &MoveTree::pathChosen, this, [this](const std::vector<Move>& path) {
        m_logic->commitNote();
        m_logic->goToTreePath(path);
    });
}

bool VezView::moveTreeShown() const { return m_profile.getProfileInt("MoveTree", 0) != 0; }

void VezView::setMoveTreeShown(bool shown)
{
    m_profile.writeProfileInt("MoveTree", shown ? 1 : 0);
    if (shown && !m_panes->tree && m_logic->panesCreated()) {
        createMoveTree();
    } else if (!shown && m_panes->tree) {
        delete m_panes->byName["MoveTree"];
        m_panes->byName.erase("MoveTree");
        m_panes->tree = nullptr;
    }
    refreshPanes(true);
}

void VezView::focusScoresheet()
{
    if (m_panes->sheet)
        m_panes->sheet->setFocus();
}

QWidget* VezView::pane(const QString& name) const
{
    const auto found = m_panes->byName.find(name);
    return found == m_panes->byName.end() ? nullptr : found->second;
}

QRect VezView::paneRect(const QString& name) const
{
    const QWidget* widget = pane(name);
    return widget && !widget->isHidden() ? widget->geometry() : QRect();
}

void VezView::refreshPanes(bool keepScroll)
{
    if (!m_logic->panesCreated())
        return;
    m_panes->board->setBoardState(m_logic->boardState());
    m_panes->known->setRows(m_logic->knownMoveRows());
    m_panes->sheet->setData(m_logic->scoresheet(), keepScroll);
    m_panes->notes->setNoteText(m_logic->notesText());
    if (m_panes->tree)
        m_panes->tree->Update(m_logic->moveTree());
    update();
    Q_EMIT stateChanged();
}

void VezView::statusChanged()
{
    update();
    Q_EMIT stateChanged();
}

void VezView::applyNoteFont()
{
    if (m_panes->notes)
        m_panes->notes->applyFont(m_profile);
}

// Only a new position restarts the Co-Pilot's search: the view also refreshes for notes,
// glyphs and the Co-Pilot's own variations.
void VezView::coPilotPosition(const Position& position)
{
    AnalysisJob* coPilot = m_logic->coPilot();
    if (coPilot && differentPosition(coPilot->board(), position))
        coPilot->setPosition(position);
}

bool VezView::editTags(Game& game)
{
    GameInfoDialog dialog(game, {m_doc.playerNames(), m_doc.eventNames(), m_doc.tagNames()}, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    dialog.applyTo(game);
    return true;
}

void VezView::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    const StatusLines lines = m_logic->statusLines();
    // Both lines share the band above the board: the second, smaller, 200 units along.
    QFont font("Book Antiqua");
    font.setPointSize(10);
    painter.setFont(font);
    painter.drawText(QPoint(8, kStatusTop + painter.fontMetrics().ascent()),
                     QString::fromStdString(lines.first));
    font.setPointSize(7);
    painter.setFont(font);
    painter.drawText(QPoint(200, kStatusTop + painter.fontMetrics().ascent()),
                     QString::fromStdString(lines.second));
}

void VezView::print(QPainter& painter, const QRect& page) const
{
    const StatusLines lines = m_logic->statusLines();
    QFont font = painter.font();
    font.setPointSize(10);
    painter.setFont(font);
    const int line = painter.fontMetrics().height();
    int y = page.top() + line;
    painter.drawText(page.left(), y, QString::fromStdString(lines.first));
    y += line;
    painter.drawText(page.left(), y, QString::fromStdString(lines.second));
    y += line;
    const int side = std::min(page.width() / 2, page.height() / 2);
    if (QWidget* board = m_panes->board)
        painter.drawPixmap(QRect(page.left(), y, side, side), board->grab());
    else
        drawSmallBoard(painter, QRect(page.left(), y, side, side), m_logic->shownPosition());
    y += side + line;
    const QString pgn = QString::fromStdString(writeGameToText(m_logic->game(), m_doc.isNonstandard()));
    painter.drawText(QRect(page.left(), y, page.width(), page.bottom() - y),
                     Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, pgn);
}

} // namespace vez
