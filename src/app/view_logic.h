// The view's logic without widgets: the current game, the line and ply reached in it, the
// stored game's number, the modified flag and set-up mode; every navigation, entry, editing
// and clipboard command on them; and what each pane shows, built on demand. The desktop
// view is a thin adapter: it paints the pane data (app/pane_data.h) and forwards the
// panes' intents to the operations here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/analysis_job.h"
#include "app/document.h"
#include "app/pane_data.h"
#include "interchange/game.h"

namespace vez {

class UserInteraction;

// What the view's logic asks of the desktop view.
class ViewClient {
public:
    virtual ~ViewClient() = default;
    // The state changed: rebuild every pane from the view's data. With keepScroll the
    // scoresheet keeps its scroll position.
    virtual void refreshPanes(bool keepScroll) = 0;
    // Only the status lines changed (the modified flag).
    virtual void statusChanged() {}
    // Hint 4: apply the note font of the settings to the notes pane.
    virtual void applyNoteFont() {}
    // The "Game Information" dialog on the game's header; false when cancelled.
    virtual bool editTags(Game& game) = 0;
    // The shown position changed while a Co-Pilot runs.
    virtual void coPilotPosition(const Position&) {}
};

// Set Score's text parsed: a score in centipawns, or none for "No Score".
struct ScoreInput {
    bool valid = false;
    std::int32_t score = kNoScore;
};
// "0.29" -> 29, "-1.255" -> -126 (to the nearest hundredth of a pawn); anything that is not
// a whole decimal number is not valid.
ScoreInput parseScoreText(const std::string& text);
// The Set Score dialog's text of a score: "%.2f" in pawns, empty for none.
std::string scoreDialogText(std::int32_t score);

class ViewLogic : public DocumentObserver, public AnalysisViewLink {
public:
    ViewLogic(CVezDoc& doc, UserInteraction& user, ViewClient& client);
    ~ViewLogic() override;
    ViewLogic(const ViewLogic&) = delete;
    ViewLogic& operator=(const ViewLogic&) = delete;

    // Update hints are ignored until the panes exist; this also loads the document's game.
    void setPanesCreated();
    bool panesCreated() const { return m_panesCreated; }

    // --- State ------------------------------------------------------------------------
    const Game& game() const { return m_game; }
    const GameLine& currentLine() const { return *m_currentLine; }
    bool inMainLine() const { return m_currentLine == &m_game; }
    int currentPly() const { return m_currentPly; }
    int endPly() const { return m_currentLine->endPly; }
    int storedGameNumber() const { return m_storedGameNumber; }
    bool gameModified() const { return m_gameModified; }
    bool setupMode() const { return m_setupMode; }
    // startPosition with the first currentPly moves of the current line played.
    Position shownPosition() const;
    // The entry whose move led to the shown position; null at ply 0.
    const MoveEntry* entryJustPlayed() const;
    CVezDoc& document() const { return m_doc; }

    // --- Document notifications ---------------------------------------------------------
    void onUpdate(DocumentObserver* sender, UpdateHint hint) override;
    void resetGame();
    void reloadGame();
    void markModified();

    // --- What the panes show -------------------------------------------------------------
    StatusLines statusLines() const;
    std::vector<KnownMoveRow> knownMoveRows() const;
    BoardState boardState() const;
    ScoresheetData scoresheet() const;
    MoveTreeData moveTree() const;
    // The comment of the entry just played, or the game's initial comment at ply 0, with
    // "\r\n" as the notes pane's "\n"; a text that is not UTF-8 is read as Latin-1.
    std::string notesText() const;

    // --- Navigation (none in set-up mode) -------------------------------------------------
    bool canGoBack() const;
    bool canGoForward() const;
    void rewind();
    void backUp();
    void advance();
    void fastForward();
    void nextNoteworthy();
    void priorNoteworthy();
    // The scoresheet's ply (117): along the current line, 0 .. endPly.
    void goToPly(int ply);
    // The move tree's selected path (151) from the game's start position.
    void goToTreePath(const std::vector<Move>& path);
    // Whether the database knows two moves into or out of the position or it has a note.
    bool noteworthy() const;

    // --- Move entry ------------------------------------------------------------------------
    // A move from the board, the scoresheet, the known-moves list or the tree. False when
    // the move is refused (set-up mode, or not a legal move here).
    bool enterMove(Move move, MoveGlyph glyph = MoveGlyph::None, bool noRefresh = false);
    // A known-moves row's text, "(e4 ..." for a variation row.
    bool enterMoveText(const std::string& text);

    // --- Game commands ---------------------------------------------------------------------
    bool canSave() const;
    // Game/Save...: false when nothing was stored (the tags dialog cancelled, or storing
    // failed, in which case the game stays as it was and modified).
    bool save();
    bool canStartNewGame() const { return !m_setupMode; }
    void startNewGame();
    // Game/Tags: the client's dialog edited game(); marks it modified.
    void editTags();
    // Select game from position: enabled for 1..499 games through the shown position.
    bool canSelectGameFromPosition() const;
    // The games to list, or none after the refusal message (more than 500 games).
    std::optional<std::vector<int>> gamesForPositionSelection();
    // OK in the game list with a game chosen.
    void selectGameFromPosition(int gameNumber);
    // Select game from gameset: OK with a game chosen from the gameset.
    void selectGameFromGameset(int gameNumber, const std::string& gamesetName);

    // --- Line editing ----------------------------------------------------------------------
    bool canClipLine() const;
    bool canDeleteVariation() const;
    void clipLine();
    void deleteVariation();
    void revertToPreviousVariation();

    // --- Set-up mode -----------------------------------------------------------------------
    void enterSetupMode();
    // The board's composed position becomes the start position.
    void leaveSetupMode(const Position& composed);

    // --- Notes and glyphs ------------------------------------------------------------------
    // The notes pane's text as typed; kept until committed.
    void noteEdited(const std::string& text);
    // Stores a pending note: on leaving the notes pane, and before every navigation, command
    // and refresh. True when there was one.
    bool commitNote();
    bool notePending() const { return m_pendingNote.has_value(); }
    // A glyph chosen on the scoresheet (124) for the move at ply of the current line.
    void setGlyph(int ply, MoveGlyph glyph);

    // --- Scores and flashcards -------------------------------------------------------------
    // The score Set Score starts from: the entry just played, else the position's.
    std::int32_t currentScore() const;
    // Set Score's OK (a number) or "No Score" (kNoScore).
    void setScore(std::int32_t score);
    bool isFlashcard() const;
    void toggleFlashcard();
    bool canPickFlashcard() const;
    void pickFlashcard();

    // --- Clipboard and files ---------------------------------------------------------------
    std::string copyPgn() const;
    // Copy, then the current stored game is deleted.
    std::string cutPgn();
    bool exportPgn(const std::string& path);
    // Game/Paste PGN: every game of the text is stored, the last one shown.
    int pastePgn(const std::string& clipboardText);
    std::string copyEpd() const;
    void pasteEpd(const std::string& clipboardText);

    // --- Analysis windows (141, 142) ---------------------------------------------------------
    void setCoPilot(AnalysisJob* job) { m_coPilot = job; }
    AnalysisJob* coPilot() const { return m_coPilot; }
    void analysisClosed(AnalysisJob& job) override;
    void analysisVariation(AnalysisJob& job, int centipawns, const Position& position,
                           const std::vector<Move>& moves) override;

private:
    void refresh(bool keepScroll);
    // The comment the notes pane shows when nothing is being typed.
    std::string shownComment() const;
    GameLine& line() { return *m_currentLine; }
    MoveEntry* mutableEntryJustPlayed();
    void backUpOnce();
    void selectChosenGame(int gameNumber, const std::string& gamesetName);
    void startFromPosition(const Position& position);

    CVezDoc& m_doc;
    UserInteraction& m_user;
    ViewClient& m_client;

    Game m_game;
    GameLine* m_currentLine = nullptr;
    bool m_gameModified = false;
    int m_storedGameNumber = -1;
    int m_currentPly = 0;
    bool m_setupMode = false;
    bool m_panesCreated = false;

    std::optional<std::string> m_pendingNote;
    AnalysisJob* m_coPilot = nullptr;
};

} // namespace vez
