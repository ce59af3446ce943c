#include "ui/vez_view.h"

#include <QPainter>
#include <QPaintEvent>

#include "app/profile_store.h"
#include "app/user_interaction.h"
#include "interchange/pgn_writer.h"
#include "ui/chessboard.h"
#include "ui/movable_panel.h"
#include "ui/dialogs/game_info_dialog.h"
#include "ui/splash_window.h"

namespace vez {

namespace {

// The status text's two lines fill the band above the panes.
constexpr int kStatusTop = 2;

// Where a pane goes: its stored place and size, or the default chain's.
QRect storedRect(const ProfileStore& profile, const char* key, const QRect& fallback,
                 bool sized = true)
{
    const std::string k = key;
    const QPoint place(profile.getProfileInt(k + " pos x", fallback.x()),
                       profile.getProfileInt(k + " pos y", fallback.y()));
    if (!sized)
        return {place, fallback.size()};
    return {place, QSize(profile.getProfileInt(k + " size x", fallback.width()),
                         profile.getProfileInt(k + " size y", fallback.height()))};
}

// The default chain: the board at 8,20, the known moves to its right, the scoresheet below
// them, the notes below the board and the move tree beside the scoresheet, 8 pixels apart.
constexpr int kGap = 8;

QRect rightOf(const QRect& pane, QSize size) { return {QPoint(pane.right() + 1 + kGap, pane.top()), size}; }
QRect below(const QRect& pane, QSize size) { return {QPoint(pane.left(), pane.bottom() + 1 + kGap), size}; }

} // namespace

struct VezView::Panes {
    std::map<QString, QWidget*> byName;
    Chessboard* board = nullptr;
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
    // The known-moves list, scoresheet, notes pane and move tree join here as they exist.
    const QRect known = storedRect(m_profile, "KnownMoves", rightOf(board, {350, 150}));
    const QRect sheet = storedRect(m_profile, "ScoreSheet", below(known, {250, 250}));
    const QRect notes = storedRect(m_profile, "Notepad", below(board, {board.width(), 150}));
    const QRect tree = storedRect(m_profile, "MoveTree", rightOf(sheet, {150, 250}));
    m_defaultRects = {{"KnownMoves", known}, {"ScoreSheet", sheet}, {"Notepad", notes},
                      {"MoveTree", tree}};
}

bool VezView::moveTreeShown() const { return m_profile.getProfileInt("MoveTree", 0) != 0; }

void VezView::setMoveTreeShown(bool shown)
{
    m_profile.writeProfileInt("MoveTree", shown ? 1 : 0);
    refreshPanes(true);
}

void VezView::focusScoresheet()
{
    if (QWidget* sheet = pane("ScoreSheet"))
        sheet->setFocus();
}

QWidget* VezView::pane(const QString& name) const
{
    const auto found = m_panes->byName.find(name);
    return found == m_panes->byName.end() ? nullptr : found->second;
}

QRect VezView::paneRect(const QString& name) const
{
    if (const QWidget* widget = pane(name))
        return widget->isHidden() ? QRect() : widget->geometry();
    const auto planned = m_defaultRects.find(name);
    return planned == m_defaultRects.end() ? QRect() : planned->second;
}

void VezView::refreshPanes(bool)
{
    if (Chessboard* board = m_panes->board)
        board->setBoardState(m_logic->boardState());
    update();
    Q_EMIT stateChanged();
}

void VezView::statusChanged()
{
    update();
    Q_EMIT stateChanged();
}

void VezView::applyNoteFont() {}

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
