// vez: the desktop program. `vez [PATH]`: without a path a new database, a .vez path opened,
// a game file (pgn, cbf, bfi, g30) browsed.
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "app/document.h"
#include "app/profile_store.h"
#include "store/damage.h"
#include "ui/main_window.h"
#include "ui/qt_user_interaction.h"
#include "ui/splash_window.h"
#include "ui/vez_view.h"

namespace {

int g_signalPipe[2] = {-1, -1};

// Damage in the database file is found where a record is read, which may be deep inside a
// pane's paint or a click handler. The exception must not unwind out of the event loop (that
// would end the program with the user's work); it is stopped here, the user is told, and the
// document refuses changes to the damaged file from then on.
class Application final : public QApplication {
public:
    using QApplication::QApplication;
    void setDocument(const vez::CVezDoc* doc) { m_doc = doc; }

    bool notify(QObject* receiver, QEvent* event) override
    {
        try {
            return QApplication::notify(receiver, event);
        } catch (const vez::DamagedDatabase& damage) {
            if (m_doc && !m_reporting) {
                m_reporting = true; // the message box runs events of its own
                m_doc->containDamage(damage.what());
                m_reporting = false;
            }
            return true;
        }
    }

private:
    const vez::CVezDoc* m_doc = nullptr;
    bool m_reporting = false;
};

void onStopSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the byte and closes the window.
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

void watchStopSignals(vez::MainWindow& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window, notifier] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
        notifier->setEnabled(false);
        window.closeWithoutPrompt();
    });
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    Application application(argc, argv);
    QApplication::setApplicationName("VEZ");
    QApplication::setApplicationDisplayName("VEZ");
    QApplication::setDesktopFileName("vez");
    QApplication::setWindowIcon(vez::applicationIcon());
    const QStringList arguments = QApplication::arguments();
    // `vez --write-icon FILE.png [SIZE]`: the icon for the desktop entry, from the same pieces.
    if (arguments.size() > 2 && arguments[1] == "--write-icon") {
        const int size = arguments.size() > 3 ? arguments[3].toInt() : 128;
        return vez::applicationIconPixmap(size > 0 ? size : 128).save(arguments[2]) ? 0 : 1;
    }
    const std::string path = arguments.size() > 1 ? arguments[1].toStdString() : std::string();

    vez::ProfileStore profile;
    vez::QtUserInteraction user;
    int status = 0;
    {
        vez::MainWindow window(profile, user);
        application.setDocument(&window.document());
        if (profile.getProfileInt("Splash", 1) == 1)
            vez::showSplash(&window);
        window.show();
        window.applyStoredPlacement();
        window.startUp(path);
        window.view().focusScoresheet();
        watchStopSignals(window);
        status = QApplication::exec();
        application.setDocument(nullptr);
    }
    return status;
}
