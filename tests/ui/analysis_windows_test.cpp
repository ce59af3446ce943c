// The analysis windows, the engine's configuration and the server dialog in the main
// window as the user drives them; the engine is the adapter over Stockfish.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <filesystem>

#include "chess/notation.h"
#include "engine/engine_settings.h"
#include "interchange/game.h"
#include "server/listener.h"
#include "ui/analysis/analysis_dialog.h"
#include "ui/analysis/analysis_windows.h"
#include "ui/analysis/engine_config_dialog.h"
#include "ui/analysis/server_dialog.h"
#include "ui/chessboard.h"
#include "window_fixture.h"

namespace vez::test {
namespace {

using namespace std::chrono_literals;
using C = CommandId;

// The sample's game of this White player (Kabanov: game 46, 24 moves).
std::string sampleGame(const char* white)
{
    const std::string all = readFile(VEZ_TEST_DATA_DIR "/twic0920-sample.pgn");
    const std::size_t at = all.rfind("[Event ", all.find(std::string("[White \"") + white));
    return all.substr(at, all.find("[Event ", at + 1) - at);
}

class AnalysisWindowsTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ::setenv("VEZ_ENGINE_TIME_SCALE", "0.02", 1);
        profile().writeProfileString(kEnginePathKey, VEZ_UCI_ADAPTER);
        profile().writeProfileString(kEngineCommandLineKey, "vez-uci-adapter");
        profile().writeProfileInt(kEngineTimeKey, 0);
        start("", false);
    }

    AnalysisWindows& windows() { return window->analysisWindows(); }
    bool enabled(CommandId id) { return window->action(id)->isEnabled(); }
    static void click(AnalysisDialog& dialog, const char* button)
    {
        dialog.findChild<QPushButton*>(button)->click();
    }
};

// A game analysis for White scores Black's moves and closes itself, or File/New closes it;
// then a Co-Pilot follows the view.
TEST_F(AnalysisWindowsTest, GameAnalysisAndCoPilot)
{
    if (!findOnPath("stockfish") && ::access("/usr/games/stockfish", X_OK) != 0)
        GTEST_SKIP() << "stockfish is not installed: the analysis needs an engine";
    ASSERT_EQ(doc().pasteGames(sampleGame("Kabanov")), 1);
    const int number = doc().gameNumbers().front();
    logic().selectGameFromGameset(number, "");
    logic().goToPly(10);
    window->runCommand(C::GameAnalyze);
    ASSERT_EQ(windows().windows().size(), 1u);
    AnalysisDialog& dialog = *windows().windows()[0];
    dialog.findChild<QCheckBox*>("black")->setChecked(false);
    click(dialog, "start");
    EXPECT_FALSE(enabled(C::GameCutPgn) || enabled(C::GameDeleteGame) ||
                 enabled(C::GamesetDeleteGames));
    ASSERT_TRUE(pump([&] { return windows().windows().empty(); }, 60s)) << user.messages.size();
    EXPECT_TRUE(enabled(C::GameCutPgn) && enabled(C::GameDeleteGame) &&
                enabled(C::GamesetDeleteGames));

    // Black's box was cleared: every Black move but a last one is judged, no White move; how
    // is the analysis job's own test. The view shows the stored game again.
    Game stored;
    ASSERT_TRUE(doc().readGame(number, stored, true));
    const auto& entries = stored.entries;
    for (std::size_t ply = 0; ply + 1 < entries.size(); ++ply)
        EXPECT_EQ(entries[ply].score != kNoScore, ply % 2 == 1) << ply;
    EXPECT_EQ(logic().currentPly(), 10);
    EXPECT_EQ(logic().game().entries[1].score, entries[1].score);

    // A new database closes a running game analysis first.
    window->runCommand(C::GameAnalyze);
    ASSERT_EQ(windows().windows().size(), 1u);
    AnalysisDialog& again = *windows().windows()[0];
    again.findChild<QSlider*>("time")->setValue(4);
    click(again, "start");
    ASSERT_TRUE(pump([&] { return !again.job().scoreText().empty(); }));
    window->runCommand(C::FileNew);
    EXPECT_EQ(AnalysisJob::jobsHoldingGames(), 0);
    pump([] { return false; }, 1s);
    EXPECT_TRUE(doc().gameNumbers().empty());

    // One Co-Pilot follows the view.
    window->runCommand(C::PositionCoPilot);
    ASSERT_EQ(windows().windows().size(), 1u);
    EXPECT_FALSE(enabled(C::PositionCoPilot));
    AnalysisDialog& coPilot = *windows().windows()[0];
    click(coPilot, "start");
    ASSERT_TRUE(coPilot.job().running());
    // The engine's line shows, and its first move as an arrow on the window's board (which
    // arrow, the job's own test checks).
    ASSERT_TRUE(pump([&] { return !coPilot.findChild<QLineEdit*>("pv")->text().isEmpty(); }));
    const auto& arrows = coPilot.board().arrows();
    EXPECT_TRUE(std::any_of(arrows.begin(), arrows.end(), [&](const Chessboard::Arrow& a) {
        return a.kind == int(ArrowKind::Variation);
    }));

    for (const char* text : {"e4", "c5", "Nf3"}) {
        ASSERT_TRUE(logic().enterMoveText(text));
        EXPECT_TRUE(samePosition(coPilot.board().GetPosition(), logic().shownPosition())) << text;
    }
    EXPECT_TRUE(coPilot.job().running());

    coPilot.close();
    ASSERT_TRUE(pump([&] { return windows().windows().empty(); }));
    EXPECT_EQ(logic().coPilot(), nullptr);
    EXPECT_TRUE(enabled(C::PositionCoPilot));
}

// Configure restores the engine's defaults; the server dialog starts and stops the server.
TEST_F(AnalysisWindowsTest, EngineConfigurationAndServerDialogs)
{
    // The adapter where a user's system has it; cat answers nothing and runs until stopped.
    const std::string adapterFolder = std::filesystem::path(VEZ_UCI_ADAPTER).parent_path().string();
    ::setenv("PATH", (adapterFolder + ":" + std::getenv("PATH")).c_str(), 1);
    profile().writeProfileString(kEnginePathKey, "/bin/cat");
    RecordingBeeper beeper;
    AnalysisDialog dialog(
        std::make_unique<AnalysisJob>(doc(), nullptr, logic().shownPosition(), false), doc(),
        beeper);
    click(dialog, "start");
    click(dialog, "configure"); // refused while the engine runs
    EXPECT_EQ(beeper.kinds, std::vector<BeepKind>{BeepKind::Exclamation});
    click(dialog, "stop");

    answerModal<EngineConfigDialog>([](EngineConfigDialog& config) {
        config.findChild<QPushButton*>("defaults")->click();
        config.findChild<QLineEdit*>("commandLine")->setText("engine");
        config.findChild<QLineEdit*>("margin2")->setText("2.5");
        config.accept();
    });
    click(dialog, "configure");
    EXPECT_TRUE(profile().getProfileString(kEnginePathKey, "").ends_with(kAdapterProgramName));
    EXPECT_EQ(profile().getProfileString(kEngineCommandLineKey, ""), "engine");
    EXPECT_EQ(profile().getProfileString(kEngineMargin2Key, ""), "2.5");

    // The server dialog starts and stops the server.
    ASSERT_EQ(doc().pasteGames(sampleGame("Kabanov")), 1);
    answerModal<ServerDialog>([](ServerDialog& dialog) { dialog.reject(); });
    window->runCommand(C::FileServer);
    EXPECT_EQ(doc().server(), nullptr);

    answerModal<ServerDialog>([](ServerDialog& dialog) {
        dialog.findChild<QSpinBox*>("port")->setValue(0); // any free port
        dialog.permissionBox(2)->setChecked(false);       // network others read-only
        dialog.permissionBox(0)->setChecked(true);        // network known read-only
        dialog.findChild<QLineEdit*>("logFile")->setText("server.log");
        dialog.findChild<QPushButton*>("logFileClear")->click();
        dialog.accept();
    });
    window->runCommand(C::FileServer);
    auto* server = dynamic_cast<ServerListener*>(doc().server());
    ASSERT_NE(server, nullptr) << (user.messages.empty() ? "" : user.messages.back());
    EXPECT_EQ(profile().getProfileInt("server perm", 0), 166 - 4 + 1);
    EXPECT_EQ(profile().getProfileString("server log", "x"), "");
    EXPECT_FALSE(enabled(C::GamesetCreateDatabase));

    QTcpSocket client;
    client.connectToHost("127.0.0.1", quint16(server->port()));
    ASSERT_TRUE(pump([&] { return client.canReadLine(); }, 10s));
    EXPECT_EQ(client.readLine().toStdString(), "+VEZ 1.5 server\r\n");
    window->runCommand(C::FileServer);
    ASSERT_TRUE(pump([&] { return client.canReadLine(); }, 10s));
    EXPECT_EQ(client.readLine().toStdString(), "-shutting down!\r\n");
    EXPECT_EQ(doc().server(), nullptr);
}

} // namespace
} // namespace vez::test
