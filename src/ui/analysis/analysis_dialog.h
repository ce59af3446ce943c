// The window of one analysis job: the time slider, Start and Stop, the engine's
// configuration, the score, principal variation and comment, the progress bar, the sides to
// analyse, and on request a small board with the game's and the engine's moves. It has no
// parent, so several can be open beside the main window. The job does the work; the window
// shows what the job holds and hands it the controls' values.
#pragma once

#include <QDialog>
#include <memory>

#include "app/analysis_job.h"

class QCheckBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;

namespace vez {

class Beeper;
class CVezDoc;
class Chessboard;

class AnalysisDialog final : public QDialog, public AnalysisJobObserver {
    Q_OBJECT
public:
    AnalysisDialog(std::unique_ptr<AnalysisJob> job, const CVezDoc& doc, Beeper& beeper);
    ~AnalysisDialog() override;

    AnalysisJob& job() { return *m_job; }
    const AnalysisJob& job() const { return *m_job; }
    Chessboard& board() { return *m_board; }
    bool boardShown() const { return m_boardShown; }
    // Whether the window is on its way out (it is deleted from the event loop).
    bool closing() const { return m_closing; }

    // "Configure Crafty...": refused with the exclamation beep while the engine runs.
    void configure();
    // "Show Position": the window grows by the board's height and a margin, or shrinks back.
    void toggleBoard();

Q_SIGNALS:
    // The job's state changed (whether it holds a game may have changed with it).
    void jobChanged();
    // The window is going; it is deleted once control is back in the event loop.
    void closingDown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

public Q_SLOTS:
    // Escape and the close box ask the job to close; the job decides when the window goes.
    void reject() override;

private:
    // AnalysisJobObserver, called on this thread, possibly from inside the job.
    void analysisChanged(AnalysisJob& job) override;
    void analysisCloseRequested(AnalysisJob& job) override;

    QWidget* buildControls();
    QWidget* buildTimeSlider(QWidget* parent);
    void placeBoard();
    void showJob();
    void start();

    std::unique_ptr<AnalysisJob> m_job;
    Beeper& m_beeper;
    QWidget* m_controls = nullptr;
    QSlider* m_slider = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QProgressBar* m_progress = nullptr;
    QCheckBox* m_beep = nullptr;
    QCheckBox* m_savePv = nullptr;
    QSpinBox* m_saveCount = nullptr;
    QCheckBox* m_white = nullptr;
    QCheckBox* m_black = nullptr;
    QLineEdit* m_pv = nullptr;
    QLineEdit* m_comment = nullptr;
    QLineEdit* m_score = nullptr;
    Chessboard* m_board = nullptr;
    QLineEdit* m_status = nullptr;
    bool m_boardShown = false;
    bool m_closing = false;
};

} // namespace vez
