// The database commands of vezdb: thin front ends over the document. Each returns the exit
// status: 0 success, 1 failure (the message is on standard error), 2 bad usage.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace vez {

// Adds the commands to the tool; run then starts the one the command line chose, or
// returns -1 when none of them was chosen.
class DatabaseCommands {
public:
    explicit DatabaseCommands(CLI::App& app);
    int run(int argc, char** argv);

private:
    int create();
    int import();
    int exportGames();
    int exportPositions();
    int stats();
    int check();
    int games();
    int gameset();
    int deleteGames();
    int merge();
    int clean();
    int split();
    int ecoBook();
    int analyze();

    CLI::App* m_create;
    CLI::App* m_import;
    CLI::App* m_export;
    CLI::App* m_exportPositions;
    CLI::App* m_stats;
    CLI::App* m_check;
    CLI::App* m_games;
    CLI::App* m_gameset;
    CLI::App* m_delete;
    CLI::App* m_merge;
    CLI::App* m_clean;
    CLI::App* m_split;
    CLI::App* m_ecoBook;
    CLI::App* m_analyze;

    std::string m_database;
    std::string m_other;
    std::string m_output;
    std::string m_gamesetName;
    std::string m_through;
    std::string m_action;
    std::vector<std::string> m_files;
    std::vector<std::string> m_arguments;
    std::vector<int> m_numbers;
    bool m_nonstandard = false;
    bool m_flashcards = false;
    int m_compressionPly = -1;
    int m_gameNumber = -1;
    int m_slider = -1;
    bool m_white = false;
    bool m_black = false;
};

} // namespace vez
