// "Select Game": the games of a list (through a position, or of a gameset) in the caller's
// order. A click chooses a game, a double click chooses it and closes the dialog; OK without
// a choice gives -1; "Refine..." closes the dialog so that the caller can narrow the list.
#pragma once

#include <QDialog>
#include <vector>

#include "ui/dialogs/game_list_model.h"

class QTreeView;

namespace vez {

class SelectGameDialog : public QDialog {
    Q_OBJECT
public:
    enum Outcome { Cancelled = 0, Chosen = 1, Refine = 3 };

    SelectGameDialog(std::vector<int> numbers, int numberToShow,
                     GameListModel::HeaderReader reader, QWidget* parent,
                     bool offerRefine = true);

    // The game of the last clicked row, -1 when none was clicked.
    int chosen() const { return m_chosen; }
    Outcome outcome() const { return Outcome(result()); }
    GameListModel* model() const { return m_model; }
    QTreeView* view() const { return m_view; }
    // The database changed meanwhile: games deleted since opening leave the list, and a
    // chosen game that went with them is no longer chosen.
    void refresh(const std::function<bool(int number)>& exists);

private:
    void choose(const QModelIndex& index);

    GameListModel* m_model;
    QTreeView* m_view;
    int m_chosen = -1;
};

} // namespace vez
