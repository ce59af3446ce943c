// A converter program run as a child process without redirection: it shares our standard
// streams, and we wait until it has finished. (The engine's child processes, with pipes and
// reader threads, are a different kind of child.)
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace vez {

class UserMessages;

class ConverterProcess {
public:
    ConverterProcess() = default;
    ~ConverterProcess();
    ConverterProcess(const ConverterProcess&) = delete;
    ConverterProcess& operator=(const ConverterProcess&) = delete;

    // Starts the program with the arguments (each passed as one argument, nothing split or
    // quoted). The child works in the program's folder; a program path without a folder is
    // looked up in PATH. False, after the message path + ": could not execute", when it
    // cannot be started; the object is then idle and can be started again.
    bool start(const std::string& path, const std::vector<std::string>& arguments,
               UserMessages& messages);
    // Waits until the child has ended; its exit status (-1 when it did not exit normally).
    int wait();
    // Lets the child go without stopping it.
    void close();
    bool running() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

} // namespace vez
