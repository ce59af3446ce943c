// "VEZ Server": the port, who may come in and what they may change, the password file and
// the log file of the database server.
#pragma once

#include <QDialog>
#include <array>

#include "server/protocol.h"

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace vez {

class ServerDialog final : public QDialog {
    Q_OBJECT
public:
    ServerDialog(const ServerSettings& settings, QWidget* parent);

    // The fields, with the eight boxes packed into the permission bits.
    ServerSettings settings() const;
    // The box of a permission bit (7 = local access, all others, open ... 0 = network
    // access, known users, read only).
    QCheckBox* permissionBox(int bit) const { return m_boxes[std::size_t(bit)]; }

private:
    QWidget* accessGroup(const QString& title, int firstBit);
    QLayout* pathRow(QLineEdit*& edit, const QString& button, const QString& name);

    QSpinBox* m_port;
    std::array<QCheckBox*, 8> m_boxes{};
    QLineEdit* m_passwordFile = nullptr;
    QLineEdit* m_logFile = nullptr;
};

} // namespace vez
