// "New Gameset" (Gameset/New... and, with a temporary name preset, Gameset/Search...).
// OK checks the entries in order; a failed check shows its message and keeps the dialog.
#pragma once

#include <QDialog>
#include <functional>

#include "ui/dialogs/gameset_form.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLineEdit;

namespace vez {

class GamesetDialog : public QDialog {
    Q_OBJECT
public:
    using MessageSink = std::function<void(const std::string&)>;
    GamesetDialog(const GamesetChoices& choices, const GamesetForm& preset, MessageSink messages,
                  QWidget* parent);

    GamesetForm form() const;
    void setForm(const GamesetForm& form);
    void accept() override;

private:
    QComboBox* namesCombo(const std::vector<std::string>& names, bool withEmpty);

    GamesetChoices m_choices;
    MessageSink m_messages;
    QLineEdit* m_name;
    QComboBox* m_parent;
    QComboBox* m_other;
    QButtonGroup* m_via;
    QComboBox* m_player;
    QComboBox* m_event;
    QComboBox* m_tag;
    QLineEdit* m_value;
    QLineEdit* m_minDate;
    QLineEdit* m_maxDate;
    QLineEdit* m_minEco;
    QLineEdit* m_maxEco;
    QCheckBox* m_position;
    QButtonGroup* m_role;
    QButtonGroup* m_color;
};

} // namespace vez
