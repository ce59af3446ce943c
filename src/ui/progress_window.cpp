#include "ui/progress_window.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace vez {

ProgressDialog::ProgressDialog(const QString& title, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(title);
    setObjectName("progress");
    auto* layout = new QVBoxLayout(this);
    m_text = new QLabel(this);
    m_text->setMinimumWidth(360);
    m_text->setTextFormat(Qt::PlainText);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    layout->addWidget(m_text);
    layout->addWidget(m_bar);
    layout->addWidget(cancel, 0, Qt::AlignHCenter);
    connect(cancel, &QPushButton::clicked, this, &ProgressDialog::reject);
}

void ProgressDialog::setProgress(const QString& text, int percent)
{
    m_text->setText(text);
    m_bar->setValue(percent);
}

QString ProgressDialog::text() const { return m_text->text(); }
int ProgressDialog::percent() const { return m_bar->value(); }

void ProgressDialog::reject()
{
    Q_EMIT cancelRequested();
    QDialog::reject();
}

ProgressWindow::ProgressWindow(const std::string& title, QWidget* parent)
    : m_dialog(new ProgressDialog(QString::fromStdString(title), parent))
{
    m_dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    QObject::connect(m_dialog, &ProgressDialog::cancelRequested, m_dialog,
                     [cancelled = m_cancelled] { cancelled->store(true); });
    m_dialog->show();
}

ProgressWindow::~ProgressWindow()
{
    // Made and destroyed on the user-interface thread (the document opens and closes it).
    delete m_dialog.data();
}

void ProgressWindow::update(const std::string& text, std::uint64_t total, std::uint64_t done)
{
    const int percent = int(done * 100 / (total + 1));
    const QString line = QString::fromStdString(text);
    if (m_dialog && QThread::currentThread() == m_dialog->thread()) {
        if (!m_modal) {
            m_modal = true;
            m_dialog->hide();
            m_dialog->setWindowModality(Qt::ApplicationModal);
            m_dialog->show();
        }
        m_dialog->setProgress(line, percent);
        QCoreApplication::processEvents();
        return;
    }
    // From a worker: keep the latest figures and post one refresh at a time, so that a fast
    // worker never floods the event queue.
    std::lock_guard lock(m_pending->mutex);
    m_pending->text = line;
    m_pending->percent = percent;
    if (m_pending->posted || !m_dialog)
        return;
    m_pending->posted = true;
    QMetaObject::invokeMethod(
        m_dialog,
        [dialog = m_dialog, pending = m_pending] {
            std::lock_guard lock(pending->mutex);
            pending->posted = false;
            if (dialog)
                dialog->setProgress(pending->text, pending->percent);
        },
        Qt::QueuedConnection);
}

void ProgressWindow::raise()
{
    if (!m_dialog)
        return;
    if (QThread::currentThread() != m_dialog->thread()) {
        QMetaObject::invokeMethod(m_dialog, [dialog = m_dialog] {
            dialog->raise();
            dialog->activateWindow();
        }, Qt::QueuedConnection);
        return;
    }
    m_dialog->raise();
    m_dialog->activateWindow();
}

} // namespace vez
