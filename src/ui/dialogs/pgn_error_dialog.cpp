#include "ui/dialogs/pgn_error_dialog.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vez {

namespace {

QLineEdit* readOnlyLine(const QString& text, const char* name, QWidget* parent)
{
    auto* line = new QLineEdit(text, parent);
    line->setReadOnly(true);
    line->setObjectName(name);
    return line;
}

} // namespace

PgnErrorDialog::PgnErrorDialog(const PgnErrorReport& report, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("PGN Error");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow("File:", readOnlyLine(QString::fromStdString(report.file), "file", this));
    // A bad EPD line has no game count: the field stays empty.
    const QString game = report.game < 0 ? QString() : QString::number(report.game);
    form->addRow("Game:", readOnlyLine(game, "game", this));
    form->addRow("Line:", readOnlyLine(QString::number(report.line), "line", this));
    layout->addLayout(form);
    auto* message = new QLabel(QString::fromStdString(report.message), this);
    message->setObjectName("message");
    message->setTextFormat(Qt::PlainText);
    message->setWordWrap(true);
    layout->addWidget(message);
    auto* text = new QPlainTextEdit(QString::fromStdString(report.text), this);
    text->setObjectName("text");
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setMinimumSize(480, 200);
    layout->addWidget(text);
    m_ignore = new QCheckBox("Silently ignore remaining errors", this);
    layout->addWidget(m_ignore);

    auto* buttons = new QHBoxLayout;
    const std::pair<PgnErrorChoice, const char*> labels[] = {
        {PgnErrorChoice::SaveAs, "&Save as..."},
        {PgnErrorChoice::CopyToClipboard, "&Copy to Clipboard"},
        {PgnErrorChoice::Skip, "S&kip and continue"},
        {PgnErrorChoice::Abort, "&Abort file"},
    };
    for (const auto& [choice, label] : labels) {
        auto* button = new QPushButton(label, this);
        m_buttons[int(choice)] = button;
        buttons->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, choice] { choose(choice); });
    }
    m_buttons[int(PgnErrorChoice::Skip)]->setDefault(true);
    layout->addLayout(buttons);
}

void PgnErrorDialog::choose(PgnErrorChoice choice)
{
    m_choice = choice;
    accept();
}

PgnErrorAnswer PgnErrorDialog::answer() const
{
    // Closing the window goes on as Skip does: the bad game is left out.
    return {result() == Accepted ? m_choice : PgnErrorChoice::Skip, m_ignore->isChecked()};
}

QString PgnErrorDialog::field(const char* name) const
{
    if (const auto* line = findChild<QLineEdit*>(name))
        return line->text();
    if (const auto* label = findChild<QLabel*>(name))
        return label->text();
    if (const auto* text = findChild<QPlainTextEdit*>(name))
        return text->toPlainText();
    return {};
}

QPushButton* PgnErrorDialog::button(PgnErrorChoice choice) const { return m_buttons[int(choice)]; }

} // namespace vez
