#include "ui/analysis/server_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include "ui/widget_helpers.h"

namespace vez {

ServerDialog::ServerDialog(const ServerSettings& settings, QWidget* parent) : QDialog(parent)
{
    setWindowTitle("VEZ Server");
    m_port = new QSpinBox(this);
    m_port->setObjectName("port");
    m_port->setRange(0, 65535);
    m_port->setValue(settings.port);
    auto* portRow = new QFormLayout;
    portRow->addRow("Port", m_port);

    auto* groups = new QHBoxLayout;
    groups->addWidget(accessGroup("Local Access", 7));
    groups->addWidget(accessGroup("Network Access", 3));
    for (int bit = 0; bit < 8; ++bit)
        m_boxes[std::size_t(bit)]->setChecked((settings.permissions >> bit) & 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(portRow);
    layout->addLayout(groups);
    layout->addLayout(pathRow(m_passwordFile, "Password file...", "passwordFile"));
    layout->addLayout(pathRow(m_logFile, "Log file...", "logFile"));
    m_passwordFile->setText(QString::fromStdString(settings.passwordFile));
    m_logFile->setText(QString::fromStdString(settings.logFile));

    layout->addWidget(okCancel(this));
}

// Two rows (All Others, Known Users) of two boxes (Open, Read Only): four bits from
// firstBit down, in that order.
QWidget* ServerDialog::accessGroup(const QString& title, int firstBit)
{
    auto* group = new QGroupBox(title, this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel("Open", group), 0, 1);
    grid->addWidget(new QLabel("Read Only", group), 0, 2);
    const char* rows[] = {"All Others", "Known Users"};
    for (int row = 0; row < 2; ++row) {
        grid->addWidget(new QLabel(rows[row], group), row + 1, 0);
        for (int column = 0; column < 2; ++column) {
            const int bit = firstBit - 2 * row - column;
            auto* box = new QCheckBox(group);
            box->setObjectName(QString("perm%1").arg(bit));
            grid->addWidget(box, row + 1, column + 1);
            m_boxes[std::size_t(bit)] = box;
        }
    }
    return group;
}

// The path is typed, picked or cleared (an empty path: no password file, no log).
QLayout* ServerDialog::pathRow(QLineEdit*& edit, const QString& button, const QString& name)
{
    auto* row = new QHBoxLayout;
    edit = new QLineEdit(this);
    edit->setObjectName(name);
    auto* pick = new QPushButton(button, this);
    auto* clear = new QPushButton("Clear", this);
    clear->setObjectName(name + "Clear");
    row->addWidget(pick);
    row->addWidget(edit, 1);
    row->addWidget(clear);
    QLineEdit* target = edit;
    connect(pick, &QPushButton::clicked, this, [this, target, button] {
        const QString path =
            QFileDialog::getSaveFileName(this, button, target->text(), "All Files (*)", nullptr,
                                         QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty())
            target->setText(path);
    });
    connect(clear, &QPushButton::clicked, target, &QLineEdit::clear);
    return row;
}

ServerSettings ServerDialog::settings() const
{
    ServerSettings settings;
    settings.port = m_port->value();
    settings.permissions = 0;
    for (int bit = 0; bit < 8; ++bit)
        settings.permissions |= m_boxes[std::size_t(bit)]->isChecked() ? 1 << bit : 0;
    settings.passwordFile = m_passwordFile->text().toStdString();
    settings.logFile = m_logFile->text().toStdString();
    return settings;
}

} // namespace vez
