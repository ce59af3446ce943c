// Every command of the main window's menus: its id, where it sits in the menus, its label,
// shortcut, status-bar prompt and tool tip. Data only: the main window builds its menus,
// toolbar and status prompts from this table, CommandState says what is enabled and
// checked, and the handlers live beside the state they change (document, view).
#pragma once

#include <span>
#include <string_view>

namespace vez {

enum class CommandId : int {
    // File
    FileNew,
    FileNewNonstandard,
    FileOpen,
    FileSaveAs,
    FileMerge,
    FileImport,
    FileConvertToCleanPgn,
    FileSplitFile,
    FileDatabaseStatistics,
    FileValidate,
    FileCompression,
    FileHogMemory,
    FileServer,
    FilePrintSetup,
    FilePrint,
    FilePrintPreview,
    FileRecentFile1,
    FileRecentFile2,
    FileRecentFile3,
    FileRecentFile4,
    FileExit,
    // Edit
    EditUndo,
    EditFont,
    EditAliasPlayerNames,
    EditNormalizePlayerNames,
    // View
    ViewToolbar,
    ViewStatusBar,
    ViewAlgebraicNotation,
    ViewMoveTree,
    // Game
    GameStartNewGame,
    GameSave,
    GameEditTags,
    GameSelectFromPosition,
    GameSelectFromGameset,
    GameSelectNextInGameset,
    GameAddToGameset,
    GameRemoveFromGameset,
    GameDeleteGame,
    GameCombineDuplicates,
    GameClipLine,
    GameDeleteVariation,
    GameRevertToPreviousVariation,
    GameCopyPgn,
    GameCutPgn,
    GameExportPgnFile,
    GamePastePgn,
    GameAnalyze,
    // Position
    PositionRewind,
    PositionBackUp,
    PositionAdvance,
    PositionFastForward,
    PositionNextChoice,
    PositionPriorChoice,
    PositionCopyEpd,
    PositionPasteEpd,
    PositionSetScore,
    PositionFlashcardToggle,
    PositionPickFlashcard,
    PositionExportUserNotes,
    PositionExportFlashcards,
    PositionAnalyze,
    PositionCoPilot,
    // Gameset
    GamesetNew,
    GamesetSearch,
    GamesetExport,
    GamesetDelete,
    GamesetDeleteGames,
    GamesetCreateDatabase,
    GamesetAnalyze,
    // Help
    HelpAbout,
    HelpTopics,

    Count
};

inline constexpr int kCommandCount = static_cast<int>(CommandId::Count);

struct CommandInfo {
    CommandId id;
    // The menus from the menu bar down, '/'-separated, with '&' mnemonics:
    // "&Game/&Select game" for the items of that submenu.
    std::string_view menuPath;
    std::string_view label;    // "&Save...": '&' marks the mnemonic as Qt wants it
    std::string_view shortcut; // QKeySequence text ("Ctrl+A"); empty for none
    std::string_view prompt;   // the status-bar prompt
    std::string_view toolTip;  // empty: the command has none
    bool toolbar = false;      // the command has a toolbar button
    bool separatorBefore = false;
    bool checkable = false; // the entry can show a check mark
};

// Every command, in menu order.
std::span<const CommandInfo> commandTable();
const CommandInfo& commandInfo(CommandId id);

} // namespace vez
