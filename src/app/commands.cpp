#include "app/commands.h"

#include <array>
#include <cassert>

namespace vez {

namespace {

using C = CommandId;

// Menu paths of the submenus that hold entries.
constexpr std::string_view kFile = "&File";
constexpr std::string_view kRecent = "&File";
constexpr std::string_view kEdit = "&Edit";
constexpr std::string_view kView = "&View";
constexpr std::string_view kGame = "&Game";
constexpr std::string_view kSelect = "&Game/Se&lect game";
constexpr std::string_view kPosition = "&Position";
constexpr std::string_view kGameset = "Game&set";
constexpr std::string_view kHelp = "&Help";

// id, menu, label, shortcut, prompt, tool tip, toolbar, separator before, checkable
constexpr std::array<CommandInfo, kCommandCount> kCommands = {{
    {C::FileNew, kFile, "&New", "Ctrl+N", "Create a new database", "New", true},
    {C::FileNewNonstandard, kFile, "New Non&standard", "",
     "Create a new database for nonstandard chess games", "New nonstandard database"},
    {C::FileOpen, kFile, "&Open...", "Ctrl+O", "Open an existing database", "Open", true},
    {C::FileSaveAs, kFile, "Save &As...", "", "Save the active databasewith a new name", "Save As"},
    {C::FileMerge, kFile, "&Merge...", "",
     "Combine the contents of an existing database with the current database", "Merge databases"},
    {C::FileImport, kFile, "&Import...", "Ctrl+I", "Import games from PGN or CBF files", "Import",
     true, true},
    {C::FileConvertToCleanPgn, kFile, "&Convert to clean PGN...", "",
     "Convert games in a file to clean PGN", "Sanitize PGN"},
    {C::FileSplitFile, kFile, "Spli&t file...", "",
     "Split a file of games according to ECO codes into multiple PGN files", "Split file by ECO"},
    {C::FileDatabaseStatistics, kFile, "Database s&tatistics", "",
     "Display statistics about database", "", false, true},
    {C::FileValidate, kFile, "&Validate", "", "Perform internal database validity checking", ""},
    {C::FileCompression, kFile, "Com&pression...", "",
     "Control the compression of games to be added to the database", ""},
    {C::FileHogMemory, kFile, "&Hog memory", "",
     "Claim a large working set size before intensive operations",
     "Hog memory at expense of other applications", false, false, true},
    {C::FileServer, kFile, "Se&rver...", "", "Operate as a database server", "Start/stop server",
     false, false, true},
    {C::FilePrintSetup, kFile, "Print Set&up...", "", "Change the printer and printing options",
     "Print Setup", false, true},
    {C::FilePrint, kFile, "&Print...", "", "Print the active document", "Print"},
    {C::FilePrintPreview, kFile, "Print Pre&view", "", "Display full pages", "Print Preview"},
    {C::FileRecentFile1, kRecent, "&1", "", "Open this document", "", false, true},
    {C::FileRecentFile2, kRecent, "&2", "", "Open this document", ""},
    {C::FileRecentFile3, kRecent, "&3", "", "Open this document", ""},
    {C::FileRecentFile4, kRecent, "&4", "", "Open this document", ""},
    {C::FileExit, kFile, "E&xit", "", "Quit the application; prompts to save documents", "Exit",
     false, true},

    {C::EditUndo, kEdit, "&Undo", "Ctrl+Z", "Undo the last action", "Undo"},
    {C::EditFont, kEdit, "&Font...", "", "Select font for annotation text", "", false, true},
    {C::EditAliasPlayerNames, kEdit, "&Alias player names...", "",
     "Establish that one player's name is an alias for another's", "Alias player names"},
    {C::EditNormalizePlayerNames, kEdit, "&Normalize player names", "",
     "Toggle automatic player name normalization", "Name normalization", false, false, true},

    {C::ViewToolbar, kView, "&Toolbar", "", "Show or hide the toolbar", "Toggle ToolBar", false,
     false, true},
    {C::ViewStatusBar, kView, "&Status Bar", "", "Show or hide the status bar", "Toggle StatusBar",
     false, false, true},
    {C::ViewAlgebraicNotation, kView, "&Algebraic notation", "",
     "Select algebraic or descriptive notation for moves", "Move notation", false, true, true},
    {C::ViewMoveTree, kView, "&Move tree", "", "Display the move tree", "", false, false, true},

    {C::GameStartNewGame, kGame, "Start &new game", "Ctrl+R",
     "Discard game and return to the starting position", "Reset", true},
    {C::GameSave, kGame, "&Save...", "Ctrl+A", "Save new or modified game in database", "Save game",
     true, false, true},
    {C::GameEditTags, kGame, "Edit &tags", "Ctrl+T", "Edit the tags of the current game",
     "Edit game tags", true},
    {C::GameSelectFromPosition, kSelect, "... from &position", "Ctrl+P",
     "Select a game in which this position arises", "Select game", true},
    {C::GameSelectFromGameset, kSelect, "... from &gameset...", "Ctrl+G",
     "Select a game from a gameset", ""},
    {C::GameSelectNextInGameset, kSelect, "&Next game in gameset", "Ctrl+J",
     "Select the next game in the same gameset", "Next game", true},
    {C::GameAddToGameset, kGame, "&Add to gameset...", "",
     "Add the current game to a selected gameset", "Add game to gameset"},
    {C::GameRemoveFromGameset, kGame, "&Remove from gameset...", "",
     "Remove the current game from a selected gameset", "Remove game from gameset"},
    {C::GameDeleteGame, kGame, "&Delete game", "", "Delete the current game from the database",
     "Delete game"},
    {C::GameCombineDuplicates, kGame, "Com&bine new duplicate games", "",
     "Combine duplicate games when imported or saved (toggle)", "Toggle duplicate game combination",
     false, false, true},
    {C::GameClipLine, kGame, "&Clip line", "", "Delete moves after current position in this line",
     "Clip line", false, true},
    {C::GameDeleteVariation, kGame, "Delete &varation", "",
     "Delete the current variation from the game", "Delete variation"},
    {C::GameRevertToPreviousVariation, kGame, "Revert to &previous variation", "",
     "Back up into the previous variation (or main line)", "Revert"},
    {C::GameCopyPgn, kGame, "C&opy PGN", "Ctrl+C",
     "Copy the current game and put it on the Clipboard", "Copy", true, true},
    {C::GameCutPgn, kGame, "C&ut PGN", "Ctrl+X",
     "Delete the current game and put it on the Clipboard", "Cut", true},
    {C::GameExportPgnFile, kGame, "&Export PGN file...", "",
     "Write the current game to a file in PGN format", "Export PGN file"},
    {C::GamePastePgn, kGame, "&Paste PGN", "Ctrl+V", "Insert Clipboard contents", "Paste", true},
    {C::GameAnalyze, kGame, "Anal&yze with Crafty...", "",
     "Analyze the current game with the Crafty chessplaying program", "Analyze game", false, true},

    {C::PositionRewind, kPosition, "&Rewind", "", "Go to beginning of game", "Rewind", true},
    {C::PositionBackUp, kPosition, "&Back up", "", "Return to previous position in game", "Back up",
     true},
    {C::PositionAdvance, kPosition, "&Advance", "", "Advance to next position in game", "Advance",
     true},
    {C::PositionFastForward, kPosition, "&Fast forward", "", "Go to final position in game", "End",
     true},
    {C::PositionNextChoice, kPosition, "&Next choice/note", "",
     "Advance to next position in game with transposition, choice, or annotation",
     "Next noteworthy position", true},
    {C::PositionPriorChoice, kPosition, "&Prior choice/note", "",
     "Back up to previous position with transposition, choice, or annotation",
     "Prior noteworthy position", true},
    {C::PositionCopyEpd, kPosition, "&Copy EPD", "", "Copy current position to Clipboard",
     "Copy position", false, true},
    {C::PositionPasteEpd, kPosition, "Pa&ste EPD", "", "Paste an EPD position from the Clipboard",
     "Paste position"},
    {C::PositionSetScore, kPosition, "Set Sc&ore...", "", "Assign a score to the current position",
     "Assign score"},
    {C::PositionFlashcardToggle, kPosition, "Flash&card toggle", "Ctrl+W",
     "Designate the current position as a flash card (or undesignate)", "Toggle flash card", false,
     true, true},
    {C::PositionPickFlashcard, kPosition, "P&ick a Flashcard", "",
     "Pick an arbitrary position that has been marked as a Flashcard", "Pick another Flashcard"},
    {C::PositionExportUserNotes, kPosition, "Export all &user notes...", "",
     "Save user-added notations of positions in PGN/FEN format", "Save annotated positions", false,
     true},
    {C::PositionExportFlashcards, kPosition, "Export Flash&cards...", "",
     "Save all flashcard positions to a file", "Export flashcard positions"},
    {C::PositionAnalyze, kPosition, "Anal&yze with Crafty...", "",
     "Start a Crafty process for analysis of the current position", "Analyze position", false,
     true},
    {C::PositionCoPilot, kPosition, "Crafty Co-&Pilot", "",
     "Start up a Crafty dialog that tracks the current position", "Start Crafty Co-Pilot", false,
     false, true},

    {C::GamesetNew, kGameset, "&New...", "", "Create a new gameset", ""},
    {C::GamesetSearch, kGameset, "&Search...", "", "Search for a game with a temporary gameset",
     "Search for game"},
    {C::GamesetExport, kGameset, "&Export...", "", "Export gameset in PGN format", ""},
    {C::GamesetDelete, kGameset, "&Delete...", "", "Delete a gameset", "Delete"},
    {C::GamesetDeleteGames, kGameset, "Delete &Games...", "", "Removes games from the database",
     "Remove games"},
    {C::GamesetCreateDatabase, kGameset, "&Create Database...", "",
     "Create a new database with games from a gameset", "Copy to new database", false, true},
    {C::GamesetAnalyze, kGameset, "&Analyze with Crafty...", "",
     "Analyze all games in a gameset with Crafty", "Analyze with Crafty"},

    {C::HelpAbout, kHelp, "&About vez...", "", "Show the version of the program", "About", true},
    {C::HelpTopics, kHelp, "&Help Topics", "F1", "Display Help topics", "Help topics"},
}};

constexpr bool tableInIdOrder()
{
    for (int i = 0; i < kCommandCount; ++i)
        if (static_cast<int>(kCommands[i].id) != i)
            return false;
    return true;
}
static_assert(tableInIdOrder(), "one entry per command, in the order of CommandId");

} // namespace

std::span<const CommandInfo> commandTable() { return kCommands; }

const CommandInfo& commandInfo(CommandId id)
{
    const int index = static_cast<int>(id);
    assert(index >= 0 && index < kCommandCount);
    return kCommands[index];
}

} // namespace vez
