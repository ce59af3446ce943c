// The user-interaction interface of the document answered with dialogs: message boxes,
// questions, file dialogs, the PGN error dialog, the clipboard and progress windows.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "app/user_interaction.h"

namespace vez {

class QtUserInteraction : public UserInteraction {
public:
    explicit QtUserInteraction(QWidget* parent = nullptr) : m_parent(parent) {}
    // The window the dialogs belong to (the main window once it exists).
    void setParent(QWidget* parent) { m_parent = parent; }
    QWidget* parent() const { return m_parent; }

    void showMessage(const std::string& text) override;
    bool askOkCancel(const std::string& text) override;
    SaveAnswer askSaveChanges(const std::string& title) override;
    std::string chooseOpenFile(const FileDialogRequest& request) override;
    std::string chooseSaveFile(const FileDialogRequest& request) override;
    PgnErrorAnswer pgnError(const PgnErrorReport& report) override;
    void setClipboardText(const std::string& text) override;
    std::unique_ptr<Progress> openProgress(const std::string& title) override;
    void beep() override;

    // An open dialog that takes several files (File/Import..., Convert, Split).
    virtual std::vector<std::string> chooseOpenFiles(const FileDialogRequest& request);

private:
    QPointer<QWidget> m_parent;
};

} // namespace vez
