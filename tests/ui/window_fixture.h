// The main window over private settings, with the real dialogs except message boxes,
// questions and file choices, whose answers a test scripts.
#pragma once

#include <QApplication>
#include <QTimer>

#include <deque>

#include "app/document_fixture.h"
#include "ui/main_window.h"
#include "ui/ui_fixture.h"
#include "ui/vez_view.h"

namespace vez::test {

class ScriptedQtUser final : public QtUserInteraction {
public:
    void showMessage(const std::string& text) override { messages.push_back(text); }
    bool askOkCancel(const std::string&) override { return true; }
    SaveAnswer askSaveChanges(const std::string&) override { return SaveAnswer::No; }
    std::string chooseOpenFile(const FileDialogRequest&) override { return take(); }
    std::string chooseSaveFile(const FileDialogRequest&) override { return take(); }
    std::vector<std::string> chooseOpenFiles(const FileDialogRequest&) override { return {take()}; }
    std::string take() { return ScriptedUser::takeFront(answers); }
    std::vector<std::string> messages;
    std::deque<std::string> answers;
};

// Runs the modal dialog the next command opens with the answer given.
template <class Dialog, class Answer>
void answerModal(Answer answer)
{
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

class WindowTest : public UiTest {
protected:
    void SetUp() override { profile().writeProfileInt("Combine Duplicate Games", 0); }
    void TearDown() override { window.reset(); }
    // A new main window (one at a time: its document takes the store's messages), shown at
    // its stored place unless hidden, on the database or PGN file given ("" for a new one).
    MainWindow& start(const std::string& file, bool shown = true)
    {
        window.reset();
        window = std::make_unique<MainWindow>(profile(), user);
        if (shown) {
            window->show();
            window->applyStoredPlacement();
        }
        window->startUp(file);
        return *window;
    }
    std::string path(const char* name) const { return scratchPath(name).toStdString(); }
    CVezDoc& doc() { return window->document(); }
    ViewLogic& logic() { return window->view().logic(); }

    ScriptedQtUser user;
    std::unique_ptr<MainWindow> window;
};

} // namespace vez::test
