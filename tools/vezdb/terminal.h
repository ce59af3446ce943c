// The user interaction of vezdb: messages and reports on standard error, no questions (every
// question takes the answer that changes least), a progress bar while standard error is a
// terminal.
#pragma once

#include <atomic>
#include <string>

#include "app/user_interaction.h"

namespace vez {

class TerminalInteraction final : public UserInteraction {
public:
    void showMessage(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;
    SaveAnswer askSaveChanges(const std::string& title) override;
    std::string chooseOpenFile(const FileDialogRequest& request) override;
    std::string chooseSaveFile(const FileDialogRequest& request) override;
    // "FILE: game N, line L: MESSAGE" (an EPD line: "FILE: line L: MESSAGE"); the game is
    // skipped.
    PgnErrorAnswer pgnError(const PgnErrorReport& report) override;
    void setClipboardText(const std::string& text) override;
    std::unique_ptr<Progress> openProgress(const std::string& title) override;

    // Messages shown so far: each is a failure of the command.
    int failures() const { return m_failures; }

private:
    int m_failures = 0;
};

} // namespace vez
