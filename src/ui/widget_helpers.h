// Small pieces shared by the windows and dialogs.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QString>
#include <string>

namespace vez {

// A wait cursor for the length of a scope.
struct WaitCursor {
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

inline QString qs(const std::string& text) { return QString::fromStdString(text); }

// OK and Cancel buttons that accept and reject the dialog.
inline QDialogButtonBox* okCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// What a field holds, without the spaces around it.
inline std::string text(const QComboBox* box) { return box->currentText().trimmed().toStdString(); }
inline std::string text(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

} // namespace vez
