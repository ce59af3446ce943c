// The program as a player uses it: keys in the notes pane against the menus, moves dragged on
// the board and saved, the clipboard both ways, set-up mode while an import reports.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QTest>
#include <QTimer>

#include "ui/chessboard.h"
#include "ui/dialogs/game_info_dialog.h"
#include "ui/movable_panel.h"
#include "ui/notes_pane.h"
#include "window_fixture.h"

namespace vez {
namespace {

class ProgramTest : public test::WindowTest {
protected:
    template <class T>
    T* content(const char* pane) const
    {
        return qobject_cast<T*>(static_cast<MovablePanel*>(window->view().pane(pane))->content());
    }
    void activate()
    {
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
        QApplication::processEvents();
    }
    void play(int from, int to)
    {
        Chessboard* board = content<Chessboard>("Chessbd");
        test::drag(board, test::centre(*board, from), test::centre(*board, to));
        QApplication::processEvents();
    }
};

TEST_F(ProgramTest, TextKeysInTheNotesPaneEditTheTextAndKeepTheGame)
{
    start(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn");
    doc().selectGame(5, "", nullptr);
    activate();
    NotesPane* notes = content<NotesPane>("Notepad");
    notes->setFocus();
    QTest::keyClicks(notes, "A quiet move");
    QTest::keyClick(notes, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(notes, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "A quiet move");
    QTest::keyClick(notes, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(notes->toPlainText(), "A quiet move");
    // Cut PGN would have deleted game 5, Paste PGN added one.
    EXPECT_EQ(doc().gameNumbers().size(), 60u);

    // With the board in front the same keys are the game's commands.
    QApplication::clipboard()->clear();
    content<Chessboard>("Chessbd")->setFocus();
    QTest::keyClick(content<Chessboard>("Chessbd"), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("[Event "));
}

TEST_F(ProgramTest, MovesDraggedAndSavedBecomeAStoredSelectedGame)
{
    start("");
    activate();
    play(12, 28); // e2-e4
    play(52, 36); // e7-e5
    play(6, 21);  // g1-f3
    window->runCommand(CommandId::PositionBackUp);
    // Saving asks for the players first.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<GameInfoDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        static_cast<QComboBox*>(dialog->field("White"))->setEditText("Anderssen, Adolf");
        static_cast<QComboBox*>(dialog->field("Black"))->setEditText("Kieseritzky, Lionel");
        dialog->accept();
    });
    QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(doc().gameNumbers(), std::vector<int>{0});
    EXPECT_EQ(logic().endPly(), 3);
    EXPECT_EQ(logic().game().white, "Anderssen, Adolf");
}

TEST_F(ProgramTest, PgnAndEpdGoThroughTheClipboardBothWays)
{
    start("");
    activate();
    QApplication::clipboard()->setText(
        "[Event \"Casual\"]\n[White \"Morphy, Paul\"]\n[Black \"Duke Karl\"]\n[Result \"1-0\"]\n\n"
        "1. e4 e5 2. Nf3 d6 3. d4 Bg4 4. dxe5 Bxf3 5. Qxf3 dxe5 6. Bc4 Nf6 7. Qb3 Qe7 8. Nc3 c6 "
        "9. Bg5 b5 10. Nxb5 cxb5 11. Bxb5+ Nbd7 12. O-O-O Rd8 13. Rxd7 Rxd7 14. Rd1 Qe6 "
        "15. Bxd7+ Nxd7 16. Qb8+ Nxb8 17. Rd8# 1-0\n");
    window->runCommand(CommandId::GamePastePgn);
    ASSERT_EQ(doc().gameNumbers(), std::vector<int>{0});

    window->runCommand(CommandId::GameCopyPgn);
    EXPECT_TRUE(QApplication::clipboard()->text().contains("17. Rd8# 1-0"));
    window->runCommand(CommandId::PositionFastForward);
    window->runCommand(CommandId::PositionCopyEpd);
    const Position mate = logic().shownPosition();
    window->runCommand(CommandId::GameStartNewGame);
    window->runCommand(CommandId::PositionPasteEpd);
    EXPECT_TRUE(samePosition(logic().shownPosition(), mate));
}

TEST_F(ProgramTest, SetUpModeOutlastsAnImportHint)
{
    start(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn");
    activate();
    Chessboard* board = content<Chessboard>("Chessbd");
    ASSERT_TRUE(board->toggleSetupMode());
    QApplication::processEvents();
    EXPECT_FALSE(window->action(CommandId::GameSave)->isEnabled());
    board->placeSetupPiece(makeSquare(4, 1), kSetupEmpty); // the e2 pawn off
    doc().UpdateAllViews(nullptr, UpdateHint::Bulk);
    QApplication::processEvents();
    EXPECT_TRUE(board->setupMode());
    ASSERT_TRUE(board->toggleSetupMode());
    QApplication::processEvents();
    EXPECT_EQ(logic().game().startPosition.squares[makeSquare(4, 1)], kEmpty);
}

} // namespace
} // namespace vez
