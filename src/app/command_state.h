// Whether each command of the menus is enabled and shows a check mark, worked out from the
// document, the view's logic and a few facts only the main window knows. The main window
// asks before it shows a menu or updates the toolbar; nothing here changes any state.
#pragma once

#include "app/commands.h"

namespace vez {

class CVezDoc;
class ViewLogic;

// What the main window knows besides the document and the view.
struct CommandContext {
    bool clipboardHasText = false;
    bool importRunning = false;     // an import, clean or split worker runs
    bool analysisHoldsGame = false; // a game or gameset analysis holds a game
    bool hasCoPilot = false;        // the view's Co-Pilot window is open
    bool serverRunning = false;
    bool moveTreeShown = false;
    bool toolbarShown = true;
    bool statusBarShown = true;
    int recentFileCount = 0; // entries of the recent-file list (0..4)
};

struct CommandStatus {
    bool enabled = false;
    bool checked = false;
};

class CommandState {
public:
    // The view may be null (no view yet).
    CommandState(const CVezDoc& doc, const ViewLogic* view, const CommandContext& context);

    CommandStatus status(CommandId id) const;
    bool enabled(CommandId id) const { return status(id).enabled; }
    bool checked(CommandId id) const { return status(id).checked; }

private:
    CommandStatus fileStatus(CommandId id) const;
    CommandStatus editViewStatus(CommandId id) const;
    CommandStatus gameStatus(CommandId id) const;
    CommandStatus positionStatus(CommandId id) const;
    CommandStatus gamesetStatus(CommandId id) const;

    const CVezDoc& m_doc;
    const ViewLogic* m_view;
    CommandContext m_context;
};

} // namespace vez
