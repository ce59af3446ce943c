// The dialogs as the user meets them: fields shown, buttons pressed, what they hand back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <thread>

#include "interchange/game.h"
#include "ui/dialogs/file_filter.h"
#include "ui/dialogs/game_info_dialog.h"
#include "ui/dialogs/gameset_dialog.h"
#include "ui/dialogs/pgn_error_dialog.h"
#include "ui/dialogs/select_game_dialog.h"
#include "ui/progress_window.h"

// The forms below name only the fields a case fills; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace vez {
namespace {

TEST(FileFilter, CommandFiltersBecomeQtFilters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"VEZ database (*.vez)|*.vez|All Files (*.*)|*.*||", "VEZ database (*.vez);;All Files (*)"},
        {"Executable files (*.exe)|*.exe||", "Executable files (*.exe)"},
        {"Games|*.pgn;*.txt||", "Games (*.pgn *.txt)"},
    };
    for (const auto& [filter, expected] : cases)
        EXPECT_EQ(qtFileFilter(filter), expected) << filter;
    EXPECT_EQ(withDefaultSuffix("/tmp/games", "pgn") + withDefaultSuffix("/tmp/games.txt", "pgn"),
              "/tmp/games.pgn/tmp/games.txt");
}

TEST(PgnErrorDialog, ShowsTheReportAndAnswersEachButton)
{
    const PgnErrorReport report{"/data/twic.pgn",       17,   342, "Illegal move",
                                "[Event \"x\"]\n1. e5", false};
    const std::pair<PgnErrorChoice, bool> answers[] = {{PgnErrorChoice::CopyToClipboard, true},
                                                       {PgnErrorChoice::Abort, false}};
    for (const auto& [choice, ignore] : answers) {
        PgnErrorDialog dialog(report, nullptr);
        EXPECT_EQ(QStringList({dialog.field("game"), dialog.field("line"), dialog.field("text")}),
                  QStringList({"17", "342", "[Event \"x\"]\n1. e5"}));
        dialog.ignoreBox()->setChecked(ignore);
        dialog.button(choice)->click();
        EXPECT_EQ(std::pair(dialog.answer().choice, dialog.answer().ignoreRemaining),
                  std::pair(choice, ignore));
    }
    // A bad EPD line has no game count to show.
    PgnErrorDialog epd({"a.epd", -1, 3, "Bad EPD position", "8/8 w", true}, nullptr);
    EXPECT_EQ(epd.field("game"), "");
}

TEST(SelectGameDialog, ReadsOnlyTheRowsItShowsAndClicksChoose)
{
    std::vector<int> numbers(150000);
    for (int i = 0; i < 150000; ++i)
        numbers[std::size_t(i)] = 149999 - i; // descending: the caller's order, not sorted
    int reads = 0;
    SelectGameDialog dialog(
        numbers, 75000,
        [&](int number, Game& header) {
            ++reads;
            header.white = "White " + std::to_string(number);
            header.year = number == 149999 ? 1998 : 0;
            return true;
        },
        nullptr);
    dialog.show();
    QApplication::processEvents();
    EXPECT_TRUE(reads > 0 && reads < 500) << reads;
    const GameListModel& model = *dialog.model();
    EXPECT_EQ(model.rowCount(), 150000);
    EXPECT_EQ(model.data(model.index(0, GameListModel::Date), Qt::DisplayRole), "1998.??.??");
    EXPECT_EQ(model.data(model.index(1, GameListModel::White), Qt::DisplayRole), "White 149998");

    // A click chooses, a double click closes, and blank space is ignored.
    SelectGameDialog three(
        {17, 3, 42}, -1, [](int, Game&) { return true; }, nullptr);
    three.resize(900, 400);
    three.show();
    QApplication::processEvents();
    QWidget* viewport = three.view()->viewport();
    const QRect second = three.view()->visualRect(three.model()->index(1, 0));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second.center());
    QTest::mouseClick(viewport, Qt::LeftButton, {},
                      QPoint(second.center().x(), viewport->height() - 5));
    EXPECT_EQ(three.chosen(), 3);
    // A deleted game leaves the list and the choice.
    three.refresh([](int number) { return number != 3; });
    EXPECT_EQ(three.chosen(), -1);
    EXPECT_EQ(three.model()->rowCount(), 2);
    QApplication::processEvents();
    const QRect first = three.view()->visualRect(three.model()->index(0, 0));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, first.center());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, first.center());
    EXPECT_EQ(three.chosen(), 17);
    EXPECT_EQ(three.outcome(), SelectGameDialog::Chosen);
}

TEST(GamesetForm, ChecksComeInTheirOrder)
{
    const GamesetChoices known{{"Selected Games"}, {"Tal, Mikhail"}, {"Candidates"}, {"Opening"}};
    using R = GamesetRole;
    using C = GamesetColor;
    const std::pair<GamesetForm, std::string> cases[] = {
        {{.player = "Nobody"}, "The name must be present and distinct."},
        {{.name = "Mine", .player = "Nobody", .role = R::Winner},
         "The player's name must be known, if present."},
        {{.name = "Mine", .event = "x", .role = R::Loser},
         "A player's name or color must be specified if a winner or loser is selected."},
        {{.name = "Mine", .role = R::Draw, .color = C::Black}, "Impossible draw criteria"},
        {{.name = "Mine", .event = "Olympiad", .tag = "Nope"},
         "The event's name must be known, if present."},
        {{.name = "Mine", .value = "x"}, "A tag must be specified for the value."},
        {{.name = "Mine", .player = "Tal, Mikhail", .role = R::Winner}, ""},
        {{.name = "Mine", .tag = "Site", .value = "Riga"}, ""},
    };
    for (const auto& [f, message] : cases) {
        std::string shown; // all the messages, one after the other
        GamesetDialog dialog(
            known, f, [&shown](const std::string& m) { shown += m; }, nullptr);
        dialog.accept();
        EXPECT_EQ(shown, message) << f.name;
        EXPECT_EQ(dialog.result(), message.empty() ? QDialog::Accepted : QDialog::Rejected);
    }
}

TEST(GameInfoDialog, WritesTheHeaderIntoTheGame)
{
    Game game;
    game.setTag("White", "Tal, Mikhail");
    game.setTag("Date", "1960.03.15");
    game.tags = {{"Annotator", "Botvinnik"}};
    GameInfoDialog dialog(game, {{"Tal, Mikhail", "Botvinnik, Mikhail"}, {}, {}}, nullptr);
    EXPECT_EQ(static_cast<QLineEdit*>(dialog.field("Date"))->text(), "1960.3.15");
    static_cast<QComboBox*>(dialog.field("Black"))->setEditText("Botvinnik, Mikhail");
    static_cast<QLineEdit*>(dialog.field("Round"))->setText("6");
    static_cast<QLineEdit*>(dialog.field("Date"))->setText("");
    static_cast<QComboBox*>(dialog.field("Result"))->setCurrentText("1/2-1/2");
    dialog.customTags().push_back({"PlyCount", "82"});
    dialog.applyTo(game);
    EXPECT_EQ(game.white + "|" + game.black, "Tal, Mikhail|Botvinnik, Mikhail");
    EXPECT_EQ((std::vector<int>{game.round, game.year, game.result, int(game.tags.size())}),
              (std::vector<int>{6, 0, 3, 2}));
}

TEST(ProgressWindow, AWorkersUpdatesArriveAndCancelIsSeen)
{
    ProgressWindow progress("PGN Import", nullptr);
    std::thread worker([&] {
        for (int done = 0; done <= 500; ++done)
            progress.update("games.pgn", 1000, std::uint64_t(done));
    });
    worker.join();
    QApplication::processEvents();
    EXPECT_EQ(progress.dialog()->text(), "games.pgn");
    EXPECT_EQ(progress.dialog()->percent(), 49);
    EXPECT_FALSE(progress.cancelled());
    progress.dialog()->reject();
    EXPECT_TRUE(progress.cancelled());
}

} // namespace
} // namespace vez
