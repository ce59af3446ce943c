// Panes moved by their edges and resized by their corners, with their settings.
#include <QTest>

#include <array>

#include "ui/movable_panel.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

class PanelTest : public UiTest {
protected:
    PanelTest() { m_view.resize(900, 700); }
    MovablePanel* makePanel(const char* prefix, MovablePanel::Sizing sizing)
    {
        auto* content = new QWidget;
        if (sizing == MovablePanel::Sizing::MoveOnly)
            content->setFixedSize(256, 256);
        auto* panel = new MovablePanel(content, prefix, sizing, &profile(), &m_view);
        panel->restorePlace(QPoint(20, 30), QSize(250, 250));
        return panel;
    }
    int stored(const std::string& key) { return profile().getProfileInt(key, -1); }
    QWidget m_view;
};

TEST_F(PanelTest, EdgesMoveCornersResizeEachChangeIsStoredAndLostPanesReturn)
{
    // Drags a new pane by (30, 20) from a point (from its bottom-right corner when negative);
    // its place, then its stored x, width and height (-1: not stored).
    using R = std::pair<QRect, std::array<int, 3>>;
    const auto dragged = [this](const char* prefix, MovablePanel::Sizing sizing, QPoint press) {
        MovablePanel* panel = makePanel(prefix, sizing);
        if (press.x() < 0)
            press += QPoint(panel->width(), panel->height());
        drag(panel, press, press + QPoint(30, 20));
        // a press inside the border belongs to the pane
        EXPECT_EQ(panel->hitTest(QPoint(panel->width() / 2, panel->height() / 2)),
                  MovablePanel::Hit::Client);
        const std::string key = prefix;
        return R{panel->geometry(),
                 {stored(key + " pos x"), stored(key + " size x"), stored(key + " size y")}};
    };
    using S = MovablePanel::Sizing;
    EXPECT_EQ(dragged("ScoreSheet", S::Resizable, QPoint(100, 1)),
              (R{QRect(50, 50, 250, 250), {50, -1, -1}}));
    EXPECT_EQ(dragged("KnownMoves", S::Resizable, QPoint(-2, -2)),
              (R{QRect(20, 30, 280, 270), {-1, 280, 270}}));
    EXPECT_EQ(dragged("Notepad", S::Resizable, QPoint(1, 1)),
              (R{QRect(50, 50, 220, 230), {50, 220, 230}}));
    EXPECT_EQ(dragged("Chessbd", S::MoveOnly, QPoint(-2, -2)),
              (R{QRect(50, 50, 264, 264), {50, -1, -1}}));

    // A pane stored outside the view returns to its default place; one partly inside stays.
    for (const auto& [storedPos, expected] : {std::pair(QPoint(5000, 40), QPoint(20, 30)),
                                              std::pair(QPoint(-100, 10), QPoint(-100, 10))}) {
        profile().writeProfileInt("ScoreSheet pos x", storedPos.x());
        profile().writeProfileInt("ScoreSheet pos y", storedPos.y());
        EXPECT_EQ(makePanel("ScoreSheet", S::Resizable)->pos(), expected) << storedPos.x();
    }
}

} // namespace
} // namespace vez::test
