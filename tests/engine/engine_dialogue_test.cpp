// The engine dialogue: every form of line the engine prints, the commands sent to it, and
// the scores, swings and principal variations read from its lines.
#include "engine/engine_dialogue.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/board.h"

namespace vez {
namespace {

constexpr const char* kStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -";
constexpr const char* kAfterE4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq -";

// The record's flags (move made, stop, new score), move, progress, score, PV and comment.
std::string describe(const Position& pos, const EngineRecord& r)
{
    return std::to_string(r.moveMade) + std::to_string(r.stop) + std::to_string(r.newScore) + "|" +
           test::sanOf(pos, r.move) + "|" + std::to_string(r.progressSeconds) + "|" + r.scoreText +
           "|" + r.pvText + "|" + r.commentText;
}

// Each case starts from a fresh dialogue whose board is the start position: a line parsed
// first (to leave a pending engine move) or null, the line, its stream, and the record sent
// (null: nothing is sent).
const std::tuple<const char*, const char*, int, const char*> kLineCases[] = {
    // Kibitz lines: depth, time (seconds or minutes:seconds), score and PV.
    {nullptr, "kibitz d10 1:05 +0.35 Nf3 d5", 0, "001||65|+0.35|Nf3 d5|"},
    {nullptr, "  kibitz   d7 12 -1.20   e4 e5 Nf3  ", 0, "001||12|-1.20|e4 e5 Nf3|"},
    {nullptr, "kibitz d12 0:07 >(+1.20) Nf3", 0, "001||7|>(+1.20)|Nf3|"},
    {nullptr, "kibitz d10; +0.35;", 0, "001||-1|+0.35||"},
    {nullptr, "kibitz pv: e4 e5 Nf3", 0, "000||-1||e4 e5 Nf3|"},
    {nullptr, "kibitz hello there", 0, "000||-1|||hello there"},
    // A prompt left in front of a kibitz line does not hide it.
    {nullptr, "White(1): kibitz d5 0:03 -0.20 e4 e5 x", 0, "001||3|-0.20|e4 e5 x|"},
    // A kibitz line after the engine's move carries that move.
    {"\aWhite(1): e4", "kibitz d8 0:01 +0.25 e4 e5 x", 0, "101|e4|1|+0.25|e4 e5 x|"},
    // Comments.
    {nullptr, "Crafty v15.5 (1 cpus)\r\n", 0, "000||-1|||Crafty v15.5 (1 cpus)"},
    {nullptr, "whisper book move", 0, "000||-1||| book move"},
    {nullptr, "hash table too small", 1, "110||-1|||hash table too small"},
    {nullptr, "ERROR: unknown command", 0, "110||-1|||ERROR: unknown command"},
    // The engine's move after a bell and a prompt is swallowed until the next prompt.
    {nullptr, "\aWhite(1): Nf3", 0, nullptr},
    {"\aWhite(1): Nf3", "Black(1): ", 0, "100|Nf3|-1|||"},
    {nullptr, "White(1): ", 0, "000||-1|||"},
    {nullptr, "\aWhite(1): Ke2", 0, "010||-1|||"},
    {nullptr, "\aWhite(1) e4", 0, "010||-1|||"},
    // Moves after "*" or after a move number and ". ... ".
    {"*d4", "Black(1): ", 0, "100|d4|-1|||"},
    {"1. ... c4", "Black(1): ", 0, "100|c4|-1|||"},
    {nullptr, "*Qh5", 0, "010||-1|||"},
    {nullptr, "12. e4", 0, nullptr},
    // Lines no rule knows, and empty lines.
    {nullptr, "nodes searched: 12345", 0, nullptr},
    {nullptr, " \r\n\n", 0, nullptr},
};

TEST(ParseEngineLine, EveryLineForm)
{
    const Position start = test::positionFrom(kStart);
    for (const auto& [before, line, stream, record] : kLineCases) {
        SCOPED_TRACE(line);
        EngineDialogue dialogue;
        dialogue.setBoard(start);
        if (before) {
            EXPECT_FALSE(dialogue.ParseEngineLine(before, 0).send);
        }
        const ParsedLine parsed = dialogue.ParseEngineLine(line, stream);
        EXPECT_EQ(parsed.sound, stream == 1 ? EngineSound::Exclamation : EngineSound::None);
        EXPECT_EQ(parsed.send ? describe(start, parsed.record) : "not sent",
                  record ? record : "not sent");
    }
}

TEST(ParseEngineLine, StateOfTheAnalysisShapesTheResult)
{
    EngineDialogue dialogue;
    dialogue.setBoard(test::positionFrom(kAfterE4));
    // Moves are read in the board's position.
    EXPECT_FALSE(dialogue.ParseEngineLine("1. ... e5\n", 0).send);
    EXPECT_EQ(test::sanOf(test::positionFrom(kAfterE4), dialogue.pendingMove()), "e5");
    // Texts persist from line to line; each record carries them as they were.
    dialogue.ParseEngineLine("kibitz d3 0:01 -0.10 e5 x", 0);
    const ParsedLine pv = dialogue.ParseEngineLine("kibitz pv: c5 Nf3 x", 0);
    EXPECT_EQ(pv.record.scoreText + "|" + pv.record.pvText, "-0.10|c5 Nf3 x");
    // A game analysis keeps the progress bar for plies; the beep box beeps on every line.
    dialogue.setGameAnalysis(true);
    dialogue.setBeep(true);
    const ParsedLine kibitz = dialogue.ParseEngineLine("kibitz d4 0:09 -0.15 e5 x", 0);
    EXPECT_EQ(std::pair(kibitz.record.progressSeconds, kibitz.sound),
              std::pair(-1, EngineSound::Simple));
    // While stopping nothing is sent.
    dialogue.setStopping(true);
    EXPECT_FALSE(dialogue.ParseEngineLine("ERROR: late", 0).send);
    EXPECT_FALSE(dialogue.beginStopping());
}

TEST(EngineCommands, SetupAndPositionTexts)
{
    EngineDialogue dialogue;
    std::string sent;
    const EngineWriter write = [&sent](std::string_view text) { sent += text; };

    dialogue.ParseEngineLine("kibitz d3 0:01 -0.10 e5 x", 0);
    dialogue.SendSetup(write, "log off\r\nansi off\r\n", timeControl(AnalysisKind::Position, 6, 0));
    EXPECT_EQ(dialogue.scoreText(), "");

    // Castling rights and the en-passant file are sent only while there are any.
    for (const char* fen :
         {kStart, "4k3/8/8/8/8/8/8/4K3 b - - 0 1", "4k3/8/8/3pP3/8/8/8/4K3 w - d"}) {
        dialogue.setBoard(test::positionFrom(fen));
        dialogue.SendPosition(write);
    }
    EXPECT_EQ(sent,
              "log off\nansi off\ntime 1/64/1\n"
              "setboard rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq\ngo\n"
              "setboard 4k3/8/8/8/8/8/8/4K3 b\ngo\nsetboard 4k3/8/8/3pP3/8/8/8/4K3 w - d\ngo\n");
}

TEST(EngineScores, ShownTextValueAndSwing)
{
    std::string shown;
    for (const char* text : {"+0.35", "-0.35", "0.50", "-M3"})
        shown += shownScore(text, true) + " ";
    for (const char* text : {">(+1.20)", ">()"})
        shown += shownScore(text, false) + " ";
    EXPECT_EQ(shown, "-0.35 +0.35 -0.50 +M3 +1.20 >() ");
    std::vector<double> values;
    for (const char* text : {"M3", "-M5", "", "+0.35", "1.5x"})
        values.push_back(scoreValue(text, 0.5));
    EXPECT_EQ(values, (std::vector<double>{9999.0, -9999.0, 0.0, 0.35, 0.5}));

    // The swing is seen from the side that moved into the searched position.
    EngineDialogue dialogue;
    const ScoreSwing white = dialogue.takeScore("+0.50", false);
    const ScoreSwing black = dialogue.takeScore("-0.99", true);
    EXPECT_EQ(std::tuple(white.centipawns, black.centipawns, dialogue.previousScore()),
              std::tuple(50, -99, -0.99));
    EXPECT_EQ(std::to_string(white.swing) + " " + std::to_string(black.swing), "0.500000 1.490000");
    dialogue.SendSetup([](std::string_view) {}, "", timeControl(AnalysisKind::Position, 0, 0));
    EXPECT_EQ(dialogue.previousScore(), 0.0);
    EXPECT_EQ(dialogue.takeScore("-M2", false).centipawns, -999900);

    std::vector<MoveGlyph> glyphs;
    for (double swing : {1.0, 0.99, -1.0, 3.0, -3.0})
        glyphs.push_back(glyphForSwing(swing, 1.0, 3.0));
    EXPECT_EQ(glyphs, (std::vector<MoveGlyph>{MoveGlyph::Good, MoveGlyph::None, MoveGlyph::Mistake,
                                              MoveGlyph::Brilliant, MoveGlyph::Blunder}));
}

TEST(EngineScores, PvMovesFromTheText)
{
    const Position start = test::positionFrom(kStart);
    auto texts = [&start](std::string_view pv, int saveCount) {
        std::string out;
        Position pos = start;
        for (const Move move : pvMoves(start, pv, saveCount)) {
            out += test::sanOf(pos, move) + " ";
            makeMove(pos, move);
        }
        return out;
    };
    EXPECT_EQ(texts(" 1. e4 e5 2. Nf3 Nc6 (1234 nodes)", 6), "e4 e5 Nf3 Nc6 ");
    EXPECT_EQ(texts("e4 e5", 6), "e4 "); // the last word is never taken
    EXPECT_EQ(texts("e4 Ke2 Nf3 x", 6), "e4 ");
    EXPECT_EQ(texts("e4 e5 Nf3 Nc6 Bb5 x", 1) + "|" + texts("", 6), "e4 e5 |");
}

TEST(EngineSettings, TimeCommandAndProgressRange)
{
    EXPECT_EQ(timeCommand(timeControl(AnalysisKind::Position, 0, 0)), "time 1/1/1\n");
    EXPECT_EQ(timeCommand(timeControl(AnalysisKind::Game, 3, 81)), "time 81/8/1\n");
    EXPECT_EQ(timeCommand(timeControl(AnalysisKind::CoPilot, 9, 0)), "time 60/60/60\n");
    EXPECT_EQ(progressRange(AnalysisKind::Position, timeControl(AnalysisKind::Position, 2, 0), 0),
              240);
    EXPECT_EQ(progressRange(AnalysisKind::Game, timeControl(AnalysisKind::Game, 2, 81), 81), 81);
    EXPECT_EQ(readDecimal(" 2.5 pawns"), 2.5);
}

} // namespace
} // namespace vez
