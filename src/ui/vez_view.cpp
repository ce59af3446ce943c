#include "ui/vez_view.h"

#include <QPainter>
#include <QPaintEvent>

#include "app/profile_store.h"
#include "interchange/pgn_writer.h"
#include "ui/dialogs/game_info_dialog.h"
#include "ui/splash_window.h"

namespace vez {

namespace {

// The status text's two lines fill the band above the panes.
constexpr int kStatusTop = 2;

} // namespace

struct VezView::Panes {
    std::map<QString, QWidget*> byName;
};

VezView::VezView(CVezDoc& doc, UserInteraction& user, ProfileStore& profile, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_profile(profile), m_panes(std::make_unique<Panes>())
{
    m_logic = std::make_unique<ViewLogic>(doc, user, *this);
    setAutoFillBackground(true);
}

VezView::~VezView() = default;

void VezView::createPanes()
{
    m_logic->setPanesCreated();
    refreshPanes(false);
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
    const QWidget* widget = pane(name);
    return widget && !widget->isHidden() ? widget->geometry() : QRect();
}

void VezView::refreshPanes(bool)
{
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
    const int height = fontMetrics().height();
    painter.drawText(QPoint(8, kStatusTop + fontMetrics().ascent()), QString::fromStdString(lines.first));
    painter.drawText(QPoint(8, kStatusTop + height + fontMetrics().ascent()),
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
    if (QWidget* board = pane("Chessbd"))
        painter.drawPixmap(QRect(page.left(), y, side, side), board->grab());
    else
        drawSmallBoard(painter, QRect(page.left(), y, side, side), m_logic->shownPosition());
    y += side + line;
    const QString pgn = QString::fromStdString(writeGameToText(m_logic->game(), m_doc.isNonstandard()));
    painter.drawText(QRect(page.left(), y, page.width(), page.bottom() - y),
                     Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, pgn);
}

} // namespace vez
