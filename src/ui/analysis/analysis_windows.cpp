#include "ui/analysis/analysis_windows.h"

#include <algorithm>

#include "app/analysis_job.h"
#include "app/view_logic.h"
#include "ui/analysis/analysis_dialog.h"

namespace vez {

AnalysisWindows::AnalysisWindows(CVezDoc& doc, ViewLogic& view, Beeper& beeper)
    : m_doc(doc), m_view(view), m_beeper(beeper)
{
    // The document outlives these windows and has no way to drop a listener.
    doc.addReplaceListener([self = QPointer<AnalysisWindows>(this)] {
        if (self)
            self->closeGameWindows();
    });
}

AnalysisWindows::~AnalysisWindows()
{
    const std::vector<AnalysisDialog*> windows = std::move(m_windows);
    m_windows.clear();
    for (AnalysisDialog* window : windows) {
        if (m_view.coPilot() == &window->job())
            m_view.setCoPilot(nullptr);
        delete window;
    }
    for (const QPointer<AnalysisDialog>& window : m_leaving)
        delete window.data();
}

AnalysisDialog* AnalysisWindows::open(std::unique_ptr<AnalysisJob> job)
{
    auto* window = new AnalysisDialog(std::move(job), m_doc, m_beeper);
    m_windows.push_back(window);
    connect(window, &AnalysisDialog::jobChanged, this, &AnalysisWindows::jobChanged);
    connect(window, &AnalysisDialog::closingDown, this, [this, window] { forget(window); });
    window->show();
    jobChanged();
    Q_EMIT changed();
    return window;
}

AnalysisDialog* AnalysisWindows::analyzePosition()
{
    return open(std::make_unique<AnalysisJob>(m_doc, &m_view, m_view.shownPosition(), false));
}

AnalysisDialog* AnalysisWindows::openCoPilot()
{
    if (hasCoPilot())
        return nullptr;
    auto job = std::make_unique<AnalysisJob>(m_doc, &m_view, m_view.shownPosition(), true);
    m_view.setCoPilot(job.get());
    return open(std::move(job));
}

AnalysisDialog* AnalysisWindows::analyzeGame(int gameNumber)
{
    return open(std::make_unique<AnalysisJob>(m_doc, &m_view, gameNumber));
}

AnalysisDialog* AnalysisWindows::analyzeGameset(const std::string& gamesetName)
{
    return open(std::make_unique<AnalysisJob>(m_doc, &m_view, gamesetName));
}

bool AnalysisWindows::holdsGame() const
{
    return std::any_of(m_windows.begin(), m_windows.end(),
                       [](const AnalysisDialog* w) { return w->job().game() != nullptr; });
}

bool AnalysisWindows::hasCoPilot() const { return m_view.coPilot() != nullptr; }

void AnalysisWindows::closeGameWindows()
{
    const std::vector<AnalysisDialog*> windows = m_windows;
    for (AnalysisDialog* window : windows) {
        const AnalysisJob& job = window->job();
        if (!job.game() && job.gamesetName().empty())
            continue;
        forget(window);
        delete window;
    }
}

void AnalysisWindows::forget(AnalysisDialog* window)
{
    const auto found = std::find(m_windows.begin(), m_windows.end(), window);
    if (found == m_windows.end())
        return;
    m_windows.erase(found);
    std::erase_if(m_leaving, [](const QPointer<AnalysisDialog>& w) { return w.isNull(); });
    m_leaving.emplace_back(window);
    if (m_view.coPilot() == &window->job())
        m_view.setCoPilot(nullptr);
    jobChanged();
    Q_EMIT changed();
}

void AnalysisWindows::jobChanged()
{
    const bool held = holdsGame();
    if (held == m_heldGame)
        return;
    m_heldGame = held;
    Q_EMIT changed();
}

} // namespace vez
