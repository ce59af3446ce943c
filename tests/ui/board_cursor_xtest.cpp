// Set-up mode moves the real mouse cursor square by square; that needs a display server, so
// these run under xvfb-run (the ctest entry ui.xvfb) and skip on the offscreen platform.
#include <QCursor>
#include <QGuiApplication>
#include <QTest>

#include "ui/chessboard.h"
#include "ui/ui_fixture.h"

namespace vez::test {
namespace {

class XDisplay : public UiTest {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server (run under xvfb-run)";
    }
};

TEST_F(XDisplay, SetupKeysMoveTheMouseCursorWithWrapping)
{
    Chessboard board(boardSetup());
    board.move(100, 100);
    board.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&board));
    board.activateWindow();
    ASSERT_TRUE(board.toggleSetupMode());
    // A Qt key or a character, and the square the cursor is on afterwards: a8 = 56, h8 = 63,
    // a1 = 0, h1 = 7, b1 = 1.
    const std::pair<int, int> steps[] = {
        {Qt::Key_Left, 7},   // from the top-left square to the bottom-right one
        {Qt::Key_Right, 56}, // and back
        {Qt::Key_Up, 0},     // the top row's up is the bottom row
        {Qt::Key_Down, 56},  {Qt::Key_Left, 7},
        {Qt::Key_Up, 15},    {'q', 0}, // placed on h2, then right: the row below begins at a1
        {Qt::Key_Down, 56},
    };
    QCursor::setPos(board.mapToGlobal(centre(board, 56)));
    QTest::qWait(50);
    for (const auto& [key, cursorOn] : steps) {
        pressKey(&board, key);
        QTest::qWait(20);
        EXPECT_EQ(QCursor::pos(), board.mapToGlobal(centre(board, cursorOn))) << "key " << key;
    }
    EXPECT_EQ(board.GetPosition().squares[15], makePiece(PieceType::Queen, kWhite));
}

} // namespace
} // namespace vez::test
