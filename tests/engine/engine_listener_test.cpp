// The listener threads and the adapter end to end: an engine's lines reach the receiver as
// records, in order, and the end of its output stops the analysis once. The adapter is
// driven through the same path against a real Stockfish.
#include "engine/engine_listener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "chess/movegen.h"
#include "engine/child_process.h"
#include "support/board.h"
#include "support/child_scripts.h"

namespace vez {
namespace {

using namespace std::chrono_literals;
using test::CapturedMessages;
using test::ScriptFolder;

// Takes the records on the listener threads, as the owner's thread would.
class RecordingReceiver : public EngineReceiver {
public:
    void engineSound(EngineSound) override {}
    void engineRecord(const EngineRecord& record) override
    {
        std::lock_guard lock(m_lock);
        m_records.push_back(record);
    }
    void engineStop() override { ++stops; }
    std::vector<EngineRecord> records()
    {
        std::lock_guard lock(m_lock);
        return m_records;
    }
    // Waits (a minute at most) for the record with a move made after `movesBefore` others;
    // that record.
    EngineRecord awaitMove(std::size_t movesBefore)
    {
        EngineRecord found;
        EXPECT_TRUE(test::eventually(
            [&] {
                std::size_t moves = 0;
                for (const EngineRecord& record : records())
                    if (record.moveMade && ++moves > movesBefore)
                        return found = record, true;
                return false;
            },
            60s))
            << "no engine move arrived";
        return found;
    }
    bool awaitStop()
    {
        return test::eventually([&] { return stops > 0; }, 60s);
    }

    std::atomic<int> stops{0};

private:
    std::mutex m_lock;
    std::vector<EngineRecord> m_records;
};

TEST(EngineListener, ScriptedEngineReachesTheReceiverAndStopsOnce)
{
    ScriptFolder folder;
    // Replays what the engine prints around one search; it ends when told to.
    const std::string engine = folder.script("engine", R"(printf 'Crafty v0.1\nWhite(1): '
read setup
printf '\nkibitz d5 0:03 +0.40 e4 e5 x\n\aWhite(1): e4\nBlack(1): '
read done
echo 'oops' >&2)");
    CapturedMessages messages;
    ChildProcess child(messages);
    EngineDialogue dialogue;
    dialogue.setBoard(test::positionFrom("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -"));
    auto receiver = std::make_shared<RecordingReceiver>();
    ASSERT_TRUE(child.Start(engine, "engine", true));
    dialogue.startListeners(child, receiver);
    EXPECT_TRUE(dialogue.hasListeners());
    // The banner and the prompt, before any command.
    ASSERT_TRUE(test::eventually([&] { return receiver->records().size() >= 2; }, 60s));
    child.Write("go\n");
    const EngineRecord move = receiver->awaitMove(0);
    EXPECT_EQ(test::sanOf(dialogue.board(), move.move) + "|" + move.scoreText + "|" + move.pvText,
              "e4|+0.40|e4 e5 x");
    child.Write("quit\n");
    ASSERT_TRUE(receiver->awaitStop());
    EXPECT_TRUE(test::eventually([&] { return !dialogue.hasListeners(); }));
    EXPECT_TRUE(dialogue.stopping());
    EXPECT_EQ(receiver->stops, 1);

    // In order: the banner, the prompt (posted while incomplete and again when its line
    // ended), the kibitz line, the prompt that hands over the move; the error text only
    // when it came before the stop.
    std::vector<std::string> seen;
    for (const EngineRecord& record : receiver->records())
        if (record.stop)
            EXPECT_EQ(record.commentText, "oops");
        else
            seen.push_back(std::to_string(record.moveMade) + record.scoreText + "|" +
                           record.commentText);
    EXPECT_EQ(seen, (std::vector<std::string>{"0|Crafty v0.1", "0|Crafty v0.1", "0|Crafty v0.1",
                                              "0+0.40|Crafty v0.1", "1+0.40|Crafty v0.1"}));
}

class AdapterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!findOnPath("stockfish") && ::access("/usr/games/stockfish", X_OK) != 0)
            GTEST_SKIP() << "stockfish is not installed";
        // Searches of a few milliseconds: a minute becomes 120 ms.
        ::setenv("VEZ_ENGINE_TIME_SCALE", "0.002", 1);
        ASSERT_TRUE(adapter.Start(VEZ_UCI_ADAPTER, "vez-uci-adapter", true));
        dialogue.startListeners(adapter, receiver);
        dialogue.SendSetup(write, kDefaultEngineCommands,
                           timeControl(AnalysisKind::Position, 0, 0));
    }
    void TearDown() override
    {
        dialogue.detachListeners();
        adapter.Kill();
    }

    CapturedMessages messages;
    ChildProcess adapter{messages};
    EngineDialogue dialogue;
    std::shared_ptr<RecordingReceiver> receiver = std::make_shared<RecordingReceiver>();
    EngineWriter write = [this](std::string_view text) { adapter.Write(text); };
};

// A position search gives the move, the score and the PV; a game walk goes on with forced
// moves and moves played for the engine; what it cannot do is an error.
TEST_F(AdapterTest, PositionSearchAndGameWalk)
{
    const Position mateInOne = test::positionFrom("6k1/5ppp/8/8/8/8/5PPP/3R2K1 w - -");
    dialogue.setBoard(mateInOne);
    dialogue.SendPosition(write);
    const EngineRecord mate = receiver->awaitMove(0);
    EXPECT_EQ(std::to_string(mate.stop) + test::sanOf(mateInOne, mate.move) +
                  mate.scoreText.substr(0, 2),
              "0Rd8+M")
        << mate.scoreText;
    const std::vector<Move> pv = pvMoves(mateInOne, mate.pvText, 6);
    EXPECT_EQ(pv.empty() ? Move::None : pv.front(), mate.move) << mate.pvText;
    EXPECT_EQ(scoreValue(shownScore(mate.scoreText, false), 0), 9999.0);

    Position board = test::positionFrom("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -");
    dialogue.setBoard(board);
    dialogue.SendPosition(write);
    const EngineRecord first = receiver->awaitMove(1);
    ASSERT_TRUE(isLegalMove(board, first.move));

    // The game went 1. g4 instead: the engine takes that and searches Black's reply.
    Move played = Move::None;
    ASSERT_TRUE(parseMove(board, played, nullptr, nullptr, "g4"));
    if (first.move != played)
        write("force g4\n");
    makeMove(board, played);
    dialogue.setBoard(board);
    write("go\n");
    const EngineRecord second = receiver->awaitMove(2);
    EXPECT_TRUE(isLegalMove(board, second.move)) << second.commentText;

    // White's reply played for it makes the engine search for Black again.
    Position reply = board;
    makeMove(reply, second.move);
    Move knight = Move::None;
    ASSERT_TRUE(parseMove(reply, knight, nullptr, nullptr, "Nf3"));
    makeMove(reply, knight);
    dialogue.setBoard(reply);
    write("Nf3\n");
    const EngineRecord third = receiver->awaitMove(3);
    EXPECT_TRUE(isLegalMove(reply, third.move)) << third.commentText;

    // What it cannot do ends the search with an ERROR line.
    write("setboard 8/8/8/8/8/8/8/8 w\n");
    const EngineRecord error = receiver->awaitMove(4);
    EXPECT_EQ(error.stop, 1);
    EXPECT_TRUE(error.commentText.starts_with("ERROR")) << error.commentText;

    // "quit" ends the adapter and its engine; the listeners then stop the analysis.
    write("quit\n");
    EXPECT_TRUE(receiver->awaitStop());
    EXPECT_EQ(receiver->stops, 1);
}

} // namespace
} // namespace vez
