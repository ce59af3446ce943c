// "Select Gameset": one name out of a list of gameset names.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;

namespace vez {

class SelectGamesetDialog : public QDialog {
    Q_OBJECT
public:
    SelectGamesetDialog(const std::vector<std::string>& names, QWidget* parent);
    // The chosen name; empty when none is chosen.
    std::string chosen() const;
    QListWidget* list() const { return m_list; }

    // Replaces the names (a gameset was deleted meanwhile); the choice stays when its name
    // is still offered.
    void setNames(const std::vector<std::string>& names);

private:
    QListWidget* m_list;
};

} // namespace vez
