#include "ui/notes_pane.h"

#include <QFocusEvent>

#include <algorithm>

#include "app/profile_store.h"

namespace vez {

NotesPane::NotesPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (m_settingText)
            return;
        m_edited = true;
        Q_EMIT noteEdited(noteText());
    });
}

void NotesPane::setNoteText(const std::string& text)
{
    m_settingText = true;
    setPlainText(QString::fromStdString(text));
    m_settingText = false;
    m_edited = false;
}

std::string NotesPane::noteText() const { return toPlainText().toStdString(); }

void NotesPane::applyFont(const ProfileStore& profile)
{
    QFont font(QString::fromStdString(profile.getProfileString("Note Font Name", "Book Antiqua")));
    font.setPointSizeF(std::max(1, profile.getProfileInt("Note Font Size", 100)) / 10.0);
    // The stored weights are the 100..900 scale that Qt's weights also use.
    font.setWeight(static_cast<QFont::Weight>(
        std::clamp(profile.getProfileInt("Note Font Weight", 400), 1, 1000)));
    font.setItalic(profile.getProfileInt("Note Font Italic", 0) != 0);
    setFont(font);
}

void NotesPane::focusOutEvent(QFocusEvent* event)
{
    QPlainTextEdit::focusOutEvent(event);
    if (m_edited) {
        m_edited = false;
        Q_EMIT noteCommitted();
    }
}

} // namespace vez
