#include "engine/child_process.h"

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine/line_queue.h"
#include "store/messages.h"

extern char** environ;

namespace vez {

// One reader thread's record: the read end it owns, the stream (0 standard output, 1
// standard error), its owner (null once the owner has let go) and its queue.
struct PipeReader {
    int handle = -1;
    int stream = 0;
    ChildProcess* owner = nullptr;
    LineQueue* queue = nullptr;
};

namespace {

constexpr std::size_t kReadChunk = 1023;
// How long a killed child's process group may take to end before it is killed outright.
constexpr int kKillGraceMs = 2000;

// Guards every link between a ChildProcess and its readers, from both sides.
std::mutex& readerLinks()
{
    static std::mutex lock;
    return lock;
}

void closeHandle(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Waits for a child that its owner has let go of. After a kill the group gets a grace to
// end by itself and is then killed, so that nothing of it outlives the owner's intent.
void collectInBackground(pid_t pid, bool killed)
{
    auto collect = [pid, killed] {
        if (killed) {
            const int fd = int(::syscall(SYS_pidfd_open, pid, 0));
            if (fd >= 0) {
                pollfd ended{fd, POLLIN, 0};
                while (::poll(&ended, 1, kKillGraceMs) < 0 && errno == EINTR) {
                }
                ::close(fd);
            }
            // The uncollected child keeps its id, and with it the group's, from being reused.
            ::kill(-pid, SIGKILL);
            ::kill(pid, SIGKILL);
        }
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    };
    try {
        std::thread(collect).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the child stays a zombie until the program ends.
    }
}

// Writes everything, reporting false on a failed or empty write. A child that has closed
// its input would raise SIGPIPE; the signal is held back for this thread and discarded.
bool writeAll(int fd, std::string_view text)
{
    sigset_t pipeSignal, previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    bool ok = true;
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ok = false;
            break;
        }
        text.remove_prefix(std::size_t(written));
    }
    if (!ok && errno == EPIPE && !sigismember(&previous, SIGPIPE)) {
        const timespec now{0, 0};
        while (sigtimedwait(&pipeSignal, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

} // namespace

void runPipeReader(PipeReader* reader)
{
    LineQueue* queue = reader->queue;
    char buffer[kReadChunk + 1];
    std::string pending;
    auto hasOwner = [reader] {
        std::lock_guard lock(readerLinks());
        return reader->owner != nullptr;
    };
    for (;;) {
        const ssize_t count = ::read(reader->handle, buffer, kReadChunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0 || !hasOwner() || queue->IsAbandoned())
            break;
        for (ssize_t i = 0; i < count; ++i) {
            pending += buffer[i];
            if (buffer[i] == '\n') {
                queue->Post(std::move(pending));
                pending.clear();
            }
        }
        // A prompt without a line feed goes out at once; when its line is completed later,
        // the whole line goes out again.
        if (!pending.empty())
            queue->Post(pending);
    }
    closeHandle(reader->handle);
    {
        std::lock_guard lock(readerLinks());
        if (ChildProcess* owner = reader->owner) {
            if (owner->m_stdoutReader == reader)
                owner->m_stdoutReader = nullptr;
            if (owner->m_stderrReader == reader)
                owner->m_stderrReader = nullptr;
        }
    }
    LineQueue::releaseByProducer(queue);
    delete reader;
}

ChildProcess::ChildProcess(UserMessages& messages) : m_messages(messages) {}

ChildProcess::~ChildProcess()
{
    if (m_running)
        Close();
}

bool ChildProcess::createPipes()
{
    for (int i = 0; i < 3; ++i) {
        int ends[2];
        // Close-on-exec from the start: no other child, started by whichever thread, ever
        // inherits these ends. The child's own ends become its standard streams by dup2.
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            closePipes();
            m_messages.showMessage("Could not create pipe for interprocess communication.");
            return false;
        }
        m_readEnds[i] = ends[0];
        m_writeEnds[i] = ends[1];
    }
    return true;
}

void ChildProcess::closePipes()
{
    for (int i = 0; i < 3; ++i) {
        closeHandle(m_readEnds[i]);
        closeHandle(m_writeEnds[i]);
    }
}

bool ChildProcess::spawn(const std::string& path, const std::string& commandLine, bool redirect)
{
    std::vector<std::string> words = splitCommandLine(commandLine);
    if (words.empty())
        words.push_back(path);
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // A path with a folder runs in that folder; it is made absolute first because the
    // child changes folder before the program is looked up.
    const bool searchPath = path.find('/') == std::string::npos;
    std::error_code error;
    const std::filesystem::path program =
        searchPath ? std::filesystem::path(path) : std::filesystem::absolute(path, error);
    const std::string programText = program.string();
    const std::string folder = program.parent_path().string();

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    if (!searchPath && !folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (redirect) {
        posix_spawn_file_actions_adddup2(&actions, m_readEnds[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, m_writeEnds[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, m_writeEnds[2], STDERR_FILENO);
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    // The child starts with no signal blocked and the stop signals at their defaults, even
    // when this program runs in the background with them ignored.
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, flags);

    pid_t pid = -1;
    const int failed =
        error ? error.value()
        : searchPath
            ? posix_spawnp(&pid, programText.c_str(), &actions, &attributes, argv.data(), environ)
            : posix_spawn(&pid, programText.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0)
        return false;
    m_pid = pid;
    m_ownGroup = redirect;
    return true;
}

bool ChildProcess::Start(const std::string& path, const std::string& commandLine, bool redirect)
{
    if (m_running)
        Close();
    m_running = 1;
    m_path = path;
    m_collected = false;
    m_killed = false;
    m_waitStatus = -1;
    if (redirect && !createPipes()) {
        m_running = 0;
        return false;
    }
    if (!spawn(path, commandLine, redirect)) {
        closePipes();
        m_running = 0;
        m_messages.showMessage(path + ": could not execute");
        return false;
    }
    // The child's ends now belong to the child alone.
    closeHandle(m_readEnds[0]);
    closeHandle(m_writeEnds[1]);
    closeHandle(m_writeEnds[2]);
    return true;
}

bool ChildProcess::collect(bool block)
{
    if (m_collected)
        return true;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return false;
    // A failed wait (the child collected elsewhere) counts as ended, like a failed query.
    m_collected = true;
    m_waitStatus = result == m_pid ? status : -1;
    return true;
}

bool ChildProcess::IsRunning()
{
    if (m_running && collect(false))
        Close();
    return m_running != 0;
}

void ChildProcess::Wait()
{
    if (m_running)
        collect(true);
}

void ChildProcess::Kill()
{
    if (!IsRunning())
        return;
    if (!m_ownGroup || ::kill(-m_pid, SIGINT) != 0)
        ::kill(m_pid, SIGKILL);
    m_killed = true;
    Close();
}

void ChildProcess::Close()
{
    if (!m_running)
        return;
    m_running = 0;
    closePipes();
    if (!m_collected)
        collectInBackground(m_pid, m_killed);
    m_pid = -1;
    m_ownGroup = false;
    std::lock_guard lock(readerLinks());
    for (PipeReader** link : {&m_stdoutReader, &m_stderrReader}) {
        if (*link) {
            (*link)->owner = nullptr;
            *link = nullptr;
        }
    }
}

void ChildProcess::Write(std::string_view text)
{
    if (m_writeEnds[0] >= 0 && !text.empty())
        writeAll(m_writeEnds[0], text);
}

void ChildProcess::startReader(int pipe, LineQueue* queue, PipeReader*& link)
{
    if (!queue)
        return;
    if (m_readEnds[pipe] < 0) {
        // Nothing to read (never started, or closed): the queue ends empty at once.
        LineQueue::releaseByProducer(queue);
        return;
    }
    auto* reader = new PipeReader{m_readEnds[pipe], pipe - 1, this, queue};
    m_readEnds[pipe] = -1; // the reader owns the handle now
    {
        std::lock_guard lock(readerLinks());
        link = reader;
    }
    try {
        std::thread(runPipeReader, reader).detach();
    } catch (const std::system_error&) {
        // No thread: behave as a reader that found end of file at once.
        {
            std::lock_guard lock(readerLinks());
            link = nullptr;
        }
        closeHandle(reader->handle);
        LineQueue::releaseByProducer(queue);
        delete reader;
    }
}

void ChildProcess::StartReaders(LineQueue* stdoutQueue, LineQueue* stderrQueue)
{
    startReader(1, stdoutQueue, m_stdoutReader);
    startReader(2, stderrQueue, m_stderrReader);
}

std::vector<std::string> splitCommandLine(std::string_view commandLine)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

} // namespace vez
