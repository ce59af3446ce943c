#include "ui/movable_panel.h"

#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/profile_store.h"

namespace vez {

namespace {

constexpr int kMinimumSide = 3 * MovablePanel::kCornerReach;

} // namespace

MovablePanel::MovablePanel(QWidget* content, std::string keyPrefix, Sizing sizing,
                           ProfileStore* profile, QWidget* parent)
    : QFrame(parent), m_content(content), m_prefix(std::move(keyPrefix)), m_sizing(sizing),
      m_profile(profile)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setMouseTracking(true);
    auto* layout = new QVBoxLayout(this);
    // The frame's own line is part of the border that moves the panel.
    const int margin = kBorder - frameWidth();
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(0);
    layout->addWidget(content);
    // A pane of fixed size (the board) takes its size from what it shows.
    if (m_sizing == Sizing::MoveOnly)
        layout->setSizeConstraint(QLayout::SetFixedSize);
}

MovablePanel::Hit MovablePanel::hitTest(QPoint point) const
{
    if (!rect().contains(point))
        return Hit::Client;
    const bool left = point.x() < kBorder, right = point.x() >= width() - kBorder;
    const bool top = point.y() < kBorder, bottom = point.y() >= height() - kBorder;
    if (!left && !right && !top && !bottom)
        return Hit::Client;
    const bool nearLeft = point.x() < kCornerReach, nearRight = point.x() >= width() - kCornerReach;
    const bool nearTop = point.y() < kCornerReach,
               nearBottom = point.y() >= height() - kCornerReach;
    if ((nearLeft || nearRight) && (nearTop || nearBottom))
        return Hit::Corner;
    return Hit::Edge;
}

void MovablePanel::restorePlace(QPoint defaultPos, QSize defaultSize)
{
    auto stored = [this](const char* suffix, int fallback) {
        return m_profile ? m_profile->getProfileInt(key(suffix), fallback) : fallback;
    };
    QPoint pos(stored(" pos x", defaultPos.x()), stored(" pos y", defaultPos.y()));
    QSize size = defaultSize;
    if (m_sizing == Sizing::Resizable)
        size = QSize(std::max(kMinimumSide, stored(" size x", defaultSize.width())),
                     std::max(kMinimumSide, stored(" size y", defaultSize.height())));
    else
        size = sizeHint();
    const QWidget* parent = parentWidget();
    if (parent && !parent->rect().isEmpty() && !parent->rect().intersects(QRect(pos, size)))
        pos = defaultPos;
    setGeometry(QRect(pos, size));
}

void MovablePanel::mousePressEvent(QMouseEvent* event)
{
    const QPoint point = event->position().toPoint();
    const Hit hit = hitTest(point);
    if (event->button() != Qt::LeftButton || hit == Hit::Client)
        return QFrame::mousePressEvent(event);
    m_pressed = true;
    m_pressGlobal = event->globalPosition().toPoint();
    m_startGeometry = geometry();
    m_moving = hit == Hit::Edge || m_sizing == Sizing::MoveOnly;
    m_left = point.x() < kCornerReach;
    m_right = point.x() >= width() - kCornerReach;
    m_top = point.y() < kCornerReach;
    m_bottom = point.y() >= height() - kCornerReach;
    raise();
}

void MovablePanel::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed)
        return setHoverCursor(event->position().toPoint());
    const QPoint delta = event->globalPosition().toPoint() - m_pressGlobal;
    QRect next = m_startGeometry;
    if (m_moving) {
        next.translate(delta);
    } else {
        if (m_left)
            next.setLeft(std::min(next.left() + delta.x(), next.right() - kMinimumSide));
        if (m_right)
            next.setRight(std::max(next.right() + delta.x(), next.left() + kMinimumSide));
        if (m_top)
            next.setTop(std::min(next.top() + delta.y(), next.bottom() - kMinimumSide));
        if (m_bottom)
            next.setBottom(std::max(next.bottom() + delta.y(), next.top() + kMinimumSide));
    }
    applyGeometry(next);
}

void MovablePanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    QFrame::mouseReleaseEvent(event);
}

void MovablePanel::applyGeometry(const QRect& next)
{
    const QRect old = geometry();
    if (next == old)
        return;
    setGeometry(next);
    if (!m_profile)
        return;
    if (next.topLeft() != old.topLeft()) {
        m_profile->writeProfileInt(key(" pos x"), next.x());
        m_profile->writeProfileInt(key(" pos y"), next.y());
    }
    if (next.size() != old.size() && m_sizing == Sizing::Resizable) {
        m_profile->writeProfileInt(key(" size x"), next.width());
        m_profile->writeProfileInt(key(" size y"), next.height());
    }
}

void MovablePanel::setHoverCursor(QPoint point)
{
    const Hit hit = hitTest(point);
    if (hit == Hit::Client) {
        unsetCursor();
        return;
    }
    if (hit == Hit::Edge || m_sizing == Sizing::MoveOnly) {
        setCursor(Qt::SizeAllCursor);
        return;
    }
    const bool falling = (point.x() < width() / 2) == (point.y() < height() / 2);
    setCursor(falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor);
}

} // namespace vez
