// The main window: menus, toolbar and status bar made from the command table, each entry's
// enabled and checked state from CommandState, the recent-file list, and the window's place
// and size kept in the settings. The commands' work lives in the document, the view's logic
// and the gameset commands; here they are only asked for.
#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <string>

#include "app/command_state.h"
#include "app/document.h"
#include "ui/qt_user_interaction.h"

class QAction;
class QPrinter;
class QLabel;
class QTimer;

namespace vez {

class AnalysisWindows;
class GamesetCommands;
class ProfileStore;
class QtDialogRunner;
class VezView;

class MainWindow : public QMainWindow, public DocumentObserver {
    Q_OBJECT
public:
    // user answers the document's questions; the program passes a QtUserInteraction, tests
    // a scripted one.
    MainWindow(ProfileStore& profile, QtUserInteraction& user);
    ~MainWindow() override;

    // `vez [PATH]`: no path runs File/New, a path opens (a game file is browsed).
    void startUp(const std::string& path);

    CVezDoc& document() { return *m_doc; }
    VezView& view() { return *m_view; }
    AnalysisWindows& analysisWindows() { return *m_analysis; }
    QAction* action(CommandId id) const { return m_actions[std::size_t(id)]; }
    // Runs a command as its menu entry does, then refreshes every entry's state.
    void runCommand(CommandId id);
    void refreshCommandState();
    std::vector<std::string> recentFiles() const;

    void onUpdate(DocumentObserver* sender, UpdateHint hint) override;
    // The stored place and size applied as the placement rules say; the stored size is the
    // window's outer size.
    void applyStoredPlacement();
    // SIGTERM and SIGINT: closes as File/Exit does, without the save prompt.
    void closeWithoutPrompt();
    // Prints the view (status text, board, the game's PGN) on the printer as it is set up.
    void printTo(QPrinter& printer) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    CommandContext commandContext() const;
    void updateTitle();
    void openPath(const std::string& path);
    void importStarted();

    void fileCommand(CommandId id);
    void fileOpenCommand(CommandId id);
    void editViewCommand(CommandId id);
    void gameCommand(CommandId id);
    void positionCommand(CommandId id);
    void gamesetCommand(CommandId id);
    void helpCommand(CommandId id);
    void printCommand(CommandId id);
    void validate();
    void serverCommand();

    ProfileStore& m_profile;
    QtUserInteraction& m_user;
    std::unique_ptr<CVezDoc> m_doc;
    VezView* m_view = nullptr;
    std::unique_ptr<QtDialogRunner> m_dialogs;
    std::unique_ptr<GamesetCommands> m_gamesets;
    std::unique_ptr<AnalysisWindows> m_analysis;
    std::array<QAction*, kCommandCount> m_actions{};
    QTimer* m_importWatch = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    bool m_placed = false;
    bool m_forceClose = false;
};

} // namespace vez
