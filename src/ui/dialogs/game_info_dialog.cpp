#include "ui/dialogs/game_info_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widget_helpers.h"

namespace vez {

namespace {

QComboBox* namesBox(const std::vector<std::string>& names, const std::string& current,
                    const char* objectName, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setObjectName(objectName);
    for (const std::string& name : names)
        box->addItem(qs(name));
    box->setCurrentIndex(-1);
    box->setEditText(qs(current));
    return box;
}

QLineEdit* line(const std::string& text, const char* objectName, QWidget* parent)
{
    auto* edit = new QLineEdit(qs(text), parent);
    edit->setObjectName(objectName);
    return edit;
}

} // namespace

CustomTagsDialog::CustomTagsDialog(const std::vector<TagPair>& tags,
                                   const std::vector<std::string>& known, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("Custom Tags");
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Tag", this), 0, 0);
    grid->addWidget(new QLabel("Value", this), 0, 1);
    for (int row = 0; row < kRows; ++row) {
        const bool given = std::size_t(row) < tags.size();
        m_names[row] = namesBox(known, given ? tags[std::size_t(row)].name : "", "", this);
        m_values[row] = line(given ? tags[std::size_t(row)].value : "", "", this);
        grid->addWidget(m_names[row], row + 1, 0);
        grid->addWidget(m_values[row], row + 1, 1);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(okCancel(this));
}

std::vector<TagPair> CustomTagsDialog::tags() const
{
    std::vector<TagPair> tags;
    for (int row = 0; row < kRows; ++row) {
        if (std::string name = text(m_names[row]); !name.empty())
            tags.push_back({std::move(name), text(m_values[row])});
    }
    return tags;
}

GameInfoDialog::GameInfoDialog(const Game& game, const GameInfoChoices& choices, QWidget* parent)
    : QDialog(parent), m_choices(choices), m_custom(game.tags)
{
    setWindowTitle("Game Information");
    m_white = namesBox(choices.players, game.white, "White", this);
    m_black = namesBox(choices.players, game.black, "Black", this);
    m_event = namesBox(choices.events, game.event, "Event", this);
    m_round = line(game.round ? std::to_string(game.round) : "", "Round", this);
    m_site = line(game.site, "Site", this);
    m_date = line(game.getTag("Date"), "Date", this);
    m_result = new QComboBox(this);
    m_result->setObjectName("Result");
    // "*" keeps an unfinished game unfinished.
    for (std::string_view result : kResultTexts)
        m_result->addItem(QString::fromUtf8(result.data(), qsizetype(result.size())));
    m_result->setCurrentIndex(std::size_t(game.result) < kResultTexts.size() ? game.result : 0);

    auto* form = new QFormLayout;
    form->addRow("&White:", m_white);
    form->addRow("&Black:", m_black);
    form->addRow("&Event:", m_event);
    form->addRow("&Round:", m_round);
    form->addRow("&Site:", m_site);
    form->addRow("&Date:", m_date);
    form->addRow("Res&ult:", m_result);
    auto* buttons = okCancel(this);
    QPushButton* custom = buttons->addButton("&Custom tags...", QDialogButtonBox::ActionRole);
    connect(custom, &QPushButton::clicked, this, &GameInfoDialog::editCustomTags);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

QWidget* GameInfoDialog::field(const char* tag) const { return findChild<QWidget*>(tag); }

void GameInfoDialog::editCustomTags()
{
    // The first eight tags are edited; any beyond them stay as they are.
    const std::size_t shown = std::min<std::size_t>(m_custom.size(), CustomTagsDialog::kRows);
    CustomTagsDialog dialog({m_custom.begin(), m_custom.begin() + std::ptrdiff_t(shown)},
                            m_choices.tags, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::vector<TagPair> tags = dialog.tags();
    tags.insert(tags.end(), m_custom.begin() + std::ptrdiff_t(shown), m_custom.end());
    m_custom = std::move(tags);
}

void GameInfoDialog::applyTo(Game& game) const
{
    game.setTag("White", text(m_white));
    game.setTag("Black", text(m_black));
    game.setTag("Event", text(m_event));
    game.setTag("Round", text(m_round));
    game.setTag("Site", text(m_site));
    // An emptied date field clears the date, which the tag reader would leave alone.
    if (const std::string date = text(m_date); date.empty())
        game.year = game.month = game.day = 0;
    else
        game.setTag("Date", date);
    game.result = m_result->currentIndex() < 0 ? 0 : m_result->currentIndex();
    game.tags = m_custom;
}

} // namespace vez
