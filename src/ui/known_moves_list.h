// The known-moves list: every move the database knows from the shown position, with its
// games, results, score and note, as rows the view's logic builds. A click on a row plays
// its move: the model carries the move and glyph, so nothing is parsed back from the text.
#pragma once

#include <QAbstractTableModel>
#include <QTableView>

#include <vector>

#include "app/pane_data.h"

namespace vez {

class KnownMovesModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    // The move code and glyph of a row, from any column.
    static constexpr int kMoveRole = Qt::UserRole + 1;
    static constexpr int kGlyphRole = Qt::UserRole + 2;

    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<KnownMoveRow> rows);
    const KnownMoveRow* rowAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<KnownMoveRow> m_rows;
};

class KnownMovesList final : public QTableView {
    Q_OBJECT
public:
    explicit KnownMovesList(QWidget* parent = nullptr);

    // Clears the list and shows the rows.
    void setRows(std::vector<KnownMoveRow> rows);
    const KnownMovesModel& knownMoves() const { return m_model; }

Q_SIGNALS:
    // A row was clicked. Sent once the click has been handled, since playing the move
    // rebuilds this list.
    void moveChosen(vez::Move move, vez::MoveGlyph glyph);

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    KnownMovesModel m_model;
};

} // namespace vez
