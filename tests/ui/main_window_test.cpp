// The main window as the program starts it: titles, menus from the command table, placement,
// and commands run with the user's answers scripted.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QPrinter>
#include <QScreen>
#include <QTimer>
#include <filesystem>
#include <set>

#include "ui/progress_window.h"
#include "window_fixture.h"

namespace vez {
namespace {

const std::string kGames = VEZ_TEST_DATA_DIR "/twic0920-sample.pgn";

using MainWindowTest = test::WindowTest;

TEST_F(MainWindowTest, StartUpTitles)
{
    std::filesystem::create_directories(path("folder.vez"));
    const std::pair<std::string, QString> cases[] = {
        {"", "New Database - VEZ 1.5"},
        {path("missing.vez"), "No Database - VEZ 1.5"},
        {path("folder.vez"), "No Database - VEZ 1.5"},
    };
    for (const auto& [argument, title] : cases) {
        user.messages.clear();
        start(argument);
        EXPECT_EQ(window->windowTitle(), title) << argument;
        // A path that cannot be opened says why, in the store's words.
        EXPECT_EQ(user.messages.empty(), !title.startsWith("No Database")) << argument;
    }
}

TEST_F(MainWindowTest, EveryCommandHasAnActionWithItsOwnShortcut)
{
    start("");
    std::set<QString> shortcuts; // a clash would leave both keys dead
    for (const CommandInfo& info : commandTable()) {
        const QAction* action = window->action(info.id);
        ASSERT_NE(action, nullptr);
        const QString keys = action->shortcut().toString();
        EXPECT_TRUE(keys.isEmpty() || shortcuts.insert(keys).second) << info.label;
    }
    window->runCommand(CommandId::FileValidate);
    EXPECT_EQ(user.messages, std::vector<std::string>{"The database is sound."});
    // Check marks follow their settings.
    window->runCommand(CommandId::FileHogMemory);
    EXPECT_TRUE(window->action(CommandId::FileHogMemory)->isChecked());
    EXPECT_EQ(profile().getProfileInt("Hog Memory", 0), 1);
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

TEST_F(MainWindowTest, ImportRunsBesideTheWindowWithItsCommandsDisabled)
{
    start("");
    ProgressWatch watch;
    QApplication::instance()->installEventFilter(&watch);
    const std::string before = window->view().logic().statusLines().first;
    user.answers = {kGames};
    window->runCommand(CommandId::FileImport);
    ASSERT_TRUE(window->document().importRunning());
    EXPECT_FALSE(window->action(CommandId::FileNew)->isEnabled());
    while (window->document().importRunning())
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::instance()->removeEventFilter(&watch);
    EXPECT_EQ(watch.titles, QStringList{"PGN Import"});
    QApplication::processEvents();
    window->refreshCommandState();
    EXPECT_TRUE(window->action(CommandId::FileNew)->isEnabled());
    EXPECT_EQ(window->document().gameNumbers().size(), 60u);
    EXPECT_NE(window->view().logic().statusLines().first, before);
}

TEST_F(MainWindowTest, BrowsingStopsAtCancel)
{
    QTimer::singleShot(0, [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* progress = qobject_cast<ProgressDialog*>(widget))
                progress->reject();
        }
    });
    start(kGames);
    EXPECT_EQ(window->windowTitle(), "PGN File Browsing - VEZ 1.5");
    EXPECT_LT(window->document().gameNumbers().size(), 60u);
}

TEST_F(MainWindowTest, PrintsToAPdfFile)
{
    start(kGames);
    window->document().selectGame(0, "", nullptr);
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(path("game.pdf")));
    window->printTo(printer);
    EXPECT_GT(std::filesystem::file_size(path("game.pdf")), 1000u);
}

} // namespace
} // namespace vez
