#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QMenuBar>
#include <QPrinter>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <map>

#include "app/profile_store.h"
#include "ui/analysis/analysis_windows.h"
#include "ui/beeper.h"
#include "ui/gameset_commands.h"
#include "ui/vez_view.h"

namespace vez {

namespace {

bool isRecentFile(CommandId id)
{
    return id >= CommandId::FileRecentFile1 && id <= CommandId::FileRecentFile4;
}

} // namespace

MainWindow::MainWindow(ProfileStore& profile, QtUserInteraction& user)
    : m_profile(profile), m_user(user)
{
    m_user.setParent(this);
    m_doc = std::make_unique<CVezDoc>(profile, user);
    m_doc->addObserver(this);
    m_view = new VezView(*m_doc, user, profile, this);
    setCentralWidget(m_view);
    m_dialogs = std::make_unique<QtDialogRunner>(*m_doc, this);
    m_gamesets = std::make_unique<GamesetCommands>(
        *m_doc, *m_dialogs, [this](int number, const std::string& gameset) {
            m_view->logic().selectGameFromGameset(number, gameset);
        });
    m_analysis = std::make_unique<AnalysisWindows>(*m_doc, m_view->logic(), systemBeeper());
    connect(m_analysis.get(), &AnalysisWindows::changed, this, &MainWindow::refreshCommandState);
    buildMenus();
    statusBar()->showMessage("Ready");
    m_importWatch = new QTimer(this);
    m_importWatch->setInterval(250);
    connect(m_importWatch, &QTimer::timeout, this, [this] {
        if (!m_doc->importRunning())
            m_importWatch->stop();
        refreshCommandState();
    });
    connect(QApplication::clipboard(), &QClipboard::dataChanged, this,
            &MainWindow::refreshCommandState);
    connect(m_view, &VezView::stateChanged, this, &MainWindow::refreshCommandState);
    resize(700, 500);
}

MainWindow::~MainWindow()
{
    m_doc->removeObserver(this);
    // Analysis windows hold jobs on the document and the view.
    m_analysis.reset();
    // The view observes the document: it goes before the document does.
    delete m_view;
    m_view = nullptr;
    m_gamesets.reset();
    m_dialogs.reset();
    m_doc.reset();
    m_user.setParent(nullptr);
}

void MainWindow::buildMenus()
{
    std::map<std::string, QMenu*> menus;
    auto menuAt = [&](std::string_view path) {
        std::string sofar;
        QMenu* menu = nullptr;
        std::size_t start = 0;
        while (start <= path.size()) {
            const std::size_t end = std::min(path.find('/', start), path.size());
            const std::string name(path.substr(start, end - start));
            sofar += "/" + name;
            QMenu*& found = menus[sofar];
            if (!found) {
                found = menu ? menu->addMenu(QString::fromStdString(name))
                             : menuBar()->addMenu(QString::fromStdString(name));
            }
            menu = found;
            start = end + 1;
        }
        return menu;
    };
    QToolBar* toolbar = addToolBar("Toolbar");
    toolbar->setObjectName("toolbar");
    for (const CommandInfo& info : commandTable()) {
        QMenu* menu = menuAt(info.menuPath);
        if (info.separatorBefore)
            menu->addSeparator();
        auto* action = new QAction(QString::fromUtf8(info.label.data(), qsizetype(info.label.size())), this);
        if (!info.shortcut.empty())
            action->setShortcut(QKeySequence(QString::fromUtf8(info.shortcut.data(), qsizetype(info.shortcut.size()))));
        action->setStatusTip(QString::fromUtf8(info.prompt.data(), qsizetype(info.prompt.size())));
        if (!info.toolTip.empty())
            action->setToolTip(QString::fromUtf8(info.toolTip.data(), qsizetype(info.toolTip.size())));
        action->setCheckable(info.checkable);
        const CommandId id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
        menu->addAction(action);
        if (info.toolbar)
            toolbar->addAction(action);
        m_actions[std::size_t(id)] = action;
    }
    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        connect(menu, &QMenu::aboutToShow, this, &MainWindow::refreshCommandState);
}

CommandContext MainWindow::commandContext() const
{
    CommandContext context;
    context.clipboardHasText = !QApplication::clipboard()->text().isEmpty();
    context.importRunning = m_doc->importRunning();
    context.serverRunning = m_doc->server() != nullptr;
    context.analysisHoldsGame = m_analysis && m_analysis->holdsGame();
    context.hasCoPilot = m_analysis && m_analysis->hasCoPilot();
    context.moveTreeShown = m_view && m_view->moveTreeShown();
    context.toolbarShown = !findChild<QToolBar*>("toolbar")->isHidden();
    context.statusBarShown = !statusBar()->isHidden();
    context.recentFileCount = int(recentFiles().size());
    return context;
}

void MainWindow::refreshCommandState()
{
    if (!m_view)
        return;
    const CommandState state(*m_doc, &m_view->logic(), commandContext());
    const std::vector<std::string> recent = recentFiles();
    for (const CommandInfo& info : commandTable()) {
        QAction* action = m_actions[std::size_t(info.id)];
        const CommandStatus status = state.status(info.id);
        action->setEnabled(status.enabled);
        if (action->isCheckable())
            action->setChecked(status.checked);
        if (isRecentFile(info.id)) {
            const int index = int(info.id) - int(CommandId::FileRecentFile1);
            const bool shown = index < int(recent.size());
            action->setVisible(shown);
            if (shown)
                action->setText(QString::fromStdString(m_doc->recentFiles().menuText(index)));
        }
    }
}

void MainWindow::onUpdate(DocumentObserver*, UpdateHint)
{
    updateTitle();
    refreshCommandState();
}

void MainWindow::updateTitle()
{
    setWindowTitle(QString::fromStdString(m_doc->GetTitle()) + " - VEZ 1.5");
}

std::vector<std::string> MainWindow::recentFiles() const { return m_doc->recentFiles().files(); }

void MainWindow::startUp(const std::string& path)
{
    if (path.empty())
        m_doc->OnNewDocument();
    else
        openPath(path);
    m_view->createPanes();
    updateTitle();
    refreshCommandState();
}

void MainWindow::openPath(const std::string& path)
{
    m_doc->OnOpenDocument(path);
    updateTitle();
}

void MainWindow::importStarted()
{
    refreshCommandState();
    if (m_doc->importRunning())
        m_importWatch->start();
}

void MainWindow::runCommand(CommandId id)
{
    if (!m_actions[std::size_t(id)]->isEnabled())
        return;
    m_view->logic().commitNote();
    if (id <= CommandId::FileExit)
        fileCommand(id);
    else if (id <= CommandId::ViewMoveTree)
        editViewCommand(id);
    else if (id <= CommandId::GameAnalyze)
        gameCommand(id);
    else if (id <= CommandId::PositionCoPilot)
        positionCommand(id);
    else if (id <= CommandId::GamesetAnalyze)
        gamesetCommand(id);
    else
        helpCommand(id);
    updateTitle();
    refreshCommandState();
}

void MainWindow::applyStoredPlacement()
{
    const QRect screen = this->screen() ? this->screen()->geometry() : QRect(0, 0, 1024, 768);
    const int x = m_profile.getProfileInt("Pos x", 0);
    const int y = m_profile.getProfileInt("Pos y", 0);
    const int width = m_profile.getProfileInt("Size x", 700);
    const int height = m_profile.getProfileInt("Size y", 500);
    const bool sizeFits = screen.width() >= 100 && screen.height() >= 100 &&
                          screen.width() >= x + width && screen.height() >= y + height;
    // The stored size is the outer one, as it was written: take the frame off, or the
    // window would grow by the frame each session.
    const QSize frame = frameGeometry().size() - size();
    if (sizeFits && width > 0 && height > 0)
        resize(QSize(width, height) - frame);
    else
        resize(QSize(700, 500) - frame);
    if (x >= 1 && y >= 1 && x <= screen.width() - 100 && y <= screen.height() - 100)
        move(x, y);
    m_placed = true;
}

void MainWindow::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (!m_placed || isMinimized() || isMaximized())
        return;
    m_profile.writeProfileInt("Pos x", frameGeometry().x());
    m_profile.writeProfileInt("Pos y", frameGeometry().y());
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (!m_placed || windowState() != Qt::WindowNoState)
        return;
    m_profile.writeProfileInt("Size x", frameGeometry().width());
    m_profile.writeProfileInt("Size y", frameGeometry().height());
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (!m_forceClose && !m_doc->SaveModified()) {
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::closeWithoutPrompt()
{
    m_forceClose = true;
    close();
}

} // namespace vez
