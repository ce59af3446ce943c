// vez: the desktop program. `vez [PATH]`: without a path a new database, a .vez path opened,
// a game file (pgn, cbf, bfi, g30) browsed.
#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include "app/profile_store.h"
#include "ui/main_window.h"
#include "ui/qt_user_interaction.h"
#include "ui/splash_window.h"
#include "ui/vez_view.h"

namespace {

int g_signalPipe[2] = {-1, -1};

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
    QApplication application(argc, argv);
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
        if (profile.getProfileInt("Splash", 1) == 1)
            vez::showSplash(&window);
        window.show();
        window.applyStoredPlacement();
        window.startUp(path);
        window.view().focusScoresheet();
        watchStopSignals(window);
        status = QApplication::exec();
    }
    return status;
}
