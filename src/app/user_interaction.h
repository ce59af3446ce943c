// What the document and the import ask of the person at the screen: messages, questions, the
// save prompt, file choices, the PGN error dialog, the clipboard and progress windows. The
// desktop program answers with dialogs, vezdb on the terminal, tests with scripted answers.
//
// The document and the importers call these only on the document's thread, except the
// Progress object, whose update and cancelled are called by whichever thread does the work.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "store/messages.h"

namespace vez {

// A cancellable progress window: a line of text and a bar.
class Progress {
public:
    virtual ~Progress() = default;
    virtual bool cancelled() const = 0;
    // Shows the text and done of total (the bar at done x 100 / (total + 1)).
    virtual void update(const std::string& text, std::uint64_t total, std::uint64_t done) = 0;
    // Brings the window to the front again after a dialog.
    virtual void raise() {}
};

// A file dialog: the filter in the "Description|pattern|...||" form.
struct FileDialogRequest {
    std::string defaultExtension;
    std::string fileName;
    std::string filter;
    // Ask before replacing an existing file; off for files that are appended to.
    bool overwritePrompt = true;
};

// What the PGN error dialog shows. For a bad EPD line, game is -1 (an empty count) and text
// is the line.
struct PgnErrorReport {
    std::string file;
    int game = -1;
    int line = 0;
    std::string message;
    std::string text;
    bool epd = false;
};

enum class PgnErrorChoice { SaveAs, CopyToClipboard, Skip, Abort };

struct PgnErrorAnswer {
    PgnErrorChoice choice = PgnErrorChoice::Skip;
    // "Silently ignore remaining errors": later bad games of the same file are skipped.
    bool ignoreRemaining = false;
};

enum class SaveAnswer { Yes, No, Cancel };

class UserInteraction : public UserMessages {
public:
    // A message box with an OK button (also the store's messages).
    void showMessage(const std::string& text) override = 0;
    // A message box with OK and Cancel; true for OK.
    virtual bool askOkCancel(const std::string& text) = 0;
    // The prompt to save the changes of the named document.
    virtual SaveAnswer askSaveChanges(const std::string& title) = 0;
    // Open and save dialogs; empty when cancelled. A save dialog asks before overwriting.
    virtual std::string chooseOpenFile(const FileDialogRequest& request) = 0;
    virtual std::string chooseSaveFile(const FileDialogRequest& request) = 0;
    virtual PgnErrorAnswer pgnError(const PgnErrorReport& report) = 0;
    virtual void setClipboardText(const std::string& text) = 0;
    // A new progress window with the title; it closes when destroyed.
    virtual std::unique_ptr<Progress> openProgress(const std::string& title) = 0;
    virtual void beep() {}
};

} // namespace vez
