#include "ui/analysis/engine_config_dialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/widget_helpers.h"

namespace vez {

namespace {

// The block is kept with "\r\n" line ends as typed on the system it came from; the edit
// field works with "\n".
QString blockForEditing(const std::string& block)
{
    return QString::fromStdString(block).replace("\r\n", "\n");
}

std::string blockFromEditing(const QString& text)
{
    QString block = text;
    block.replace("\r\n", "\n").replace("\n", "\r\n");
    return block.toStdString();
}

} // namespace

EngineConfigDialog::EngineConfigDialog(const EngineSettings& settings, QWidget* parent)
    : QDialog(parent), m_settings(settings)
{
    setWindowTitle("Crafty configuration");
    m_path = new QLineEdit(this);
    m_path->setObjectName("path");
    auto* browse = new QPushButton("Browse...", this);
    browse->setObjectName("browse");
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(browse);
    m_commandLine = new QLineEdit(this);
    m_commandLine->setObjectName("commandLine");
    m_commands = new QPlainTextEdit(this);
    m_commands->setObjectName("commands");
    m_margin1 = new QLineEdit(this);
    m_margin1->setObjectName("margin1");
    m_margin2 = new QLineEdit(this);
    m_margin2->setObjectName("margin2");

    auto* form = new QFormLayout;
    form->addRow("Path", pathRow);
    form->addRow("Command Line", m_commandLine);
    form->addRow("Initialization Commands", m_commands);
    form->addRow("!/?", m_margin1);
    form->addRow("!!/??", m_margin2);

    QDialogButtonBox* buttons = okCancel(this);
    QPushButton* defaults = buttons->addButton("Defaults", QDialogButtonBox::ResetRole);
    defaults->setObjectName("defaults");
    connect(defaults, &QPushButton::clicked, this, &EngineConfigDialog::fillDefaults);
    connect(browse, &QPushButton::clicked, this, &EngineConfigDialog::browse);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    show(settings);
}

void EngineConfigDialog::show(const EngineSettings& settings)
{
    m_path->setText(QString::fromStdString(settings.path));
    m_commandLine->setText(QString::fromStdString(settings.commandLine));
    m_commands->setPlainText(blockForEditing(settings.commands));
    m_margin1->setText(QString::fromStdString(formatMargin(settings.margin1)));
    m_margin2->setText(QString::fromStdString(formatMargin(settings.margin2)));
}

void EngineConfigDialog::fillDefaults() { show(defaultEngineSettings()); }

EngineSettings EngineConfigDialog::settings() const
{
    EngineSettings settings = m_settings;
    settings.path = m_path->text().toStdString();
    settings.commandLine = m_commandLine->text().toStdString();
    settings.commands = blockFromEditing(m_commands->toPlainText());
    settings.margin1 = readDecimal(m_margin1->text().toStdString());
    settings.margin2 = readDecimal(m_margin2->text().toStdString());
    return settings;
}

// Programs on this system carry no extension, so every file is offered.
void EngineConfigDialog::browse()
{
    const QString path =
        QFileDialog::getOpenFileName(this, "Browse", m_path->text(), "All Files (*)");
    if (!path.isEmpty())
        m_path->setText(path);
}

} // namespace vez
