// The dialogs as the user meets them: fields shown, buttons pressed, what they hand back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
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
#include "ui/dialogs/value_dialogs.h"
#include "ui/progress_window.h"
#include "ui/splash_window.h"

namespace vez {
namespace {

TEST(FileFilter, CommandFiltersBecomeQtFilters)
{
    const std::pair<const char*, const char*> cases[] = {
        {"VEZ database (*.vez)|*.vez|All Files (*.*)|*.*||",
         "VEZ database (*.vez);;All Files (*)"},
        {"Executable files (*.exe)|*.exe||", "Executable files (*.exe)"},
        {"Games|*.pgn;*.txt||", "Games (*.pgn *.txt)"},
    };
    for (const auto& [filter, expected] : cases)
        EXPECT_EQ(qtFileFilter(filter), expected) << filter;
    EXPECT_EQ(withDefaultSuffix("/tmp/games", "pgn"), "/tmp/games.pgn");
    EXPECT_EQ(withDefaultSuffix("/tmp/games.txt", "pgn"), "/tmp/games.txt");
    EXPECT_EQ(withDefaultSuffix("/tmp/games.", "pgn"), "/tmp/games");
}

TEST(PgnErrorDialog, ShowsTheReportAndAnswersEachButton)
{
    const PgnErrorReport report{"/data/twic.pgn", 17, 342, "Illegal move", "[Event \"x\"]\n1. e5", false};
    for (PgnErrorChoice choice : {PgnErrorChoice::SaveAs, PgnErrorChoice::CopyToClipboard,
                                  PgnErrorChoice::Skip, PgnErrorChoice::Abort}) {
        for (bool ignore : {false, true}) {
            PgnErrorDialog dialog(report, nullptr);
            EXPECT_EQ(dialog.windowTitle(), "PGN Error");
            EXPECT_EQ(dialog.field("file"), "/data/twic.pgn");
            EXPECT_EQ(dialog.field("game"), "17");
            EXPECT_EQ(dialog.field("line"), "342");
            EXPECT_EQ(dialog.field("message"), "Illegal move");
            EXPECT_EQ(dialog.field("text"), "[Event \"x\"]\n1. e5");
            EXPECT_EQ(dialog.ignoreBox()->text(), "Silently ignore remaining errors");
            dialog.ignoreBox()->setChecked(ignore);
            dialog.button(choice)->click();
            EXPECT_EQ(dialog.answer().choice, choice);
            EXPECT_EQ(dialog.answer().ignoreRemaining, ignore);
        }
    }
    // A bad EPD line has no game count to show.
    PgnErrorDialog epd({"a.epd", -1, 3, "Bad EPD position", "8/8 w", true}, nullptr);
    EXPECT_EQ(epd.field("game"), "");
}

TEST(SelectGameDialog, ReadsOnlyTheRowsItShowsInTheCallersOrder)
{
    std::vector<int> numbers(150000);
    for (int i = 0; i < 150000; ++i)
        numbers[std::size_t(i)] = 149999 - i; // descending: the caller's order, not sorted
    int reads = 0;
    SelectGameDialog dialog(numbers, 75000, [&](int number, Game& header) {
        ++reads;
        header.white = "White " + std::to_string(number);
        header.year = number == 149999 ? 1998 : 0;
        return true;
    }, nullptr);
    dialog.show();
    QApplication::processEvents();
    EXPECT_GT(reads, 0);
    EXPECT_LT(reads, 500);
    const GameListModel& model = *dialog.model();
    EXPECT_EQ(model.rowCount(), 150000);
    EXPECT_EQ(model.data(model.index(0, GameListModel::Number), Qt::DisplayRole), "149999");
    EXPECT_EQ(model.data(model.index(0, GameListModel::Date), Qt::DisplayRole), "1998.??.??");
    EXPECT_EQ(model.data(model.index(1, GameListModel::Date), Qt::DisplayRole), "");
    EXPECT_EQ(model.data(model.index(1, GameListModel::White), Qt::DisplayRole), "White 149998");
    // Shown, not chosen: OK without a click changes nothing.
    EXPECT_EQ(dialog.chosen(), -1);
}

TEST(SelectGameDialog, ClickChoosesDoubleClickClosesAndBlankSpaceIsIgnored)
{
    auto reader = [](int, Game& header) { header.white = "Tal"; return true; };
    SelectGameDialog dialog({17, 3, 42}, -1, reader, nullptr);
    dialog.resize(900, 400);
    dialog.show();
    QApplication::processEvents();
    QWidget* viewport = dialog.view()->viewport();
    const QRect second = dialog.view()->visualRect(dialog.model()->index(1, 0));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, second.center());
    EXPECT_EQ(dialog.chosen(), 3);
    QTest::mouseClick(viewport, Qt::LeftButton, {}, QPoint(second.center().x(), viewport->height() - 5));
    EXPECT_EQ(dialog.chosen(), 3);
    EXPECT_TRUE(dialog.isVisible());
    // A deleted game leaves the list and the choice.
    dialog.refresh([](int number) { return number != 3; });
    EXPECT_EQ(dialog.chosen(), -1);
    EXPECT_EQ(dialog.model()->rowCount(), 2);
    QApplication::processEvents();
    const QRect first = dialog.view()->visualRect(dialog.model()->index(0, 0));
    QTest::mouseClick(viewport, Qt::LeftButton, {}, first.center());
    QTest::mouseDClick(viewport, Qt::LeftButton, {}, first.center());
    EXPECT_EQ(dialog.chosen(), 17);
    EXPECT_EQ(dialog.outcome(), SelectGameDialog::Chosen);
}

TEST(GamesetForm, ChecksComeInTheirOrder)
{
    const GamesetChoices known{{"Selected Games"}, {"Tal, Mikhail"}, {"Candidates"}, {"Opening"}};
    auto form = [](auto change) { GamesetForm f; f.name = "Mine"; change(f); return f; };
    const std::pair<GamesetForm, std::string> cases[] = {
        {form([](GamesetForm& f) { f.name = ""; f.player = "Nobody"; }),
         "The name must be present and distinct."},
        {form([](GamesetForm& f) { f.name = "Selected Games"; }), "The name must be present and distinct."},
        {form([](GamesetForm& f) { f.player = "Nobody"; f.role = GamesetRole::Winner; }),
         "The player's name must be known, if present."},
        {form([](GamesetForm& f) { f.role = GamesetRole::Loser; f.event = "x"; }),
         "A player's name or color must be specified if a winner or loser is selected."},
        {form([](GamesetForm& f) { f.role = GamesetRole::Draw; f.color = GamesetColor::Black; }),
         "Impossible draw criteria"},
        {form([](GamesetForm& f) { f.event = "Olympiad"; f.tag = "Nope"; }),
         "The event's name must be known, if present."},
        {form([](GamesetForm& f) { f.tag = "Nope"; }), "The tag must be known, if present."},
        {form([](GamesetForm& f) { f.value = "x"; }), "A tag must be specified for the value."},
        {form([](GamesetForm& f) { f.player = "Tal, Mikhail"; f.role = GamesetRole::Winner; }), ""},
        {form([](GamesetForm& f) { f.role = GamesetRole::Draw; }), ""},
        {form([](GamesetForm& f) { f.tag = "Site"; f.value = "Riga"; }), ""},
    };
    for (const auto& [f, message] : cases) {
        std::vector<std::string> shown;
        GamesetDialog dialog(known, f, [&](const std::string& m) { shown.push_back(m); }, nullptr);
        dialog.accept();
        EXPECT_EQ(shown, message.empty() ? std::vector<std::string>{}
                                         : std::vector<std::string>{message}) << f.name;
        EXPECT_EQ(dialog.result(), message.empty() ? QDialog::Accepted : QDialog::Rejected);
    }
    GamesetForm search = form([](GamesetForm& f) {
        f.via = GamesetVia::Subtract; f.role = GamesetRole::Winner; f.color = GamesetColor::White;
        f.containsPosition = true;
    });
    const GamesetRule rule = gamesetRuleOf(search, "8/8/8/8/8/8/8/K6k w - -");
    EXPECT_EQ(rule.rule, "Subtract");
    EXPECT_EQ(rule.outcome, "Win");
    EXPECT_EQ(rule.color, "White");
    EXPECT_EQ(rule.fen, "8/8/8/8/8/8/8/K6k w - -");
    EXPECT_EQ(temporaryGamesetName({"Temporary Gameset #0", "Temporary Gameset #2"}),
              "Temporary Gameset #1");
}

TEST(PositionScoreDialog, OkStoresTheScoreShownAndNoScoreRemovesIt)
{
    PositionScoreDialog dialog(125, nullptr);
    EXPECT_EQ(dialog.edit()->text(), "1.25");
    dialog.accept();
    EXPECT_EQ(dialog.score(), 125);
    dialog.edit()->setText("0.29");
    dialog.accept();
    EXPECT_EQ(dialog.score(), 29);
    dialog.chooseNoScore();
    EXPECT_EQ(dialog.score(), kNoScore);
}

TEST(GameInfoDialog, WritesTheHeaderIntoTheGame)
{
    Game game;
    game.setTag("White", "Tal, Mikhail");
    game.setTag("Date", "1960.03.15");
    game.tags = {{"Annotator", "Botvinnik"}};
    GameInfoDialog dialog(game, {{"Tal, Mikhail", "Botvinnik, Mikhail"}, {}, {}}, nullptr);
    EXPECT_EQ(static_cast<QComboBox*>(dialog.field("White"))->currentText(), "Tal, Mikhail");
    EXPECT_EQ(static_cast<QLineEdit*>(dialog.field("Date"))->text(), "1960.3.15");
    static_cast<QComboBox*>(dialog.field("Black"))->setEditText("Botvinnik, Mikhail");
    static_cast<QLineEdit*>(dialog.field("Round"))->setText("6");
    static_cast<QLineEdit*>(dialog.field("Date"))->setText("");
    static_cast<QComboBox*>(dialog.field("Result"))->setCurrentText("1/2-1/2");
    dialog.customTags().push_back({"PlyCount", "82"});
    dialog.applyTo(game);
    EXPECT_EQ(game.black, "Botvinnik, Mikhail");
    EXPECT_EQ(game.round, 6);
    EXPECT_EQ(game.year, 0);
    EXPECT_EQ(game.result, 3);
    ASSERT_EQ(game.tags.size(), 2u);
    EXPECT_EQ(game.tags[1].value, "82");
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

namespace vez {
namespace {

TEST(SplashWindow, ReplaysTheWholeGameAndClosesAtAClick)
{
    QPointer<SplashWindow> splash = showSplash(nullptr);
    ASSERT_EQ(splash->positions().size(), 14u); // the start and all 13 plies
    const Position& mate = splash->positions().back();
    EXPECT_EQ(mate.squares[makeSquare(3, 4)], makePiece(PieceType::Knight, kWhite)); // Nd5#
    EXPECT_EQ(mate.squares[makeSquare(4, 6)], makePiece(PieceType::King, kBlack));   // Ke7
    QTest::mouseClick(splash, Qt::LeftButton);
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(splash.isNull());
}

} // namespace
} // namespace vez
