// Panes moved by their edges and resized by their corners, with their settings.
#include <QTest>

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
    struct Case {
        const char* prefix;
        MovablePanel::Sizing sizing;
        QPoint press; // from the panel's bottom-right corner when negative
        QRect after;
        bool sizeStored;
    };
    using S = MovablePanel::Sizing;
    const Case cases[] = {
        {"ScoreSheet", S::Resizable, QPoint(100, 1), QRect(50, 50, 250, 250), false},
        {"KnownMoves", S::Resizable, QPoint(-2, -2), QRect(20, 30, 280, 270), true},
        {"Notepad", S::Resizable, QPoint(1, 1), QRect(50, 50, 220, 230), true},
        {"Chessbd", S::MoveOnly, QPoint(-2, -2), QRect(50, 50, 264, 264), false},
    };
    for (const Case& c : cases) {
        MovablePanel* panel = makePanel(c.prefix, c.sizing);
        const QPoint press =
            c.press.x() < 0 ? QPoint(panel->width(), panel->height()) + c.press : c.press;
        drag(panel, press, press + QPoint(30, 20));
        EXPECT_EQ(panel->geometry(), c.after) << c.prefix;
        const std::string prefix = c.prefix;
        EXPECT_EQ((std::vector<int>{stored(prefix + " pos x"), stored(prefix + " size x"),
                                    stored(prefix + " size y")}),
                  (std::vector<int>{c.after.topLeft() == QPoint(20, 30) ? -1 : c.after.x(),
                                    c.sizeStored ? c.after.width() : -1,
                                    c.sizeStored ? c.after.height() : -1}))
            << c.prefix;
        // a press inside the border belongs to the pane
        EXPECT_EQ(panel->hitTest(QPoint(panel->width() / 2, panel->height() / 2)),
                  MovablePanel::Hit::Client);
    }
    // A pane stored outside the view returns to its default place.
    const std::pair<QPoint, QPoint> places[] = {
        {QPoint(300, 200), QPoint(300, 200)},
        {QPoint(5000, 40), QPoint(20, 30)},
        {QPoint(-100, 10), QPoint(-100, 10)}, // partly inside: left where it was
    };
    for (const auto& [storedPos, expected] : places) {
        profile().writeProfileInt("ScoreSheet pos x", storedPos.x());
        profile().writeProfileInt("ScoreSheet pos y", storedPos.y());
        MovablePanel* panel = makePanel("ScoreSheet", MovablePanel::Sizing::Resizable);
        EXPECT_EQ(panel->pos(), expected) << storedPos.x() << "," << storedPos.y();
    }
}

} // namespace
} // namespace vez::test
