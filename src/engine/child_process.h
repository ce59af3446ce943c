// A child program with its standard streams on pipes, and the reader threads that cut its
// output into lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace vez {

class LineQueue;
class UserMessages;
struct PipeReader;

// One child process. With redirection its standard input, output and error are pipes whose
// parent ends are never inherited by other children, it runs in a process group of its own
// and in the folder of its program; without, it shares the program's streams and process
// group (the converters of the import). All operations run on the owner's thread; the only
// state shared with the reader threads is the link between a reader and its owner.
//
// Stopping: Kill interrupts the child's whole process group (SIGINT, the console break of
// a terminal) and terminates the child (SIGKILL) only when that cannot be sent. Closing
// never waits: a child that has not been collected is left to a background thread, which
// collects it when it ends and, after Kill, finishes off the group if it is still there
// after a short grace.
class ChildProcess {
public:
    explicit ChildProcess(UserMessages& messages);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program at path with the words of the command line as its arguments (the
    // first word is the child's argv[0]; an empty command line gives the path). A path
    // without "/" is looked up on PATH and the child keeps the current folder. Shows
    // path + ": could not execute" and returns false when the program cannot run.
    bool Start(const std::string& path, const std::string& commandLine, bool redirect);
    // True while the child lives; closes the object the first time it finds it gone.
    bool IsRunning();
    // Blocks until the child has ended (only while running).
    void Wait();
    // Stops a running child, then closes the object; does not wait for the child.
    void Kill();
    // Releases the pipe ends and detaches the readers; does not stop the child.
    void Close();
    // Writes all of text to the child's standard input; stops silently when a write fails.
    void Write(std::string_view text);
    // Starts one reader thread per given queue on the matching output pipe. Each queue
    // is then owned jointly by its reader and its consumer (see LineQueue).
    void StartReaders(LineQueue* stdoutQueue, LineQueue* stderrQueue);

    // The child's process id, which is also its process group's id; -1 when idle.
    pid_t processId() const { return m_pid; }
    const std::string& path() const { return m_path; }
    // The exit status from waitpid once Wait has seen the child end, else -1.
    int waitStatus() const { return m_waitStatus; }

private:
    friend void runPipeReader(PipeReader* reader);

    bool createPipes();
    void closePipes();
    bool spawn(const std::string& path, const std::string& commandLine, bool redirect);
    void startReader(int pipe, LineQueue* queue, PipeReader*& link);
    bool collect(bool block);

    UserMessages& m_messages;
    int m_running = 0;
    std::string m_path;
    pid_t m_pid = -1;
    bool m_ownGroup = false;
    bool m_collected = false;
    bool m_killed = false;
    int m_waitStatus = -1;
    int m_readEnds[3] = {-1, -1, -1};
    int m_writeEnds[3] = {-1, -1, -1};
    PipeReader* m_stdoutReader = nullptr;
    PipeReader* m_stderrReader = nullptr;
};

// The words of a command line: split at blanks and tabs, with double quotes grouping words
// that contain blanks (the quotes themselves are dropped).
std::vector<std::string> splitCommandLine(std::string_view commandLine);

} // namespace vez
