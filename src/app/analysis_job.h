// The analysis jobs: one search of a position, the Co-Pilot that follows the view's
// position, the walk through a game, and the walk through every game of a gameset. A job
// drives the engine, stores what it finds through the document and keeps everything its
// window shows (title, texts, board, arrows, progress, the running look) for a thin window
// to read. It runs on the document's thread; the engine's listener threads hand it their
// records there and wait until each has been dealt with.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "app/pane_data.h"
#include "chess/position.h"
#include "engine/child_process.h"
#include "engine/engine_dialogue.h"
#include "engine/engine_settings.h"

class QObject;

namespace vez {

class AnalysisJob;
class AnalysisRelay;
class CVezDoc;
struct Game;

enum class AnalysisJobKind { Position, CoPilot, Game, Gameset };

// Arrows on the job's board, drawn in the colours of the main board's kinds.
struct AnalysisArrow {
    static constexpr ArrowKind GameMove = ArrowKind::Prior;       // the game's move just played
    static constexpr ArrowKind NextGameMove = ArrowKind::Next;    // the game's move that follows
    static constexpr ArrowKind EngineMove = ArrowKind::Variation; // the engine's first PV move
};

// What one finished search of a position gave.
struct SearchResult {
    Position position;                 // the searched position
    int ply = -1;                      // its ply in the game, -1 without a game
    int centipawns = 0;                // from White's side
    double swing = 0;                  // for the side that moved into the position, in pawns
    MoveGlyph glyph = MoveGlyph::None; // earned by the game's move into the position
    std::vector<Move> pv;              // the principal variation's moves from the position
    bool variationAdded = false;
};

// The window of a job. Calls come on the document's thread; none of them may destroy the
// job directly (a window deletes it later, from its own event loop).
class AnalysisJobObserver {
public:
    virtual ~AnalysisJobObserver() = default;
    // Title, texts, board, arrows, progress or the running look changed.
    virtual void analysisChanged(AnalysisJob&) {}
    // A search ended with the engine's move (after its results were stored).
    virtual void analysisSearched(AnalysisJob&, const SearchResult&) {}
    // The job is done with its window: a game analysis after its stop, any job after Close.
    virtual void analysisCloseRequested(AnalysisJob&) {}
};

// The view that opened a job.
class AnalysisViewLink {
public:
    virtual ~AnalysisViewLink() = default;
    // A job without game and gameset was closed (the view forgets its Co-Pilot).
    virtual void analysisClosed(AnalysisJob& job) = 0;
    // A position or Co-Pilot search gave a principal variation while saving them is on.
    virtual void analysisVariation(AnalysisJob& job, int centipawns, const Position& position,
                                   const std::vector<Move>& moves) = 0;
};

// "12." or "12...": the number of the move played at ply from the position before it, for
// games whose first move may be Black's.
std::string moveNumberText(const Position& before, int ply);

class AnalysisJob {
public:
    // A position analysis or the Co-Pilot of a position.
    AnalysisJob(CVezDoc& doc, AnalysisViewLink* view, const Position& position, bool coPilot);
    // A game analysis: the whole game is loaded and the board shows its start.
    AnalysisJob(CVezDoc& doc, AnalysisViewLink* view, int gameNumber);
    // A gameset analysis: the members of the gameset, no game yet.
    AnalysisJob(CVezDoc& doc, AnalysisViewLink* view, const std::string& gamesetName);
    ~AnalysisJob();
    AnalysisJob(const AnalysisJob&) = delete;
    AnalysisJob& operator=(const AnalysisJob&) = delete;

    void setObserver(AnalysisJobObserver* observer) { m_observer = observer; }

    // --- Commands -------------------------------------------------------------------
    void start();
    // Ends the engine; a job holding a game then asks for its window to close.
    void stop();
    // Cancel, Escape or the close box.
    void close();
    // The Co-Pilot follows its view's position: restarts the engine, or tells it.
    void setPosition(const Position& position);
    // The configuration dialog's OK: false (with a beep) while the engine runs; otherwise the
    // settings are taken over and written to the profile.
    bool configure(const EngineSettings& settings);

    // --- The window's controls, read at Start -----------------------------------------
    void setBeep(bool beep) { m_beep = beep; }
    void setAnalyzeWhite(bool white) { m_white = white; }
    void setAnalyzeBlack(bool black) { m_black = black; }
    void setSavePv(bool savePv) { m_savePv = savePv; }
    void setSaveCount(int count) { m_saveCount = count; }
    void setTimeSlider(int position);
    bool beep() const { return m_beep; }
    bool analyzeWhite() const { return m_white; }
    bool analyzeBlack() const { return m_black; }
    bool savePv() const { return m_savePv; }
    int saveCount() const { return m_saveCount; }
    int timeSlider() const { return m_settings.timeSlider; }
    const EngineSettings& settings() const { return m_settings; }

    // --- What the window shows --------------------------------------------------------
    AnalysisJobKind kind() const { return m_kind; }
    const std::string& title() const { return m_title; }
    const std::string& scoreText() const { return m_scoreText; }
    const std::string& pvText() const { return m_pvText; }
    const std::string& commentText() const { return m_commentText; }
    const std::string& statusLine() const { return m_statusLine; }
    Position board() const { return m_dialogue.board(); }
    const std::vector<BoardArrow>& arrows() const { return m_arrows; }
    int progressRange() const { return m_progressRange; }
    int progressPosition() const { return m_progressPosition; }
    // The running look: "Start" pressed, "Stop" released.
    bool running() const { return m_running; }
    bool stopping() const { return m_dialogue.stopping(); }
    // An engine still runs or its listeners are still winding down.
    bool engineActive() const;
    // The engine ended the search of the board's position without a usable move (an error
    // or text on its standard error, shown as the comment); the job waits for Stop.
    bool searchStopped() const { return m_searchStopped; }

    // --- The job's game ---------------------------------------------------------------
    const Game* game() const { return m_game.get(); }
    int gameNumber() const { return m_gameNumber; }
    const std::string& gamesetName() const { return m_gamesetName; }
    // Games of the gameset not yet taken.
    const std::deque<int>& gamesLeft() const { return m_gameNumbers; }
    int ply() const { return m_ply; }
    // Minutes of the last time command.
    int minutes() const { return m_minutes; }

    // Jobs holding a game; while any does, games may not be cut or deleted.
    static int jobsHoldingGames();

private:
    friend class AnalysisRelay;

    // On the document's thread, from the listener threads.
    void onSound(EngineSound sound);
    void onRecord(const EngineRecord& record);
    void onEngineStop();

    void init();
    void write(std::string_view text);
    void sendPosition();
    void setRunningLook(bool running);
    void changed();
    void updateTitle();
    bool sideSkipped(const Position& position) const;
    bool tooShort() const;
    bool takeNextGame();
    bool takeNextAnalysableGame();
    void adoptGame(std::unique_ptr<Game> game, int number);
    void sendSetup();
    void passOverMove();
    void startListeners();
    void disconnect();

    // Handling of one record (analysis_walk.cpp).
    void showRecord(const EngineRecord& record, const std::vector<Move>& pv);
    void storeResults(const ScoreSwing& score, SearchResult& result);
    void walkGame(const EngineRecord& record);
    void finishGame();
    void storeGame();
    void playOnBoard(Move move);
    std::string moveText(const Position& before, Move move) const;

    CVezDoc& m_doc;
    AnalysisViewLink* m_view;
    AnalysisJobObserver* m_observer = nullptr;
    AnalysisJobKind m_kind;
    bool m_coPilot = false;

    // Controls.
    bool m_beep = false;
    bool m_white = true;
    bool m_black = true;
    bool m_savePv = true;
    int m_saveCount = 6;
    EngineSettings m_settings;

    // Shown.
    std::string m_title;
    std::string m_scoreText;
    std::string m_pvText;
    std::string m_commentText;
    std::string m_statusLine;
    std::vector<BoardArrow> m_arrows;
    int m_progressRange = 0;
    int m_progressPosition = 0;
    bool m_running = false;
    bool m_searchStopped = false;

    // The walk.
    std::unique_ptr<Game> m_game;
    int m_gameNumber = -1;
    std::string m_gamesetName;
    std::deque<int> m_gameNumbers;
    int m_ply = 0;
    Move m_currentGameMove = Move::None;
    int m_minutes = 1;

    // The engine.
    ChildProcess m_engine;
    EngineDialogue m_dialogue;
    std::unique_ptr<QObject> m_anchor; // wakes the document's thread for the listeners
    std::shared_ptr<AnalysisRelay> m_relay;
};

} // namespace vez
