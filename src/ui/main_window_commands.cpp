// The main window's command handlers: each asks the user what the command needs and hands
// the work to the document, the view's logic or the gameset commands.
#include <QApplication>
#include <QClipboard>
#include <QFontDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>

#include "app/profile_store.h"
#include "server/listener.h"
#include "server/protocol.h"
#include "ui/analysis/analysis_windows.h"
#include "ui/analysis/server_dialog.h"
#include "ui/dialogs/value_dialogs.h"
#include "ui/gameset_commands.h"
#include "ui/help_window.h"
#include "ui/main_window.h"
#include "ui/vez_view.h"
#include "ui/widget_helpers.h"

namespace vez {

namespace {

constexpr const char* kDatabaseFilter = "VEZ Chess Database (*.vez)|*.vez|All Files (*.*)|*.*||";
constexpr const char* kImportFilter =
    "PGN files (*.pgn)|*.pgn|EPD files (*.epd)|*.epd|ChessBase CBF files (*.cbf)|*.cbf|"
    "ChessAssistant files (*.bfi)|*.bfi|NICbase files (*.g30)|*.g30|Text files (*.txt)|*.txt|"
    "All Files (*.*)|*.*||";
constexpr const char* kPgnFilter =
    "PGN games (*.pgn)|*.pgn|Text files (*.txt)|*.txt|All Files (*.*)|*.*||";
constexpr const char* kEpdFilter =
    "EPD positions (*.epd)|*.epd|Text files (*.txt)|*.txt|All Files (*.*)|*.*||";

std::string clipboardText() { return QApplication::clipboard()->text().toStdString(); }

} // namespace

void MainWindow::fileCommand(CommandId id)
{
    using C = CommandId;
    switch (id) {
    case C::FileNew:
        if (m_doc->SaveModified())
            m_doc->OnNewDocument();
        break;
    case C::FileNewNonstandard:
        if (m_doc->SaveModified())
            m_doc->onNewNonstandardDocument();
        break;
    case C::FileSaveAs:
        m_doc->saveAs();
        break;
    case C::FileDatabaseStatistics: {
        std::string text;
        {
            WaitCursor wait;
            text = m_doc->statisticsText();
        }
        m_user.showMessage(text);
        break;
    }
    case C::FileValidate: validate(); break;
    case C::FileCompression: {
        CompressionDialog dialog(m_doc->compressionThreshold(), this);
        if (dialog.exec() == QDialog::Accepted)
            m_doc->setCompressionThreshold(dialog.thresholdPly());
        break;
    }
    case C::FileHogMemory: m_doc->toggleHogMemory(); break;
    case C::FileServer: serverCommand(); break;
    case C::FilePrintSetup:
    case C::FilePrint:
    case C::FilePrintPreview: printCommand(id); break;
    case C::FileExit: close(); break;
    default: fileOpenCommand(id); break;
    }
}

// The file commands that choose files first.
void MainWindow::fileOpenCommand(CommandId id)
{
    using C = CommandId;
    switch (id) {
    case C::FileOpen: {
        if (!m_doc->SaveModified())
            break;
        const std::string path = m_user.chooseOpenFile({"vez", "", kDatabaseFilter});
        if (!path.empty())
            openPath(path);
        break;
    }
    case C::FileMerge: {
        const std::string path = m_user.chooseOpenFile({"vez", "Chess Database", kDatabaseFilter});
        if (!path.empty())
            m_doc->mergeDatabase(path);
        break;
    }
    case C::FileImport: {
        const std::vector<std::string> paths = m_user.chooseOpenFiles({"pgn", "*.pgn", kImportFilter});
        if (!paths.empty() && m_doc->importFiles(paths))
            importStarted();
        break;
    }
    case C::FileConvertToCleanPgn: {
        const std::vector<std::string> inputs = m_user.chooseOpenFiles({"pgn", "*.pgn", kImportFilter});
        if (inputs.empty())
            break;
        const std::string output = m_user.chooseSaveFile({"pgn", "*.pgn", kPgnFilter});
        if (!output.empty() && m_doc->cleanPgn(inputs, output))
            importStarted();
        break;
    }
    case C::FileSplitFile: {
        const std::vector<std::string> inputs = m_user.chooseOpenFiles({"pgn", "*.pgn", kImportFilter});
        if (!inputs.empty() && m_doc->splitFiles(inputs))
            importStarted();
        break;
    }
    default: {
        const int index = int(id) - int(C::FileRecentFile1);
        const std::vector<std::string> recent = recentFiles();
        if (index >= 0 && index < int(recent.size()) && m_doc->SaveModified())
            openPath(recent[std::size_t(index)]);
        break;
    }
    }
}

void MainWindow::editViewCommand(CommandId id)
{
    using C = CommandId;
    switch (id) {
    case C::EditFont: {
        QFont current(QString::fromStdString(m_profile.getProfileString("Note Font Name", "Book Antiqua")));
        current.setPointSizeF(m_profile.getProfileInt("Note Font Size", 100) / 10.0);
        bool ok = false;
        const QFont font = QFontDialog::getFont(&ok, current, this, "Font");
        if (!ok)
            break;
        m_profile.writeProfileString("Note Font Name", font.family().toStdString());
        m_profile.writeProfileInt("Note Font Size", int(font.pointSizeF() * 10 + 0.5));
        m_profile.writeProfileInt("Note Font Weight", font.bold() ? 700 : 400);
        m_profile.writeProfileInt("Note Font Italic", font.italic() ? 1 : 0);
        m_doc->UpdateAllViews(nullptr, UpdateHint::NoteFont);
        break;
    }
    case C::EditAliasPlayerNames: {
        std::vector<std::string> players;
        {
            WaitCursor wait;
            players = m_doc->playerNames();
        }
        AliasDialog dialog(players, this);
        if (dialog.exec() != QDialog::Accepted)
            break;
        if (dialog.primary().empty() || dialog.alias().empty()) {
            m_user.beep();
            break;
        }
        WaitCursor wait;
        m_doc->aliasPlayerNames(dialog.primary(), dialog.alias());
        break;
    }
    case C::EditNormalizePlayerNames: m_doc->toggleNameNormalization(); break;
    case C::ViewToolbar: {
        QToolBar* toolbar = findChild<QToolBar*>("toolbar");
        toolbar->setVisible(toolbar->isHidden());
        break;
    }
    case C::ViewStatusBar: statusBar()->setVisible(statusBar()->isHidden()); break;
    case C::ViewAlgebraicNotation: m_doc->toggleDescriptiveNotation(); break;
    case C::ViewMoveTree: m_view->setMoveTreeShown(!m_view->moveTreeShown()); break;
    default: break;
    }
}

void MainWindow::gameCommand(CommandId id)
{
    using C = CommandId;
    ViewLogic& logic = m_view->logic();
    switch (id) {
    case C::GameStartNewGame: logic.startNewGame(); break;
    case C::GameSave: logic.save(); break;
    case C::GameEditTags: logic.editTags(); break;
    case C::GameSelectFromPosition: {
        const std::optional<std::vector<int>> games = logic.gamesForPositionSelection();
        if (!games)
            break;
        const GameChoice choice = m_dialogs->chooseGame(*games, m_doc->getCurrentGame(), false);
        if (choice.outcome == GameChoice::Chosen)
            logic.selectGameFromPosition(choice.number);
        break;
    }
    case C::GameSelectFromGameset: m_gamesets->selectFromGameset(logic.shownPosition()); break;
    case C::GameSelectNextInGameset: m_doc->selectNextGameInGameset(); break;
    case C::GameAddToGameset: m_gamesets->addCurrentGame(); break;
    case C::GameRemoveFromGameset: m_gamesets->removeCurrentGame(); break;
    case C::GameDeleteGame: m_doc->deleteGame(m_doc->getCurrentGame()); break;
    case C::GameCombineDuplicates: m_doc->toggleCombineDuplicates(); break;
    case C::GameClipLine: logic.clipLine(); break;
    case C::GameDeleteVariation: logic.deleteVariation(); break;
    case C::GameRevertToPreviousVariation: logic.revertToPreviousVariation(); break;
    case C::GameCopyPgn: m_user.setClipboardText(logic.copyPgn()); break;
    case C::GameCutPgn: m_user.setClipboardText(logic.cutPgn()); break;
    case C::GameExportPgnFile: {
        const std::string path = m_user.chooseSaveFile({"pgn", "*.pgn", kPgnFilter});
        if (!path.empty())
            logic.exportPgn(path);
        break;
    }
    case C::GamePastePgn: m_doc->pasteGames(clipboardText()); break;
    case C::GameAnalyze: {
        const int number = logic.storedGameNumber() >= 0 ? logic.storedGameNumber()
                                                         : m_doc->getCurrentGame();
        if (number < 0)
            m_user.beep(); // a game that was never stored has nothing to keep the results
        else
            m_analysis->analyzeGame(number);
        break;
    }
    default: break;
    }
}

void MainWindow::positionCommand(CommandId id)
{
    using C = CommandId;
    ViewLogic& logic = m_view->logic();
    switch (id) {
    case C::PositionRewind: logic.rewind(); break;
    case C::PositionBackUp: logic.backUp(); break;
    case C::PositionAdvance: logic.advance(); break;
    case C::PositionFastForward: logic.fastForward(); break;
    case C::PositionNextChoice: logic.nextNoteworthy(); break;
    case C::PositionPriorChoice: logic.priorNoteworthy(); break;
    case C::PositionCopyEpd: m_user.setClipboardText(logic.copyEpd()); break;
    case C::PositionPasteEpd: logic.pasteEpd(clipboardText()); break;
    case C::PositionSetScore: {
        PositionScoreDialog dialog(logic.currentScore(), this);
        if (dialog.exec() == QDialog::Accepted)
            logic.setScore(dialog.score());
        break;
    }
    case C::PositionFlashcardToggle: logic.toggleFlashcard(); break;
    case C::PositionPickFlashcard: logic.pickFlashcard(); break;
    case C::PositionExportUserNotes:
    case C::PositionExportFlashcards: {
        const std::string path = m_user.chooseSaveFile({"epd", "*.epd", kEpdFilter});
        if (path.empty())
            break;
        WaitCursor wait;
        if (id == C::PositionExportUserNotes)
            m_doc->exportUserNotes(path);
        else
            m_doc->exportFlashcards(path);
        break;
    }
    case C::PositionAnalyze: m_analysis->analyzePosition(); break;
    case C::PositionCoPilot: m_analysis->openCoPilot(); break;
    default: break;
    }
}

void MainWindow::gamesetCommand(CommandId id)
{
    using C = CommandId;
    const Position board = m_view->logic().shownPosition();
    switch (id) {
    case C::GamesetNew: m_gamesets->newGameset(false, board); break;
    case C::GamesetSearch: m_gamesets->newGameset(true, board); break;
    case C::GamesetExport: {
        const std::string gameset = m_gamesets->chooseGamesetToExport();
        if (gameset.empty())
            break;
        const std::string path = m_user.chooseSaveFile({"pgn", "*.pgn", kPgnFilter});
        if (!path.empty())
            m_gamesets->exportGameset(path, gameset);
        break;
    }
    case C::GamesetDelete: m_gamesets->deleteGameset(); break;
    case C::GamesetDeleteGames: m_gamesets->deleteGames(); break;
    case C::GamesetCreateDatabase: {
        const std::vector<std::string> names = m_doc->gamesetNames();
        const std::string gameset = names.empty() ? std::string() : m_dialogs->chooseGameset(names);
        if (!gameset.empty())
            m_doc->createDatabaseFromGameset(gameset);
        break;
    }
    case C::GamesetAnalyze: {
        const std::string gameset = m_dialogs->chooseGameset(m_doc->gamesetNames());
        if (!gameset.empty())
            m_analysis->analyzeGameset(gameset);
        break;
    }
    default: break;
    }
}

// File/Server...: stops a running server, or asks for its settings and starts one.
void MainWindow::serverCommand()
{
    if (m_doc->server()) {
        m_doc->setServer(nullptr);
        return;
    }
    ServerDialog dialog(ServerSettings::read(m_profile), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const ServerSettings settings = dialog.settings();
    settings.write(m_profile);
    auto listener = std::make_unique<ServerListener>(*m_doc);
    if (listener->start(settings))
        m_doc->setServer(std::move(listener));
}

void MainWindow::helpCommand(CommandId id)
{
    if (id == CommandId::HelpAbout) {
        QMessageBox::about(this, "About VEZ",
                           "VEZ 1.5\n\nA chess database that keeps every game of a file as one "
                           "shared graph of positions.");
        return;
    }
    showUserGuide(this);
}

} // namespace vez
