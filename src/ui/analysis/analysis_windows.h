// The analysis windows a main window has opened: the four openers, the one Co-Pilot of the
// view, and closing the windows that hold games before the database is replaced.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

namespace vez {

class AnalysisDialog;
class AnalysisJob;
class Beeper;
class CVezDoc;
class ViewLogic;

class AnalysisWindows final : public QObject {
    Q_OBJECT
public:
    AnalysisWindows(CVezDoc& doc, ViewLogic& view, Beeper& beeper);
    // Every window still open goes with its engine.
    ~AnalysisWindows() override;

    // Position/Analyze with Crafty: the view's position.
    AnalysisDialog* analyzePosition();
    // Position/Crafty Co-Pilot: null while the view has one.
    AnalysisDialog* openCoPilot();
    // Game/Analyze with Crafty: a stored game.
    AnalysisDialog* analyzeGame(int gameNumber);
    // Gameset/Analyze with Crafty.
    AnalysisDialog* analyzeGameset(const std::string& gamesetName);

    const std::vector<AnalysisDialog*>& windows() const { return m_windows; }
    bool holdsGame() const;
    bool hasCoPilot() const;
    // Stops the engines of the windows that hold a game or a gameset and closes them at
    // once: their games belong to the database about to be replaced.
    void closeGameWindows();

Q_SIGNALS:
    // A window opened or went, or whether one holds a game changed.
    void changed();

private:
    AnalysisDialog* open(std::unique_ptr<AnalysisJob> job);
    void forget(AnalysisDialog* window);
    void jobChanged();

    CVezDoc& m_doc;
    ViewLogic& m_view;
    Beeper& m_beeper;
    std::vector<AnalysisDialog*> m_windows;
    // Windows on their way out, deleted by the event loop unless this goes first.
    std::vector<QPointer<AnalysisDialog>> m_leaving;
    bool m_heldGame = false;
};

} // namespace vez
