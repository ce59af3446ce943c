// The dialogue with the engine: the commands sent to it, the classification of every line
// it prints, and the scores and principal variations read from those lines.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "chess/position.h"
#include "engine/engine_settings.h"

namespace vez {

class ChildProcess;
class EngineReceiver;
struct EngineListener;

// Where commands go: the engine's standard input, or a test's buffer.
using EngineWriter = std::function<void(std::string_view)>;

enum class EngineSound { None, Simple, Exclamation };

// One parsed engine line as the analysis receives it. The texts are the dialogue's score,
// PV and comment texts as they were when the record was made.
struct EngineRecord {
    int moveMade = 0; // the record carries the engine's move, or reports an error
    int stop = 0;     // the search of this position ended without a usable move
    int newScore = 0; // a new score and PV arrived
    Move move = Move::None;
    int progressSeconds = -1; // elapsed seconds to show on the progress bar, -1 for none
    std::string scoreText;
    std::string pvText;
    std::string commentText;
};

// What ParseEngineLine makes of a line: the sound to make, and the record unless the line
// was ignored, swallowed or came while stopping.
struct ParsedLine {
    EngineSound sound = EngineSound::None;
    bool send = false;
    EngineRecord record;
};

// A score read on the owner's thread: the value in pawns from White's side, in centipawns,
// and the swing against the previous value from the point of view of the side that moved
// into the searched position.
struct ScoreSwing {
    double value = 0;
    int centipawns = 0;
    double swing = 0;
};

// The engine-facing state of one analysis: shared by the owner's thread and the two
// listener threads, guarded by one lock. The owner sets the board whose moves the engine's
// lines are read in, sends commands, and starts and detaches the listeners.
class EngineDialogue {
public:
    EngineDialogue();
    ~EngineDialogue();
    EngineDialogue(const EngineDialogue&) = delete;
    EngineDialogue& operator=(const EngineDialogue&) = delete;

    void setBoard(const Position& board);
    Position board() const;
    void setBeep(bool beep);
    // In a game analysis kibitz times do not move the progress bar.
    void setGameAnalysis(bool gameAnalysis);
    bool stopping() const { return m_stopping.load(); }
    void setStopping(bool stopping) { m_stopping.store(stopping); }
    // Sets stopping; true when it was not set before.
    bool beginStopping() { return !m_stopping.exchange(true); }

    // The initialisation block without carriage returns and the time command; resets the
    // per-search state (texts, previous score, pending engine move).
    void SendSetup(const EngineWriter& write, std::string_view commands, const TimeControl& time);
    // "setboard" with the board's FEN (without trailing empty fields) and "go".
    void SendPosition(const EngineWriter& write);
    // Classifies one line of standard output (stream 0) or standard error (stream 1).
    ParsedLine ParseEngineLine(std::string_view line, int stream);

    std::string scoreText() const;
    std::string pvText() const;
    std::string commentText() const;
    Move pendingMove() const;

    // Owner's thread only: the value of a shown score text (see scoreValue), taken as the
    // new previous value.
    ScoreSwing takeScore(std::string_view shownScore, bool whiteToMove);
    double previousScore() const { return m_previousScore; }

    // Creates the two line queues and listener threads and attaches the engine's readers.
    // The receiver gets every sound, record and the Stop request from the listener threads.
    void startListeners(ChildProcess& engine, std::shared_ptr<EngineReceiver> receiver);
    // Cuts the listeners off: they deliver nothing more and end on their own.
    void detachListeners();
    // Whether a listener is still linked (an engine is still winding down).
    bool hasListeners() const;

private:
    friend void runEngineListener(EngineListener* listener);
    void resetTexts();
    // Parts of ParseEngineLine, called under the lock. The move readers return whether the
    // record is to be sent: a legal move is kept pending and its line swallowed.
    void readKibitz(std::string_view text, EngineRecord& record);
    bool readMoveNumberLine(std::string_view line, EngineRecord& record);
    bool takeEngineMove(std::string_view text, EngineRecord& record);
    void deliverPendingMove(EngineRecord& record);

    mutable std::mutex m_lock;
    Position m_board;
    bool m_beep = false;
    bool m_gameAnalysis = false;
    std::atomic<bool> m_stopping{false};
    std::string m_scoreText;
    std::string m_pvText;
    std::string m_commentText;
    Move m_pendingMove = Move::None;
    double m_previousScore = 0; // owner's thread only
    EngineListener* m_listeners[2] = {nullptr, nullptr};
};

// The FEN of SendPosition: four fields, with a trailing " -" cut as often as it occurs.
std::string setboardFen(const Position& board);
// The score text as shown: a ">(...)" wrapper removed, and the sign turned when Black is to
// move, so that it reads from White's side.
std::string shownScore(std::string_view scoreText, bool blackToMove);
// Pawns of a shown score: "M"/"+M" 9999, "-M" -9999, else the decimal number; an empty
// text is 0; a number followed by anything else gives the previous value.
double scoreValue(std::string_view shownScore, double previous);
// The moves of a PV text played from board, as many as saveCount plus one at most: words
// beginning with a letter are moves, others are skipped, the last word is never taken, and
// the walk ends at the first word that is not a legal move.
std::vector<Move> pvMoves(const Position& board, std::string_view pvText, int saveCount);
// The glyph a swing earns: "??"/"?" at or below -margin2/-margin1, "!!"/"!" at or above
// margin2/margin1, none inside.
MoveGlyph glyphForSwing(double swing, double margin1, double margin2);

} // namespace vez
