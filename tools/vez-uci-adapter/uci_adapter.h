// The adapter's two conversations: the engine dialogue of the analysis on one side, a UCI
// engine on the other.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "chess/position.h"

namespace vez {

// Takes the analysis's commands ("time", "setboard", "go", "force", moves, "new", "?",
// "quit" and the initialisation block) and the UCI engine's lines, and answers with the
// lines the analysis reads: prompts, kibitz lines with depth, time, score and PV, the
// engine's moves and "ERROR" lines. Runs on one thread; the caller feeds it complete lines.
class UciAdapter {
public:
    using Output = std::function<void(std::string_view)>;

    // timeScale multiplies every search's time.
    UciAdapter(Output toDialogue, Output toEngine, double timeScale);

    // Shows the first prompt.
    void begin();
    // One command line from the analysis; false after "quit".
    bool command(std::string_view line);
    // One complete line of the UCI engine's output.
    void engineLine(std::string_view line);
    bool searching() const { return m_searching; }

private:
    void handle(std::string_view line);
    void setBoard(std::string_view fen);
    void setTime(std::string_view values);
    void force(std::string_view moveText);
    void userMove(std::string_view text);
    void newGame();
    void playMove(Move move);
    void startSearch();
    void stopSearch(bool keepResult);
    void searchInfo(std::string_view line);
    void bestMove(std::string_view line);
    void say(std::string_view line);
    void prompt();
    void error(std::string_view text);

    Output m_toDialogue;
    Output m_toEngine;
    double m_timeScale;
    Position m_board;
    int m_moveNumber = 1;
    std::string m_baseFen;             // where the engine's move list starts
    std::vector<std::string> m_played; // UCI moves since then
    int m_engineSide = kBlack;         // the side the engine plays, -1 for none
    bool m_engineMoved = false;        // the last move played was the engine's
    Position m_beforeEngineMove;
    int m_numberBeforeEngineMove = 1;
    long long m_moveTimeMs = 60000;
    bool m_kibitz = true;
    bool m_searching = false;
    bool m_stopSent = false;
    bool m_discardResult = false;
    std::deque<std::string> m_deferred; // commands that came during a search
    bool m_promptOpen = false;
};

// The position as UCI engines read it: standard FEN with an en-passant square, castling
// rights only where king and rook stand at home, and the move number.
std::string uciFen(const Position& pos, int moveNumber);
// A UCI move ("e2e4", "e7e8q") as a legal move of the position, or Move::None.
Move readUciMove(const Position& pos, std::string_view text);
std::string uciMoveText(const Position& pos, Move move);

} // namespace vez
