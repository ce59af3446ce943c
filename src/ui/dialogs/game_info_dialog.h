// "Game Information" (Game/Edit tags) and "Custom Tags": the header of the view's game. OK
// writes the fields into the game; nothing is stored until the game is saved.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "interchange/game.h"

class QComboBox;
class QLineEdit;

namespace vez {

struct GameInfoChoices {
    std::vector<std::string> players, events, tags;
};

class CustomTagsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kRows = 8;
    CustomTagsDialog(const std::vector<TagPair>& tags, const std::vector<std::string>& known,
                     QWidget* parent);
    // The rows with a name, in order.
    std::vector<TagPair> tags() const;
    QComboBox* nameBox(int row) const { return m_names[row]; }
    QLineEdit* valueEdit(int row) const { return m_values[row]; }

private:
    QComboBox* m_names[kRows] = {};
    QLineEdit* m_values[kRows] = {};
};

class GameInfoDialog : public QDialog {
    Q_OBJECT
public:
    GameInfoDialog(const Game& game, const GameInfoChoices& choices, QWidget* parent);
    // Writes the fields and the custom tags into the game's header.
    void applyTo(Game& game) const;
    QWidget* field(const char* tag) const;
    // "Custom tags...": opens its dialog over the tags held here.
    void editCustomTags();
    std::vector<TagPair>& customTags() { return m_custom; }

private:
    GameInfoChoices m_choices;
    std::vector<TagPair> m_custom;
    QComboBox* m_white;
    QComboBox* m_black;
    QComboBox* m_event;
    QLineEdit* m_round;
    QLineEdit* m_site;
    QLineEdit* m_date;
    QComboBox* m_result;
};

} // namespace vez
