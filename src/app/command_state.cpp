#include "app/command_state.h"

#include "app/document.h"
#include "app/view_logic.h"

namespace vez {

using C = CommandId;

CommandState::CommandState(const CVezDoc& doc, const ViewLogic* view, const CommandContext& context)
    : m_doc(doc), m_view(view), m_context(context)
{
    m_context.importRunning = m_context.importRunning || doc.importRunning();
}

namespace {

// Commands that replace or rebuild the database, or start another worker: the rest of a
// running import would land in the wrong database.
bool clashesWithImport(CommandId id)
{
    switch (id) {
    case C::FileNew:
    case C::FileNewNonstandard:
    case C::FileOpen:
    case C::FileRecentFile1:
    case C::FileRecentFile2:
    case C::FileRecentFile3:
    case C::FileRecentFile4:
    case C::FileMerge:
    case C::FileSaveAs:
    case C::FileImport:
    case C::FileConvertToCleanPgn:
    case C::FileSplitFile:
    case C::GamesetCreateDatabase:
    case C::GamesetDeleteGames: return true;
    default: return false;
    }
}

// Set-up mode allows only board editing; the program may still be left.
bool allowedInSetup(CommandId id)
{
    return id == C::FileExit || id == C::HelpAbout || id == C::HelpTopics || id == C::ViewToolbar ||
           id == C::ViewStatusBar;
}

} // namespace

CommandStatus CommandState::status(CommandId id) const
{
    CommandStatus result{true, false};
    if (id >= C::FileNew && id <= C::FileExit)
        result = fileStatus(id);
    else if (id >= C::EditUndo && id <= C::ViewMoveTree)
        result = editViewStatus(id);
    else if (id >= C::GameStartNewGame && id <= C::GameAnalyze)
        result = gameStatus(id);
    else if (id >= C::PositionRewind && id <= C::PositionCoPilot)
        result = positionStatus(id);
    else if (id >= C::GamesetNew && id <= C::GamesetAnalyze)
        result = gamesetStatus(id);
    const bool setup = m_view && m_view->setupMode();
    if ((setup && !allowedInSetup(id)) || (m_context.importRunning && clashesWithImport(id)))
        result.enabled = false;
    return result;
}

CommandStatus CommandState::fileStatus(CommandId id) const
{
    const bool open = m_doc.database() != nullptr;
    switch (id) {
    case C::FileNew:
    case C::FileNewNonstandard:
    case C::FileOpen:
    case C::FileExit:
    case C::FileImport:
    case C::FileConvertToCleanPgn:
    case C::FilePrintSetup:
    case C::FilePrint:
    case C::FilePrintPreview: return {true, false};
    case C::FileSaveAs: return {m_doc.canSaveAs(), false};
    case C::FileSplitFile: return {m_doc.canSplit(), false};
    case C::FileMerge:
    case C::FileCompression:
    case C::FileDatabaseStatistics: return {id == C::FileDatabaseStatistics || open, false};
    case C::FileValidate: return {open, false};
    case C::FileHogMemory: return {true, m_doc.hogMemory()};
    case C::FileServer: return {open, m_context.serverRunning};
    case C::FileRecentFile1: return {m_context.recentFileCount >= 1, false};
    case C::FileRecentFile2: return {m_context.recentFileCount >= 2, false};
    case C::FileRecentFile3: return {m_context.recentFileCount >= 3, false};
    case C::FileRecentFile4: return {m_context.recentFileCount >= 4, false};
    default: return {};
    }
}

CommandStatus CommandState::editViewStatus(CommandId id) const
{
    const bool open = m_doc.database() != nullptr;
    switch (id) {
    case C::EditUndo: return {false, false};
    case C::EditFont: return {true, false};
    case C::EditAliasPlayerNames: return {open, false};
    case C::EditNormalizePlayerNames: return {open, open && m_doc.nameNormalization()};
    case C::ViewToolbar: return {true, m_context.toolbarShown};
    case C::ViewStatusBar: return {true, m_context.statusBarShown};
    case C::ViewAlgebraicNotation: return {!m_doc.isNonstandard(), !m_doc.descriptiveNotation()};
    case C::ViewMoveTree: return {true, m_context.moveTreeShown};
    default: return {};
    }
}

CommandStatus CommandState::gameStatus(CommandId id) const
{
    const bool open = m_doc.database() != nullptr;
    const bool view = m_view != nullptr;
    const int current = m_doc.getCurrentGame();
    switch (id) {
    case C::GameStartNewGame: return {view, false};
    case C::GameSave: return {view && m_view->canSave(), view && !m_view->gameModified()};
    case C::GameEditTags: return {view, false};
    case C::GameSelectFromPosition: return {view && m_view->canSelectGameFromPosition(), false};
    case C::GameSelectFromGameset: return {open && !m_doc.gamesetNames().empty(), false};
    case C::GameSelectNextInGameset: return {m_doc.canSelectNextGameInGameset(), false};
    case C::GameAddToGameset:
    case C::GameRemoveFromGameset: return {open && current >= 0, false};
    case C::GameDeleteGame: return {open && current >= 0 && !m_context.analysisHoldsGame, false};
    case C::GameCombineDuplicates: return {true, m_doc.combineDuplicates()};
    case C::GameClipLine: return {view && m_view->canClipLine(), false};
    case C::GameDeleteVariation:
    case C::GameRevertToPreviousVariation: return {view && m_view->canDeleteVariation(), false};
    case C::GameCopyPgn:
    case C::GameExportPgnFile: return {view, false};
    case C::GameCutPgn: return {view && !m_context.analysisHoldsGame, false};
    case C::GamePastePgn: return {open && m_context.clipboardHasText, false};
    case C::GameAnalyze: return {open && view, false};
    default: return {};
    }
}

CommandStatus CommandState::positionStatus(CommandId id) const
{
    const bool open = m_doc.database() != nullptr;
    const bool view = m_view != nullptr;
    switch (id) {
    case C::PositionRewind:
    case C::PositionBackUp:
    case C::PositionPriorChoice: return {view && m_view->canGoBack(), false};
    case C::PositionAdvance:
    case C::PositionFastForward:
    case C::PositionNextChoice: return {view && m_view->canGoForward(), false};
    case C::PositionCopyEpd: return {view, false};
    case C::PositionPasteEpd: return {view && m_context.clipboardHasText, false};
    case C::PositionSetScore: return {view, false};
    case C::PositionFlashcardToggle: return {view && open, view && open && m_view->isFlashcard()};
    case C::PositionPickFlashcard: return {view && m_view->canPickFlashcard(), false};
    case C::PositionExportUserNotes: return {open, false};
    case C::PositionExportFlashcards: return {open && m_doc.hasFlashcards(), false};
    case C::PositionAnalyze: return {view, false};
    case C::PositionCoPilot: return {view && !m_context.hasCoPilot, m_context.hasCoPilot};
    default: return {};
    }
}

CommandStatus CommandState::gamesetStatus(CommandId id) const
{
    const bool open = m_doc.database() != nullptr;
    const bool sets = open && !m_doc.gamesetNames().empty();
    switch (id) {
    case C::GamesetNew:
    case C::GamesetSearch: return {open, false};
    case C::GamesetExport:
    case C::GamesetDelete:
    case C::GamesetAnalyze: return {sets, false};
    case C::GamesetDeleteGames: return {sets && !m_context.analysisHoldsGame, false};
    case C::GamesetCreateDatabase:
        return {m_doc.canCreateDatabaseFromGameset() && !m_context.serverRunning, false};
    default: return {};
    }
}

} // namespace vez
