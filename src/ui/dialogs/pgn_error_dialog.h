// "PGN Error": a game (or EPD line) the reader refused, with the four ways on and
// "Silently ignore remaining errors".
#pragma once

#include <QDialog>

#include "app/user_interaction.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace vez {

class PgnErrorDialog : public QDialog {
    Q_OBJECT
public:
    PgnErrorDialog(const PgnErrorReport& report, QWidget* parent);

    PgnErrorAnswer answer() const;
    // The fields as shown, for the tests: File, Game, Line, message, text.
    QString field(const char* name) const;
    QPushButton* button(PgnErrorChoice choice) const;
    QCheckBox* ignoreBox() const { return m_ignore; }

private:
    void choose(PgnErrorChoice choice);

    PgnErrorChoice m_choice = PgnErrorChoice::Skip;
    QCheckBox* m_ignore;
    QPushButton* m_buttons[4] = {};
};

} // namespace vez
