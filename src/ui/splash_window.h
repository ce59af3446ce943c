// The splash window: a small board replaying a short game while the program starts. It
// closes by itself within three seconds, or at a click.
#pragma once

#include <QIcon>
#include <QWidget>
#include <vector>

#include "chess/position.h"

namespace vez {

class Chessboard;

class SplashWindow : public QWidget {
    Q_OBJECT
public:
    explicit SplashWindow(QWidget* parent = nullptr);
    // The positions it shows, one per ply (the start first).
    const std::vector<Position>& positions() const { return m_positions; }
    int shownPly() const { return m_ply; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    Chessboard* m_board = nullptr;
    std::vector<Position> m_positions;
    int m_ply = 0;
};

// Opens the splash window (deleted when it closes).
SplashWindow* showSplash(QWidget* parent);

// Draws a position on a square board with the built-in piece glyphs (for pages, where no
// board widget is at hand).
void drawSmallBoard(QPainter& painter, const QRect& area, const Position& position);

// The program's icon: a knight of the built-in pieces on a board square.
QIcon applicationIcon();
QPixmap applicationIconPixmap(int size);

} // namespace vez
