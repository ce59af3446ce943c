#include "ui/dialogs/game_list_model.h"

#include <algorithm>

#include "interchange/game.h"
#include "store/codes.h"
#include "ui/widget_helpers.h"

namespace vez {

namespace {

// A screenful of rows is a few dozen; this keeps a long scroll from holding every row read.
constexpr std::size_t kCachedRows = 4096;

} // namespace

GameListModel::GameListModel(std::vector<int> numbers, HeaderReader reader, QObject* parent)
    : QAbstractTableModel(parent), m_numbers(std::move(numbers)), m_reader(std::move(reader))
{
}

int GameListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_numbers.size());
}

int GameListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const QStringList& GameListModel::rowTexts(int row) const
{
    if (auto found = m_cache.find(row); found != m_cache.end())
        return found->second;
    if (m_cache.size() >= kCachedRows)
        m_cache.clear();
    const int number = numberAt(row);
    QStringList texts{QString::number(number)};
    Game header;
    ++m_reads;
    if (m_reader(number, header)) {
        const auto result = std::size_t(header.result) < kResultTexts.size()
                                ? kResultTexts[std::size_t(header.result)]
                                : std::string_view();
        const std::string date =
            header.year ? formatDate(header.year, header.month, header.day) : std::string();
        texts << qs(header.white) << qs(header.black)
              << QString::fromUtf8(result.data(), qsizetype(result.size())) << qs(header.eco)
              << qs(date) << qs(header.site) << qs(header.event)
              << QString::number(header.round);
    }
    while (texts.size() < ColumnCount)
        texts << QString();
    return m_cache.emplace(row, std::move(texts)).first->second;
}

QVariant GameListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::TextAlignmentRole)
        return index.column() == Result ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return rowTexts(index.row()).at(index.column());
}

QVariant GameListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char* const kHeadings[ColumnCount] = {"Game #", "White", "Black",
                                                       "Result", "ECO",   "Date",
                                                       "Site",   "Event", "Round"};
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString(kHeadings[section]);
    if (role == Qt::TextAlignmentRole)
        return section == Result ? int(Qt::AlignCenter) : int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

int GameListModel::rowOf(int number) const
{
    const auto found = std::find(m_numbers.begin(), m_numbers.end(), number);
    return found == m_numbers.end() ? -1 : int(found - m_numbers.begin());
}

void GameListModel::refresh(const std::function<bool(int number)>& exists)
{
    beginResetModel();
    std::erase_if(m_numbers, [&](int number) { return !exists(number); });
    m_cache.clear();
    endResetModel();
}

} // namespace vez
