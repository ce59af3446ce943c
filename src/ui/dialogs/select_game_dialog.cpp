#include "ui/dialogs/select_game_dialog.h"
#include "ui/widget_helpers.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace vez {

namespace {

void setColumnWidths(QTreeView* view)
{
    const QFontMetrics metrics(view->font());
    const int m = metrics.horizontalAdvance('m');
    const int widths[GameListModel::ColumnCount] = {
        metrics.horizontalAdvance("9999999") + 16,
        20 * m,
        20 * m,
        metrics.horizontalAdvance("1/2-1/2") + 16,
        metrics.horizontalAdvance("A99/99") + 16,
        metrics.horizontalAdvance("1998.06.06") + 16,
        metrics.horizontalAdvance("Wijk aan Zee NE") + 16,
        25 * m,
        metrics.horizontalAdvance("99") + 16,
    };
    for (int column = 0; column < GameListModel::ColumnCount; ++column)
        view->setColumnWidth(column, widths[column]);
}

} // namespace

SelectGameDialog::SelectGameDialog(std::vector<int> numbers, int numberToShow,
                                   GameListModel::HeaderReader reader, QWidget* parent,
                                   bool offerRefine)
    : QDialog(parent)
{
    setWindowTitle("Select Game");
    m_model = new GameListModel(std::move(numbers), std::move(reader), this);
    m_view = new QTreeView(this);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    // Uniform rows let the view ask only for the rows it shows.
    m_view->setUniformRowHeights(true);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setModel(m_model);
    m_view->header()->setStretchLastSection(false);
    setColumnWidths(m_view);

    QDialogButtonBox* buttons = okCancel(this);
    if (offerRefine) {
        QPushButton* refine = buttons->addButton("&Refine...", QDialogButtonBox::ActionRole);
        connect(refine, &QPushButton::clicked, this, [this] { done(Refine); });
    }
    connect(m_view, &QTreeView::clicked, this, &SelectGameDialog::choose);
    connect(m_view, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        choose(index);
        if (index.isValid())
            accept();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addWidget(buttons);
    resize(900, 420);

    // The game to bring into view is shown, not chosen.
    if (const int row = m_model->rowOf(numberToShow); row >= 0)
        m_view->scrollTo(m_model->index(row, 0), QAbstractItemView::PositionAtCenter);
}

void SelectGameDialog::choose(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    m_chosen = m_model->numberAt(index.row());
}

void SelectGameDialog::refresh(const std::function<bool(int number)>& exists)
{
    m_model->refresh(exists);
    if (m_chosen >= 0 && !exists(m_chosen))
        m_chosen = -1;
    if (const int row = m_model->rowOf(m_chosen); row >= 0)
        m_view->setCurrentIndex(m_model->index(row, 0));
}

} // namespace vez
