// The small dialogs that ask for one or two values: "Position Score", "Player Name Alias"
// and "New Game Compression".
#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QSpinBox;

namespace vez {

// The score shown and typed in pawns; OK stores it in centipawns, "No Score" removes it.
class PositionScoreDialog : public QDialog {
    Q_OBJECT
public:
    PositionScoreDialog(std::int32_t score, QWidget* parent);
    // The score to store once accepted: centipawns, or kNoScore ("No Score").
    std::int32_t score() const { return m_score; }
    QLineEdit* edit() const { return m_edit; }
    void accept() override;
    void chooseNoScore();

private:
    QLineEdit* m_edit;
    std::int32_t m_score = 0x55555555; // no score
};

class AliasDialog : public QDialog {
    Q_OBJECT
public:
    AliasDialog(const std::vector<std::string>& players, QWidget* parent);
    std::string primary() const;
    std::string alias() const;
    QComboBox* primaryBox() const { return m_primary; }
    QComboBox* aliasBox() const { return m_alias; }

private:
    QComboBox* m_primary;
    QComboBox* m_alias;
};

class CompressionDialog : public QDialog {
    Q_OBJECT
public:
    CompressionDialog(int thresholdPly, QWidget* parent);
    int thresholdPly() const;
    QSpinBox* spin() const { return m_spin; }

private:
    QSpinBox* m_spin;
};

} // namespace vez
