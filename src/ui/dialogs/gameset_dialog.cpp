#include "ui/dialogs/gameset_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/widget_helpers.h"

namespace vez {

namespace {

// A group of exclusive choices that may also have none chosen; id 0 stands for none.
QButtonGroup* choiceGroup(QWidget* parent, QHBoxLayout* row, std::initializer_list<const char*> labels)
{
    auto* group = new QButtonGroup(parent);
    int id = 1;
    for (const char* label : labels) {
        auto* button = new QRadioButton(label, parent);
        // Clicking the chosen button again clears the choice, as "none" has no button.
        button->setAutoExclusive(false);
        group->addButton(button, id++);
        row->addWidget(button);
    }
    group->setExclusive(false);
    QObject::connect(group, &QButtonGroup::idToggled, parent, [group](int id, bool on) {
        if (!on)
            return;
        for (QAbstractButton* other : group->buttons()) {
            if (group->id(other) != id)
                other->setChecked(false);
        }
    });
    return group;
}

int chosenId(const QButtonGroup* group)
{
    for (QAbstractButton* button : group->buttons()) {
        if (button->isChecked())
            return group->id(button);
    }
    return 0;
}

void choose(QButtonGroup* group, int id)
{
    for (QAbstractButton* button : group->buttons())
        button->setChecked(group->id(button) == id);
}

} // namespace

QComboBox* GamesetDialog::namesCombo(const std::vector<std::string>& names, bool withEmpty)
{
    auto* box = new QComboBox(this);
    box->setEditable(!withEmpty);
    if (withEmpty)
        box->addItem(QString());
    for (const std::string& name : names)
        box->addItem(qs(name));
    box->setCurrentIndex(withEmpty ? 0 : -1);
    box->setEditText(QString());
    return box;
}

GamesetDialog::GamesetDialog(const GamesetChoices& choices, const GamesetForm& preset,
                             MessageSink messages, QWidget* parent)
    : QDialog(parent), m_choices(choices), m_messages(std::move(messages))
{
    setWindowTitle("New Gameset");
    std::vector<std::string> tags = choices.tags;
    if (std::find(tags.begin(), tags.end(), "Site") == tags.end())
        tags.push_back("Site");
    m_choices.tags = tags;

    auto* form = new QFormLayout;
    m_name = new QLineEdit(this);
    form->addRow("&Name:", m_name);
    m_parent = namesCombo(choices.gamesets, true);
    form->addRow("&Subset of:", m_parent);
    m_other = namesCombo(choices.gamesets, true);
    form->addRow("&Combined with:", m_other);
    auto* viaRow = new QHBoxLayout;
    m_via = choiceGroup(this, viaRow, {"&Union", "&Intersection", "Su&btraction"});
    form->addRow("via:", viaRow);
    m_player = namesCombo(choices.players, false);
    form->addRow("&Player:", m_player);
    m_event = namesCombo(choices.events, false);
    form->addRow("&Event:", m_event);
    m_tag = namesCombo(tags, false);
    form->addRow("&Tag:", m_tag);
    m_value = new QLineEdit(this);
    form->addRow("&Value:", m_value);
    auto range = [this, form](const char* label, QLineEdit*& low, QLineEdit*& high) {
        auto* row = new QHBoxLayout;
        low = new QLineEdit(this);
        high = new QLineEdit(this);
        row->addWidget(low);
        row->addWidget(high);
        form->addRow(label, row);
    };
    range("&Date (min, max):", m_minDate, m_maxDate);
    range("EC&O code (min, max):", m_minEco, m_maxEco);
    m_position = new QCheckBox("Games containing current &position", this);
    form->addRow(m_position);
    auto* roleRow = new QHBoxLayout;
    m_role = choiceGroup(this, roleRow, {"&Winner", "&Loser", "D&raw"});
    form->addRow("Roles:", roleRow);
    auto* colorRow = new QHBoxLayout;
    m_color = choiceGroup(this, colorRow, {"W&hite", "Blac&k"});
    form->addRow("", colorRow);

    QDialogButtonBox* buttons = okCancel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    setForm(preset);
}

GamesetForm GamesetDialog::form() const
{
    GamesetForm form;
    form.name = text(m_name);
    form.parent = text(m_parent);
    form.other = text(m_other);
    form.via = GamesetVia(chosenId(m_via));
    form.player = text(m_player);
    form.event = text(m_event);
    form.tag = text(m_tag);
    form.value = text(m_value);
    form.minDate = text(m_minDate);
    form.maxDate = text(m_maxDate);
    form.minEco = text(m_minEco);
    form.maxEco = text(m_maxEco);
    form.containsPosition = m_position->isChecked();
    form.role = GamesetRole(chosenId(m_role));
    form.color = GamesetColor(chosenId(m_color));
    return form;
}

void GamesetDialog::setForm(const GamesetForm& form)
{
    m_name->setText(qs(form.name));
    m_parent->setCurrentIndex(std::max(0, m_parent->findText(qs(form.parent))));
    m_other->setCurrentIndex(std::max(0, m_other->findText(qs(form.other))));
    choose(m_via, int(form.via));
    m_player->setEditText(qs(form.player));
    m_event->setEditText(qs(form.event));
    m_tag->setEditText(qs(form.tag));
    m_value->setText(qs(form.value));
    m_minDate->setText(qs(form.minDate));
    m_maxDate->setText(qs(form.maxDate));
    m_minEco->setText(qs(form.minEco));
    m_maxEco->setText(qs(form.maxEco));
    m_position->setChecked(form.containsPosition);
    choose(m_role, int(form.role));
    choose(m_color, int(form.color));
}

void GamesetDialog::accept()
{
    const std::string message = checkGamesetForm(form(), m_choices);
    if (!message.empty()) {
        m_messages(message);
        return;
    }
    QDialog::accept();
}

} // namespace vez
