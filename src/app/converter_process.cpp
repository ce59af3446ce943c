#include "app/converter_process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "store/messages.h"

extern char** environ;

namespace vez {

ConverterProcess::~ConverterProcess() { close(); }

bool ConverterProcess::start(const std::string& path, const std::vector<std::string>& arguments,
                             UserMessages& messages)
{
    close();
    // The child works in the program's folder, so a relative program path is made absolute
    // first; a bare name is found through PATH and keeps our folder.
    std::string program = path;
    std::string folder;
    if (path.find('/') != std::string::npos) {
        std::error_code error;
        program = std::filesystem::absolute(path, error).string();
        if (error)
            program = path;
        folder = std::filesystem::path(program).parent_path().string();
    }

    std::vector<char*> argv;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = -1;
    const int status = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) {
        messages.showMessage(path + ": could not execute");
        return false;
    }
    m_pid = pid;
    return true;
}

int ConverterProcess::wait()
{
    if (m_pid <= 0)
        return -1;
    int status = 0;
    pid_t done;
    do {
        done = waitpid(m_pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    m_pid = -1;
    if (done < 0 || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// A child let go is no longer ours to wait for; it is reaped when it ends only if someone
// waits, so close is for children that are already known to have ended or that must run on.
void ConverterProcess::close() { m_pid = -1; }

} // namespace vez
