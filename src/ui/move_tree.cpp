#include "ui/move_tree.h"

#include <QHeaderView>

namespace vez {

namespace {

constexpr int kMoveRole = Qt::UserRole + 1;

Move itemMove(const QTreeWidgetItem* item)
{
    return static_cast<Move>(item->data(0, kMoveRole).toUInt());
}

QTreeWidgetItem* childWithMove(QTreeWidgetItem* parent, Move move)
{
    for (int i = 0; i < parent->childCount(); ++i)
        if (itemMove(parent->child(i)) == move)
            return parent->child(i);
    return nullptr;
}

} // namespace

MoveTree::MoveTree(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setExpandsOnDoubleClick(true);
    setStandardStart(m_root);
    connect(this, &QTreeWidget::itemSelectionChanged, this, &MoveTree::userSelected);
    connect(this, &QTreeWidget::itemExpanded, this, &MoveTree::userExpanded);
}

std::vector<Move> MoveTree::pathOf(const QTreeWidgetItem* item)
{
    std::vector<Move> path;
    for (; item; item = item->parent())
        path.insert(path.begin(), itemMove(item));
    return path;
}

QTreeWidgetItem* MoveTree::itemAt(const std::vector<Move>& path) const
{
    QTreeWidgetItem* item = invisibleRootItem();
    for (Move move : path) {
        item = childWithMove(item, move);
        if (!item)
            return nullptr;
    }
    return item == invisibleRootItem() ? nullptr : item;
}

void MoveTree::merge(QTreeWidgetItem* parent, const std::vector<MoveTreeItem>& items)
{
    for (const MoveTreeItem& data : items) {
        QTreeWidgetItem* item = childWithMove(parent, data.move);
        if (!item) {
            item = new QTreeWidgetItem(parent);
            item->setData(0, kMoveRole, static_cast<unsigned>(moveCode(data.move)));
            // Known moves below are listed when the item is opened.
            item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        }
        item->setText(0, QString::fromStdString(data.text));
        merge(item, data.children);
    }
}

void MoveTree::Update(const MoveTreeData& data)
{
    m_updating = true;
    if (differentPosition(data.rootPosition, m_root)) {
        clear();
        m_root = data.rootPosition;
    }
    merge(invisibleRootItem(), data.items);
    QTreeWidgetItem* current = nullptr;
    for (std::size_t i = 0; i < data.selectedPath.size(); ++i) {
        QTreeWidgetItem* next =
            childWithMove(current ? current : invisibleRootItem(), data.selectedPath[i]);
        if (!next)
            break;
        if (current)
            current->setExpanded(true);
        current = next;
    }
    if (current) {
        if (current->childCount() > 0) {
            current->setExpanded(true);
            for (int i = 0; i < current->childCount(); ++i)
                current->child(i)->setExpanded(false);
        }
        scrollToItem(current);
        setCurrentItem(current);
    } else {
        clearSelection();
    }
    m_updating = false;
}

void MoveTree::userSelected()
{
    if (m_updating)
        return;
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty())
        return;
    QTreeWidgetItem* item = selected.front();
    item->setExpanded(true);
    const std::vector<Move> path = pathOf(item);
    QMetaObject::invokeMethod(
        this, [this, path] { Q_EMIT pathChosen(path); }, Qt::QueuedConnection);
}

void MoveTree::userExpanded(QTreeWidgetItem* item)
{
    if (m_updating || !m_provider)
        return;
    m_updating = true;
    merge(item, m_provider(pathOf(item)));
    if (item->childCount() == 0)
        item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    m_updating = false;
}

} // namespace vez
