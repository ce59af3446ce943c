#include "ui/known_moves_list.h"

#include <QHeaderView>
#include <QMouseEvent>

namespace vez {

namespace {

struct ColumnInfo {
    const char* heading;
    const char* widthSample; // the column is this text's width + 16
    Qt::Alignment alignment;
};
const ColumnInfo kColumns[kKnownMoveColumns] = {
    {"Known Move", "Known Move", Qt::AlignLeft}, {"Games", "999999", Qt::AlignRight},
    {"1-0", "999999", Qt::AlignRight},           {"0-1", "999999", Qt::AlignRight},
    {"Score", "-99.99", Qt::AlignRight},         {"Notes", nullptr, Qt::AlignLeft},
};
constexpr int kNotesWidth = 200;

const std::string& columnText(const KnownMoveRow& row, int column)
{
    switch (static_cast<KnownMoveColumn>(column)) {
    case KnownMoveColumn::Move: return row.move;
    case KnownMoveColumn::Games: return row.games;
    case KnownMoveColumn::WhiteWins: return row.whiteWins;
    case KnownMoveColumn::BlackWins: return row.blackWins;
    case KnownMoveColumn::Score: return row.score;
    case KnownMoveColumn::Notes: break;
    }
    return row.note;
}

} // namespace

void KnownMovesModel::setRows(std::vector<KnownMoveRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

const KnownMoveRow* KnownMovesModel::rowAt(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return nullptr;
    return &m_rows[static_cast<std::size_t>(row)];
}

int KnownMovesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int KnownMovesModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kKnownMoveColumns;
}

QVariant KnownMovesModel::data(const QModelIndex& index, int role) const
{
    const KnownMoveRow* row = rowAt(index.row());
    if (!row || index.column() < 0 || index.column() >= kKnownMoveColumns)
        return {};
    switch (role) {
    case Qt::DisplayRole: return QString::fromStdString(columnText(*row, index.column()));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(kColumns[index.column()].alignment | Qt::AlignVCenter);
    case kMoveRole: return static_cast<int>(moveCode(row->playMove));
    case kGlyphRole: return static_cast<int>(row->glyph);
    default: return {};
    }
}

QVariant KnownMovesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kKnownMoveColumns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kColumns[section].heading);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(kColumns[section].alignment | Qt::AlignVCenter);
    return {};
}

KnownMovesList::KnownMovesList(QWidget* parent) : QTableView(parent), m_model(this)
{
    setModel(&m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setShowGrid(false);
    setWordWrap(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 2);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    for (int column = 0; column < kKnownMoveColumns; ++column) {
        const char* sample = kColumns[column].widthSample;
        setColumnWidth(column, sample ? fontMetrics().horizontalAdvance(QLatin1String(sample)) + 16
                                      : kNotesWidth);
    }
}

void KnownMovesList::setRows(std::vector<KnownMoveRow> rows) { m_model.setRows(std::move(rows)); }

void KnownMovesList::mousePressEvent(QMouseEvent* event)
{
    QTableView::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    const KnownMoveRow* row = m_model.rowAt(indexAt(event->position().toPoint()).row());
    if (!row || row->playMove == Move::None)
        return;
    const Move move = row->playMove;
    const MoveGlyph glyph = row->glyph;
    QMetaObject::invokeMethod(
        this, [this, move, glyph] { Q_EMIT moveChosen(move, glyph); }, Qt::QueuedConnection);
}

} // namespace vez
