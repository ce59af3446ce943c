#include "ui/qt_user_interaction.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMessageBox>

#include "ui/dialogs/file_filter.h"
#include "ui/dialogs/pgn_error_dialog.h"
#include "ui/progress_window.h"

namespace vez {

namespace {

const QString kCaption = "VEZ";

QString initialPath(const FileDialogRequest& request)
{
    // "*.pgn" names a pattern, not a file: the dialog starts without a name then.
    const QString name = QString::fromStdString(request.fileName);
    return name.contains(u'*') ? QString() : name;
}

} // namespace

void QtUserInteraction::showMessage(const std::string& text)
{
    QMessageBox::warning(m_parent, kCaption, QString::fromStdString(text));
}

bool QtUserInteraction::askOkCancel(const std::string& text)
{
    return QMessageBox::question(m_parent, kCaption, QString::fromStdString(text),
                                 QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

SaveAnswer QtUserInteraction::askSaveChanges(const std::string& title)
{
    const auto answer = QMessageBox::question(
        m_parent, kCaption, QString("Save changes to %1?").arg(QString::fromStdString(title)),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes);
    return answer == QMessageBox::Yes ? SaveAnswer::Yes
           : answer == QMessageBox::No ? SaveAnswer::No
                                       : SaveAnswer::Cancel;
}

std::string QtUserInteraction::chooseOpenFile(const FileDialogRequest& request)
{
    const QString path = QFileDialog::getOpenFileName(m_parent, QString(), initialPath(request),
                                                      qtFileFilter(request.filter));
    return path.toStdString();
}

std::vector<std::string> QtUserInteraction::chooseOpenFiles(const FileDialogRequest& request)
{
    std::vector<std::string> paths;
    for (const QString& path : QFileDialog::getOpenFileNames(
             m_parent, QString(), initialPath(request), qtFileFilter(request.filter)))
        paths.push_back(path.toStdString());
    return paths;
}

std::string QtUserInteraction::chooseSaveFile(const FileDialogRequest& request)
{
    QFileDialog dialog(m_parent, QString(), initialPath(request), qtFileFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    // Files that are appended to are not overwritten: no question then.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return withDefaultSuffix(dialog.selectedFiles().first(), request.defaultExtension)
        .toStdString();
}

PgnErrorAnswer QtUserInteraction::pgnError(const PgnErrorReport& report)
{
    PgnErrorDialog dialog(report, m_parent);
    dialog.exec();
    return dialog.answer();
}

void QtUserInteraction::setClipboardText(const std::string& text)
{
    QApplication::clipboard()->setText(QString::fromStdString(text));
}

std::unique_ptr<Progress> QtUserInteraction::openProgress(const std::string& title)
{
    return std::make_unique<ProgressWindow>(title, m_parent);
}

void QtUserInteraction::beep() { QApplication::beep(); }

} // namespace vez
