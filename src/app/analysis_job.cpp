// The analysis job's life: opening, Start, Stop, Close, the Co-Pilot's new positions, the
// games of a gameset, and the hand-over of the listener threads' calls to the document's
// thread.
#include "app/analysis_job.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>

#include <charconv>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "app/document.h"
#include "app/engine_profile.h"
#include "app/user_interaction.h"
#include "app/wake_event.h"
#include "engine/engine_listener.h"
#include "interchange/game.h"

namespace vez {

namespace {

constexpr const char* kAnalysisMinsTag = "AnalysisMins";

int s_jobsHoldingGames = 0; // document's thread only

// Lives on the job's thread; a posted wake-up makes it serve the waiting listeners. Only
// wake-ups are ever posted to it (as user events, which Qt hands to customEvent).
class RelayAnchor final : public QObject {
public:
    explicit RelayAnchor(std::function<void()> serve) : m_serve(std::move(serve)) {}

protected:
    void customEvent(QEvent* event) override
    {
        if (receiveWakeEvent(event))
            m_serve();
    }

private:
    std::function<void()> m_serve;
};

int decimalValue(const std::string& text)
{
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

} // namespace

// The receiver of one engine run. A listener's call is queued under the mutex, the job's
// thread is woken through the anchor and runs it, and the listener waits on the condition
// until it is done. Disconnecting (at Stop or when the job goes) drops the queued calls and
// releases their listeners at once, so that no listener waits on a job that will never
// serve it, and no line of an old run reaches a later one.
class AnalysisRelay final : public EngineReceiver {
public:
    AnalysisRelay(AnalysisJob& job, QObject& anchor)
        : m_job(&job), m_anchor(&anchor), m_thread(QThread::currentThread())
    {
    }

    void engineSound(EngineSound sound) override
    {
        deliver([sound](AnalysisJob& job) { job.onSound(sound); });
    }
    void engineRecord(const EngineRecord& record) override
    {
        deliver([&record](AnalysisJob& job) { job.onRecord(record); });
    }
    void engineStop() override
    {
        deliver([](AnalysisJob& job) { job.onEngineStop(); });
    }

    // On the job's thread.
    void serve()
    {
        for (;;) {
            Call* call = nullptr;
            AnalysisJob* job = nullptr;
            {
                std::lock_guard lock(m_lock);
                if (m_calls.empty() || !m_job)
                    return;
                call = m_calls.front();
                m_calls.pop_front();
                job = m_job;
            }
            call->function(*job);
            {
                std::lock_guard lock(m_lock);
                call->done = true;
            }
            m_done.notify_all();
        }
    }

    // On the job's thread.
    void disconnect()
    {
        {
            std::lock_guard lock(m_lock);
            m_job = nullptr;
            for (Call* call : m_calls)
                call->done = true;
            m_calls.clear();
        }
        m_done.notify_all();
    }

private:
    struct Call {
        std::function<void(AnalysisJob&)> function;
        bool done = false;
    };

    void deliver(std::function<void(AnalysisJob&)> function)
    {
        Call call{std::move(function), false};
        std::unique_lock lock(m_lock);
        if (!m_job)
            return;
        if (QThread::currentThread() == m_thread) {
            AnalysisJob* job = m_job;
            lock.unlock();
            call.function(*job);
            return;
        }
        m_calls.push_back(&call);
        // Posted under the lock: the anchor lives until the job has disconnected.
        postWakeEvent(m_anchor);
        m_done.wait(lock, [&] { return call.done; });
    }

    std::mutex m_lock;
    std::condition_variable m_done;
    AnalysisJob* m_job;
    QObject* m_anchor;
    QThread* m_thread; // the job's
    std::deque<Call*> m_calls;
};

// --- Opening ------------------------------------------------------------------------------

AnalysisJob::AnalysisJob(CVezDoc& doc, AnalysisViewLink* view, const Position& position,
                         bool coPilot)
    : m_doc(doc), m_view(view),
      m_kind(coPilot ? AnalysisJobKind::CoPilot : AnalysisJobKind::Position), m_coPilot(coPilot),
      m_engine(doc.user())
{
    m_dialogue.setBoard(position);
    init();
}

AnalysisJob::AnalysisJob(CVezDoc& doc, AnalysisViewLink* view, int gameNumber)
    : m_doc(doc), m_view(view), m_kind(AnalysisJobKind::Game), m_engine(doc.user())
{
    auto game = std::make_unique<Game>();
    if (m_doc.readGame(gameNumber, *game, true))
        adoptGame(std::move(game), gameNumber);
    init();
}

AnalysisJob::AnalysisJob(CVezDoc& doc, AnalysisViewLink* view, const std::string& gamesetName)
    : m_doc(doc), m_view(view), m_kind(AnalysisJobKind::Gameset), m_gamesetName(gamesetName),
      m_engine(doc.user())
{
    for (int number : m_doc.gamesetMembers(gamesetName))
        m_gameNumbers.push_back(number);
    init();
}

void AnalysisJob::init()
{
    m_anchor = std::make_unique<RelayAnchor>([this] {
        if (const std::shared_ptr<AnalysisRelay> relay = m_relay)
            relay->serve();
    });
    EngineProfile profile(m_doc.profile());
    m_settings = loadEngineSettings(profile);
    m_savePv = m_settings.savePv != 0;
    m_saveCount = m_settings.saveCount;
    m_dialogue.setStopping(false);
    updateTitle();
    setRunningLook(false);
}

AnalysisJob::~AnalysisJob()
{
    if (m_engine.IsRunning())
        m_engine.Kill();
    disconnect();
    m_gameNumbers.clear();
    if (m_game)
        --s_jobsHoldingGames;
}

int AnalysisJob::jobsHoldingGames() { return s_jobsHoldingGames; }

void AnalysisJob::setTimeSlider(int position)
{
    m_settings.timeSlider = position < 0 ? 0 : position > 9 ? 9 : position;
}

bool AnalysisJob::engineActive() const { return m_dialogue.hasListeners(); }

void AnalysisJob::updateTitle()
{
    std::string label;
    if (m_game && !m_game->white.empty() && !m_game->black.empty())
        label = "[" + m_game->white + " - " + m_game->black + "]";
    if (!m_gamesetName.empty()) {
        m_title = !label.empty() ? label + " from '" + m_gamesetName + "'"
                                 : "Analysis of '" + m_gamesetName + "' by Crafty";
    } else if (m_game) {
        m_title =
            !label.empty() ? "Analysis of " + label + " by Crafty" : "Game analysis by Crafty";
    } else {
        m_title = m_coPilot && m_view ? "Crafty Co-Pilot" : "Position analysis by Crafty";
    }
}

void AnalysisJob::changed()
{
    if (m_observer)
        m_observer->analysisChanged(*this);
}

void AnalysisJob::setRunningLook(bool running)
{
    m_running = running;
    if (!running)
        m_progressRange = m_progressPosition = 0;
    changed();
}

void AnalysisJob::write(std::string_view text) { m_engine.Write(text); }

void AnalysisJob::sendPosition()
{
    m_searchStopped = false;
    m_dialogue.SendPosition([this](std::string_view text) { write(text); });
}

// --- Games --------------------------------------------------------------------------------

bool AnalysisJob::sideSkipped(const Position& position) const
{
    return position.sideToMove == kWhite ? !m_white : !m_black;
}

bool AnalysisJob::tooShort() const
{
    return m_game->endPly <= m_ply + (sideSkipped(m_dialogue.board()) ? 1 : 0);
}

void AnalysisJob::adoptGame(std::unique_ptr<Game> game, int number)
{
    if (!m_game)
        ++s_jobsHoldingGames;
    m_game = std::move(game);
    m_gameNumber = number;
    m_dialogue.setBoard(m_game->startPosition);
    m_ply = 0;
    m_currentGameMove = Move::None;
    m_arrows.clear();
    m_statusLine.clear();
    updateTitle();
    changed();
}

bool AnalysisJob::takeNextGame()
{
    while (!m_gameNumbers.empty()) {
        const int number = m_gameNumbers.front();
        m_gameNumbers.pop_front();
        auto game = std::make_unique<Game>();
        if (!m_doc.readGame(number, *game, false))
            continue; // deleted meanwhile
        if (game->hasTag(kAnalysisMinsTag) &&
            decimalValue(game->getTag(kAnalysisMinsTag)) >= m_minutes)
            continue;
        m_doc.readGame(number, *game, true);
        adoptGame(std::move(game), number);
        return true;
    }
    return false;
}

// A game with no position left to search for the chosen sides is passed by.
bool AnalysisJob::takeNextAnalysableGame()
{
    while (takeNextGame()) {
        if (!tooShort())
            return true;
    }
    return false;
}

void AnalysisJob::sendSetup()
{
    const AnalysisKind kind = m_game      ? AnalysisKind::Game
                              : m_coPilot ? AnalysisKind::CoPilot
                                          : AnalysisKind::Position;
    const int entries = m_game ? int(m_game->entries.size()) : 0;
    const TimeControl time = timeControl(kind, m_settings.timeSlider, entries);
    m_minutes = time.minutes;
    m_dialogue.setGameAnalysis(m_game != nullptr);
    m_dialogue.SendSetup([this](std::string_view text) { write(text); }, m_settings.commands, time);
    m_scoreText.clear();
    m_pvText.clear();
    m_commentText.clear();
    m_progressRange = vez::progressRange(kind, time, entries);
    m_progressPosition = m_game ? m_ply : 0;
}

// The first move of a game belongs to a side that is not analysed: it is played before
// the first search.
void AnalysisJob::passOverMove()
{
    m_currentGameMove = m_game->entryAt(m_ply)->move;
    playOnBoard(m_currentGameMove);
    ++m_ply;
}

// --- Start and stop -----------------------------------------------------------------------

void AnalysisJob::start()
{
    if (m_dialogue.hasListeners()) {
        m_doc.user().beep();
        setRunningLook(true);
        return;
    }
    m_dialogue.setBeep(m_beep);
    if (m_kind == AnalysisJobKind::Gameset) {
        // Games already analysed for at least the time about to be given are passed by.
        m_minutes = timeControl(AnalysisKind::Game, m_settings.timeSlider, 0).minutes;
        if (!takeNextAnalysableGame()) {
            m_doc.user().beep();
            setRunningLook(false);
            updateTitle();
            return;
        }
    }
    const bool skipped = sideSkipped(m_dialogue.board());
    if (m_game ? tooShort() : skipped) {
        setRunningLook(false);
        return;
    }
    if (!m_engine.Start(m_settings.path, m_settings.commandLine, true)) {
        setRunningLook(false);
        return;
    }
    EngineProfile profile(m_doc.profile());
    saveEngineStart(profile, m_settings);
    sendSetup();
    if (m_game && skipped)
        passOverMove();
    sendPosition();
    m_dialogue.setStopping(false);
    startListeners();
    setRunningLook(true);
}

void AnalysisJob::startListeners()
{
    m_relay = std::make_shared<AnalysisRelay>(*this, *m_anchor);
    m_dialogue.startListeners(m_engine, m_relay);
}

void AnalysisJob::disconnect()
{
    m_dialogue.detachListeners();
    if (m_relay) {
        m_relay->disconnect();
        m_relay.reset();
    }
}

void AnalysisJob::stop()
{
    if (m_dialogue.beginStopping()) {
        write("quit\n");
        if (m_engine.IsRunning())
            m_engine.Kill();
    }
    disconnect();
    m_engine.Close();
    setRunningLook(false);
    if (m_game && m_observer)
        m_observer->analysisCloseRequested(*this);
}

void AnalysisJob::close()
{
    stop();
    if (m_game)
        return; // the stop has already asked for the window to close
    if (m_gamesetName.empty() && m_view)
        m_view->analysisClosed(*this);
    if (m_observer)
        m_observer->analysisCloseRequested(*this);
}

void AnalysisJob::onEngineStop() { stop(); }

void AnalysisJob::onSound(EngineSound sound)
{
    if (sound != EngineSound::None)
        m_doc.user().beep();
}

void AnalysisJob::setPosition(const Position& position)
{
    const bool restart = m_settings.restartOnNewPosition();
    if (restart)
        stop();
    m_dialogue.setBoard(position);
    m_arrows.clear();
    changed();
    if (restart) {
        start();
        return;
    }
    write("?\n");
    sendSetup();
    sendPosition();
    changed();
}

bool AnalysisJob::configure(const EngineSettings& settings)
{
    if (m_engine.IsRunning()) {
        m_doc.user().beep();
        return false;
    }
    m_settings.path = settings.path;
    m_settings.commandLine = settings.commandLine;
    m_settings.commands = settings.commands;
    m_settings.margin1 = settings.margin1;
    m_settings.margin2 = settings.margin2;
    EngineProfile profile(m_doc.profile());
    saveEngineConfiguration(profile, m_settings);
    return true;
}

} // namespace vez
