#include "ui/scoresheet.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "app/profile_store.h"
#include "chess/notation.h"
#include "ui/beeper.h"

namespace vez {

Scoresheet::Scoresheet(ProfileStore* profile, Beeper* beeper, QWidget* parent)
    : QAbstractScrollArea(parent), m_profile(profile), m_beeper(beeper)
{
    m_font = QFont(QStringLiteral("Courier New"), 9, QFont::Bold);
    m_font.setStyleHint(QFont::TypeWriter);
    // Plain pixels: a move is written in exactly one colour.
    m_font.setStyleStrategy(QFont::NoAntialias);
    const QFontMetrics metrics(m_font);
    m_numberWidth = metrics.horizontalAdvance(QStringLiteral("999. "));
    m_moveWidth = metrics.horizontalAdvance(QStringLiteral("Qa1xh8++!! "));
    m_lineHeight = std::max(1, metrics.height());
    m_autoComplete = !m_profile || m_profile->getProfileInt("Auto Complete", 1) != 0;
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(kPageLines);
    setStandardStart(m_data.startPosition);
}

QColor Scoresheet::laterColour() const
{
    const QColor grey = palette().color(QPalette::Disabled, QPalette::Text);
    return grey.isValid() ? grey : QColor(0, 0, 127);
}

void Scoresheet::setData(const ScoresheetData& data, bool keepScroll)
{
    m_data = data;
    m_input.clear();
    updateScrollRange();
    if (keepScroll)
        SetFirstLine(m_firstLine);
    else
        scrollPlyIntoView(m_data.currentPly);
    viewport()->update();
}

void Scoresheet::SetCurrentPly(int ply)
{
    m_data.currentPly = std::clamp(ply, 0, static_cast<int>(m_data.moves.size()));
    scrollPlyIntoView(m_data.currentPly);
    viewport()->update();
}

void Scoresheet::SetFirstLine(int line)
{
    m_firstLine = std::clamp(line, 0, std::max(0, verticalScrollBar()->maximum()));
    verticalScrollBar()->setValue(m_firstLine);
    viewport()->update();
}

int Scoresheet::slotCount() const
{
    // The moves, Black's first slot when Black begins, and the slot for the result.
    return static_cast<int>(m_data.moves.size()) + (m_data.blackFirst ? 1 : 0) + 1;
}

void Scoresheet::updateScrollRange()
{
    const int lines = (slotCount() + 1) / 2;
    const int visible = visibleLines();
    const int limit = lines > visible ? lines - visible + 1 : 0;
    verticalScrollBar()->setRange(0, limit);
}

void Scoresheet::scrollPlyIntoView(int ply)
{
    const int line = ply / 2;
    const int visible = visibleLines();
    int first = m_firstLine;
    if (line > first && line >= first + visible - 1)
        first = line - visible + 2;
    else if (line <= first)
        first = ply >= 2 ? line - 1 : 0;
    // A pane of one or two lines leaves the rule above no room for a line of context.
    first = std::clamp(first, line - visible + 1, line);
    SetFirstLine(first);
}

int Scoresheet::visibleLines() const
{
    // Measured at every use, so that scrolling stays right after the user resizes the pane.
    return std::max(1, viewport()->height() / m_lineHeight);
}

void Scoresheet::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    SetFirstLine(m_firstLine);
}

void Scoresheet::scrollContentsBy(int, int)
{
    m_firstLine = verticalScrollBar()->value();
    viewport()->update();
}

int Scoresheet::plyAt(QPoint point) const
{
    if (point.x() < m_numberWidth)
        return 0;
    const int y = point.y() + m_firstLine * m_lineHeight;
    int ply = 2 * (y / m_lineHeight) + (point.x() > m_numberWidth + m_moveWidth ? 1 : 0) -
              (m_data.blackFirst ? 1 : 0);
    return std::clamp(ply, 0, static_cast<int>(m_data.moves.size()));
}

void Scoresheet::beep(int kind) const
{
    (m_beeper ? *m_beeper : systemBeeper()).beep(static_cast<BeepKind>(kind));
}

} // namespace vez
