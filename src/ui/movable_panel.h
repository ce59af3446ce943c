// A pane placed freely in the view: its border moves it, its corners resize it (or move it,
// for a pane of fixed size such as the board), and each change is written at once to the
// pane's settings ("<prefix> pos x", "pos y", "size x", "size y").
#pragma once

#include <QFrame>
#include <QRect>

#include <string>

namespace vez {

class ProfileStore;

class MovablePanel : public QFrame {
    Q_OBJECT
public:
    enum class Sizing { Resizable, MoveOnly };
    enum class Hit { Client, Edge, Corner };
    static constexpr int kBorder = 4;
    // How far along an edge from a corner a press still takes the corner.
    static constexpr int kCornerReach = 12;

    // The panel takes the content as its child, inside the border.
    MovablePanel(QWidget* content, std::string keyPrefix, Sizing sizing, ProfileStore* profile,
                 QWidget* parent);

    QWidget* content() const { return m_content; }
    Hit hitTest(QPoint point) const;

    // Puts the panel at its stored place and size, or the defaults where nothing is stored.
    // A place that would leave the panel wholly outside the parent's area is replaced by the
    // default place, so that a pane saved on a larger screen does not go missing.
    void restorePlace(QPoint defaultPos, QSize defaultSize);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setHoverCursor(QPoint point);
    void applyGeometry(const QRect& geometry);
    std::string key(const char* suffix) const { return m_prefix + suffix; }

    QWidget* m_content;
    std::string m_prefix;
    Sizing m_sizing;
    ProfileStore* m_profile;
    // The drag in progress: which edges follow the mouse (both left and right, or both top
    // and bottom, for a move).
    bool m_pressed = false;
    bool m_moving = false;
    bool m_left = false, m_right = false, m_top = false, m_bottom = false;
    QPoint m_pressGlobal;
    QRect m_startGeometry;
};

} // namespace vez
