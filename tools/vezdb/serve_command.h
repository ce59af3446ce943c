// vezdb serve: the database server without the desktop program. Runs until SIGINT or
// SIGTERM, then tells every client "-shutting down!" and closes the database.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace vez {

class ServeCommand {
public:
    explicit ServeCommand(CLI::App& app);
    bool chosen() const { return m_command->parsed(); }
    // The exit status: 0 after a signal, 1 when the database or the server cannot start.
    int run();

private:
    CLI::App* m_command;
    CLI::Option* m_portOption;
    CLI::Option* m_permOption;
    CLI::Option* m_passwordsOption;
    CLI::Option* m_logOption;
    std::string m_database;
    int m_port = 0;
    int m_permissions = 0;
    std::string m_passwords;
    std::string m_log;
};

} // namespace vez
