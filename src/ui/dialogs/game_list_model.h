// The rows of "Select Game": one game number each, in the caller's order. A row's header is
// read only when the view asks for it, so a list of every game of a large database opens at
// once and costs only the rows on the screen.
#pragma once

#include <QAbstractTableModel>
#include <functional>
#include <unordered_map>
#include <vector>

namespace vez {

struct Game;

class GameListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, White, Black, Result, Eco, Date, Site, Event, Round, ColumnCount };
    // Reads a game's header; false when the game is gone.
    using HeaderReader = std::function<bool(int number, Game& header)>;

    GameListModel(std::vector<int> numbers, HeaderReader reader, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int numberAt(int row) const { return m_numbers[std::size_t(row)]; }
    int rowOf(int number) const;
    // Leaves out the games that no longer exist and reads every shown header again.
    void refresh(const std::function<bool(int number)>& exists);
    // How many headers were read so far.
    int headersRead() const { return m_reads; }

private:
    const QStringList& rowTexts(int row) const;

    std::vector<int> m_numbers;
    HeaderReader m_reader;
    mutable std::unordered_map<int, QStringList> m_cache; // by row
    mutable int m_reads = 0;
};

} // namespace vez
