// The notes pane: the comment of the move just played (or the game's first comment), as
// plain multi-line text the user edits. Typing reports the text; leaving the pane commits it.
#pragma once

#include <QPlainTextEdit>

#include <string>

namespace vez {

class ProfileStore;

class NotesPane final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit NotesPane(QWidget* parent = nullptr);

    // Shows a text (UTF-8, lines separated by "\n") without reporting it as edited.
    void setNoteText(const std::string& text);
    std::string noteText() const;
    // The note font of the settings: "Note Font Name", "Note Font Size" (tenths of a
    // point), "Note Font Weight", "Note Font Italic".
    void applyFont(const ProfileStore& profile);

Q_SIGNALS:
    void noteEdited(std::string text);
    void noteCommitted();

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool m_settingText = false;
    bool m_edited = false;
};

} // namespace vez
