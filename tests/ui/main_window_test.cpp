// The main window as the program starts it and a player uses it: titles, menus from the
// command table, placement, keys in the notes pane against the menus, moves dragged on the
// board and saved, the clipboard both ways, set-up mode while an import reports, and
// commands run with the user's answers scripted.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QPrinter>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <set>

#include "ui/chessboard.h"
#include "ui/dialogs/game_info_dialog.h"
#include "ui/movable_panel.h"
#include "ui/notes_pane.h"
#include "ui/progress_window.h"
#include "window_fixture.h"

namespace vez {
namespace {

class MainWindowTest : public test::WindowTest {
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
};

// Notes the title of every progress window shown, however briefly.
class ProgressWatch final : public QObject {
public:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* progress = qobject_cast<ProgressDialog*>(object))
                titles.push_back(progress->windowTitle());
        }
        return false;
    }
    QStringList titles;
};

// A path that cannot be opened says why, in the store's words. On a new database: every
// command has its action and its own key, check marks follow their settings; an import runs beside
// the window with the commands that would replace the database disabled; moves dragged and saved
// become a stored game, and games and positions go through the clipboard both ways.
TEST_F(MainWindowTest, CommandsImportMovesAndTheClipboard)
{
    std::filesystem::create_directories(path("folder.vez"));
    for (const std::string& argument : {path("missing.vez"), path("folder.vez")}) {
        user.messages.clear();
        start(argument);
        EXPECT_EQ(window->windowTitle(), "No Database - VEZ 1.5") << argument;
        EXPECT_EQ(user.messages.size(), 1u) << argument;
    }
    user.messages.clear();
    start("");
    EXPECT_EQ(window->windowTitle(), "New Database - VEZ 1.5");
    std::set<QString> shortcuts; // a clash would leave both keys dead
    for (const CommandInfo& info : commandTable()) {
        const QAction* action = window->action(info.id);
        ASSERT_NE(action, nullptr);
        const QString keys = action->shortcut().toString();
        EXPECT_TRUE(keys.isEmpty() || shortcuts.insert(keys).second) << info.label;
    }
    window->runCommand(CommandId::FileValidate);
    EXPECT_EQ(user.messages, std::vector<std::string>{"The database is sound."});
    window->runCommand(CommandId::FileHogMemory);
    EXPECT_TRUE(window->action(CommandId::FileHogMemory)->isChecked());
    EXPECT_EQ(profile().getProfileInt("Hog Memory", 0), 1);

    ProgressWatch watch;
    QApplication::instance()->installEventFilter(&watch);
    const std::string before = logic().statusLines().first;
    user.answers = {test::kSamplePgn};
    window->runCommand(CommandId::FileImport);
    ASSERT_TRUE(doc().importRunning());
    EXPECT_FALSE(window->action(CommandId::FileNew)->isEnabled());
    ASSERT_TRUE(test::pump([this] { return !doc().importRunning(); }));
    QApplication::instance()->removeEventFilter(&watch);
    EXPECT_EQ(watch.titles, QStringList{"PGN Import"});
    QApplication::processEvents();
    window->refreshCommandState();
    EXPECT_TRUE(window->action(CommandId::FileNew)->isEnabled());
    EXPECT_NE(logic().statusLines().first, before);

    activate();
    Chessboard* board = content<Chessboard>("Chessbd");
    for (const auto& [from, to] : {std::pair(12, 28), std::pair(52, 36), std::pair(6, 21)}) {
        test::drag(board, test::centre(*board, from), test::centre(*board, to)); // e4 e5 Nf3
        QApplication::processEvents();
    }
    window->runCommand(CommandId::PositionBackUp);
    // Saving asks for the players first.
    test::answerModal<GameInfoDialog>([](GameInfoDialog& dialog) {
        static_cast<QComboBox*>(dialog.field("White"))->setEditText("Anderssen, Adolf");
        static_cast<QComboBox*>(dialog.field("Black"))->setEditText("Kieseritzky, Lionel");
        dialog.accept();
    });
    QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(doc().gameNumbers().size(), 61u);
    EXPECT_EQ(logic().endPly(), 3);
    EXPECT_EQ(logic().game().white, "Anderssen, Adolf");

    QApplication::clipboard()->setText("[White \"Morphy, Paul\"]\n[Result \"1-0\"]\n\n"
                                       "1. e4 e5 2. Qh5 Nc6 3. Bc4 Nf6 4. Qxf7# 1-0\n");
    window->runCommand(CommandId::GamePastePgn);
    ASSERT_EQ(doc().gameNumbers().size(), 62u);
    window->runCommand(CommandId::GameCopyPgn);
    EXPECT_TRUE(QApplication::clipboard()->text().contains("4. Qxf7# 1-0"));
    window->runCommand(CommandId::PositionFastForward);
    window->runCommand(CommandId::PositionCopyEpd);
    const Position mate = logic().shownPosition();
    window->runCommand(CommandId::GameStartNewGame);
    window->runCommand(CommandId::PositionPasteEpd);
    EXPECT_TRUE(samePosition(logic().shownPosition(), mate));
}

// Browsing stops at Cancel. On a browsed file: printing; text keys in the notes pane edit the text
// and keep the game, where with the board in front they are the game's commands; set-up mode
// outlasts an import hint.
TEST_F(MainWindowTest, BrowsingNotesKeysSetUpModeAndPrinting)
{
    test::answerModal<ProgressDialog>([](ProgressDialog& progress) { progress.reject(); });
    start(test::kSamplePgn);
    EXPECT_EQ(window->windowTitle(), "PGN File Browsing - VEZ 1.5");
    EXPECT_LT(doc().gameNumbers().size(), 60u);
    start(test::kSamplePgn);
    doc().selectGame(0, "", nullptr);
    QPrinter printer; // a PDF, by the file's name
    printer.setOutputFileName(QString::fromStdString(path("game.pdf")));
    window->printTo(printer);
    EXPECT_GT(std::filesystem::file_size(path("game.pdf")), 1000u);

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
    QApplication::clipboard()->clear();
    Chessboard* board = content<Chessboard>("Chessbd");
    board->setFocus();
    QTest::keyClick(board, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("[Event "));

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

// What a session writes, the next applies unchanged: the window neither moves nor grows. A
// size too big for the screen gives way to the default one.
TEST_F(MainWindowTest, StoredPlacementIsHonouredAndKeptFromSessionToSession)
{
    profile().writeProfileInt("Pos x", 50);
    profile().writeProfileInt("Pos y", 60);
    profile().writeProfileInt("Size x", 640);
    profile().writeProfileInt("Size y", 480);
    for (int session = 0; session < 2; ++session) {
        start("");
        EXPECT_EQ(window->frameGeometry(), QRect(50, 60, 640, 480)) << session;
        window->resize(window->size()); // a resize in the normal state writes the size
        QApplication::processEvents();
    }
    window.reset(); // it writes its place as it closes
    profile().writeProfileInt("Size x", QApplication::primaryScreen()->geometry().width() + 10);
    start("");
    EXPECT_EQ(window->frameGeometry().size(), QSize(700, 500));
}

} // namespace
} // namespace vez
