// The move tree: the moves the database knows from the game's start position, level by
// level, each with its games, results, score and note. It follows the current game to the
// current ply; an item the user selects sends the path of moves to it from the root.
#pragma once

#include <QTreeWidget>

#include <functional>
#include <vector>

#include "app/pane_data.h"

namespace vez {

class MoveTree final : public QTreeWidget {
    Q_OBJECT
public:
    // The items two levels deep below a path from the root position, for an item the user
    // opens (the view's logic builds them).
    using ChildrenProvider = std::function<std::vector<MoveTreeItem>(const std::vector<Move>&)>;

    explicit MoveTree(QWidget* parent = nullptr);

    void setChildrenProvider(ChildrenProvider provider) { m_provider = std::move(provider); }

    // Follows the game: a new root position clears the tree; otherwise items are kept,
    // their texts refreshed and new ones appended. The item of the current ply is opened,
    // made visible and selected without a pathChosen.
    void Update(const MoveTreeData& data);

    const Position& rootPosition() const { return m_root; }
    // The moves from the root to an item, oldest first.
    static std::vector<Move> pathOf(const QTreeWidgetItem* item);
    // The item at the end of a path, or null.
    QTreeWidgetItem* itemAt(const std::vector<Move>& path) const;

Q_SIGNALS:
    // The user selected an item. Sent after the selection has been handled, since going to
    // the path rebuilds this tree.
    void pathChosen(std::vector<vez::Move> path);

private:
    void merge(QTreeWidgetItem* parent, const std::vector<MoveTreeItem>& items);
    void userSelected();
    void userExpanded(QTreeWidgetItem* item);

    Position m_root;
    ChildrenProvider m_provider;
    bool m_updating = false;
};

} // namespace vez
