// The cancellable progress window: a line of text, a bar and Cancel.
//
// An import, clean or split updates it from its worker thread while the user goes on
// browsing, so it is modeless and the worker's updates are posted to it. Browsing a file and
// merging a database run on the user-interface thread itself: there the first update makes
// the window application-modal and every update lets the event loop run, so that Cancel is
// seen and the rest of the program takes no input meanwhile.
#pragma once

#include <QDialog>
#include <QPointer>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "app/user_interaction.h"

class QLabel;
class QProgressBar;

namespace vez {

class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    ProgressDialog(const QString& title, QWidget* parent);
    void setProgress(const QString& text, int percent);
    QString text() const;
    int percent() const;

    // Cancel and the close box.
    void reject() override;

Q_SIGNALS:
    void cancelRequested();

private:
    QLabel* m_text;
    QProgressBar* m_bar;
};

class ProgressWindow final : public Progress {
public:
    ProgressWindow(const std::string& title, QWidget* parent);
    ~ProgressWindow() override;

    bool cancelled() const override { return m_cancelled->load(); }
    void update(const std::string& text, std::uint64_t total, std::uint64_t done) override;
    void raise() override;

    ProgressDialog* dialog() const { return m_dialog; }

private:
    struct Pending {
        std::mutex mutex;
        QString text;
        int percent = 0;
        bool posted = false;
    };
    QPointer<ProgressDialog> m_dialog;
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<Pending> m_pending = std::make_shared<Pending>();
    bool m_modal = false;
};

} // namespace vez
