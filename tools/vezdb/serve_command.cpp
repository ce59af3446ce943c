#include "serve_command.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "app/document.h"
#include "app/profile_store.h"
#include "server/listener.h"
#include "terminal.h"

namespace vez {

namespace {

// SIGINT and SIGTERM reach the event loop through a pipe: the handler only writes a byte.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

ServeCommand::ServeCommand(CLI::App& app)
{
    m_command = app.add_subcommand("serve", "Serve a database over TCP until SIGINT or SIGTERM");
    m_command->add_option("DB", m_database, "Database file")->required();
    m_portOption = m_command->add_option("--port", m_port, "TCP port (setting \"server port\")")
                       ->check(CLI::Range(0, 65535));
    m_permOption =
        m_command->add_option("--perm", m_permissions, "Access flags (setting \"server perm\")")
            ->check(CLI::Range(0, 255));
    m_passwordsOption = m_command->add_option("--passwords", m_passwords,
                                              "Password file (setting \"server passwds\")");
    m_logOption = m_command->add_option("--log", m_log, "Log file (setting \"server log\")");
}

int ServeCommand::run()
{
    static int argc = 1;
    static char name[] = "vezdb";
    static char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    ProfileStore profile;
    TerminalInteraction terminal;
    CVezDoc document(profile, terminal);
    if (!document.OnOpenDocument(m_database))
        return 1;

    // The options default to the settings and are written back, as the settings dialog does.
    ServerSettings settings = ServerSettings::read(profile);
    if (m_portOption->count())
        settings.port = m_port;
    if (m_permOption->count())
        settings.permissions = m_permissions;
    if (m_passwordsOption->count())
        settings.passwordFile = m_passwords;
    if (m_logOption->count())
        settings.logFile = m_log;
    settings.write(profile);

    auto listener = std::make_unique<ServerListener>(document);
    if (!listener->start(settings))
        return 1;
    std::cout << "serving " << m_database << " on port " << listener->port() << std::endl;
    document.setServer(std::move(listener));

    if (::pipe(g_signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &application, &QCoreApplication::quit);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    application.exec();
    action.sa_handler = SIG_DFL;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    document.setServer(nullptr);
    document.DeleteContents();
    return terminal.failures() > 0 ? 1 : 0;
}

} // namespace vez
