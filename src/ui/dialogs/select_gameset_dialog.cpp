#include "ui/dialogs/select_gameset_dialog.h"

#include <QDialogButtonBox>
#include <QListWidget>
#include <QVBoxLayout>

#include "ui/widget_helpers.h"

namespace vez {

SelectGamesetDialog::SelectGamesetDialog(const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle("Select Gameset");
    auto* layout = new QVBoxLayout(this);
    m_list = new QListWidget(this);
    layout->addWidget(m_list);
    layout->addWidget(okCancel(this));
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    setNames(names);
}

void SelectGamesetDialog::setNames(const std::vector<std::string>& names)
{
    const std::string keep = chosen();
    m_list->clear();
    for (const std::string& name : names) {
        auto* item = new QListWidgetItem(QString::fromStdString(name), m_list);
        if (name == keep)
            m_list->setCurrentItem(item);
    }
}

std::string SelectGamesetDialog::chosen() const
{
    const QListWidgetItem* item = m_list->currentItem();
    return item && item->isSelected() ? item->text().toStdString() : std::string();
}

} // namespace vez
