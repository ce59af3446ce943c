#include "ui/dialogs/value_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/view_logic.h"
#include "ui/widget_helpers.h"

namespace vez {

namespace {

QComboBox* playerBox(const std::vector<std::string>& players, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& player : players)
        box->addItem(QString::fromStdString(player));
    box->setCurrentIndex(-1);
    box->setEditText(QString());
    return box;
}

} // namespace

PositionScoreDialog::PositionScoreDialog(std::int32_t score, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("Position Score");
    m_edit = new QLineEdit(QString::fromStdString(scoreDialogText(score)), this);
    auto* buttons = okCancel(this);
    QPushButton* none = buttons->addButton("&No Score", QDialogButtonBox::ActionRole);
    connect(none, &QPushButton::clicked, this, &PositionScoreDialog::chooseNoScore);
    auto* layout = new QFormLayout(this);
    layout->addRow("Score (pawns):", m_edit);
    layout->addRow(buttons);
}

void PositionScoreDialog::accept()
{
    const ScoreInput input = parseScoreText(m_edit->text().toStdString());
    if (!input.valid) {
        QApplication::beep();
        return;
    }
    m_score = input.score;
    QDialog::accept();
}

void PositionScoreDialog::chooseNoScore()
{
    m_score = kNoScore;
    QDialog::accept();
}

AliasDialog::AliasDialog(const std::vector<std::string>& players, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("Player Name Alias");
    m_primary = playerBox(players, this);
    m_alias = playerBox(players, this);
    auto* layout = new QFormLayout(this);
    layout->addRow("Primary name of player:", m_primary);
    layout->addRow("Alias to recognize and replace:", m_alias);
    layout->addRow(okCancel(this));
}

std::string AliasDialog::primary() const { return m_primary->currentText().trimmed().toStdString(); }
std::string AliasDialog::alias() const { return m_alias->currentText().trimmed().toStdString(); }

CompressionDialog::CompressionDialog(int thresholdPly, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("New Game Compression");
    m_spin = new QSpinBox(this);
    m_spin->setRange(0, 1000);
    m_spin->setValue(thresholdPly);
    auto* layout = new QFormLayout(this);
    auto* note = new QLabel("Configure the ply after which games and variations may use a "
                            "compressed representation that uses less space but which cannot "
                            "recognize transpositions.",
                            this);
    note->setWordWrap(true);
    layout->addRow(note);
    layout->addRow("Compression &ply:", m_spin);
    layout->addRow(okCancel(this));
}

int CompressionDialog::thresholdPly() const { return m_spin->value(); }

} // namespace vez
