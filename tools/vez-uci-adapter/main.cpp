// vez-uci-adapter: speaks the engine dialogue of VEZ's analysis on its standard input and
// output and drives a UCI engine as its child.
//
//   vez-uci-adapter [ENGINE [ARGUMENT...]]
//
// ENGINE defaults to stockfish, looked up on PATH and then in /usr/games. The environment
// variable VEZ_ENGINE_TIME_SCALE (a decimal factor, default 1) scales every search's time.
// Exit status: 0 after "quit" or the end of the input, 1 when the engine cannot run or ends.

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include "engine/child_process.h"
#include "engine/engine_settings.h"
#include "engine/line_queue.h"
#include "store/messages.h"
#include "uci_adapter.h"

namespace {

using namespace vez;

// Everything the main loop reacts to, in the order it happened.
struct Event {
    enum Kind { Command, EngineOutput, InputEnded, EngineEnded } kind;
    std::string text;
};

class Inbox {
public:
    void push(Event event)
    {
        std::lock_guard lock(m_lock);
        m_events.push_back(std::move(event));
        m_signal.notify_one();
    }
    Event pop()
    {
        std::unique_lock lock(m_lock);
        m_signal.wait(lock, [this] { return !m_events.empty(); });
        Event event = std::move(m_events.front());
        m_events.pop_front();
        return event;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_signal;
    std::deque<Event> m_events;
};

void writeOut(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

class OutputMessages : public UserMessages {
public:
    void showMessage(const std::string& text) override { writeOut("ERROR: " + text + "\n"); }
};

std::atomic<pid_t> enginePid{-1};

// SIGINT, SIGTERM and SIGHUP end the adapter, and the engine with it.
void watchSignals(sigset_t signals)
{
    std::thread([signals] {
        int signal = 0;
        while (sigwait(&signals, &signal) != 0) {
        }
        if (const pid_t pid = enginePid.load(); pid > 0)
            ::kill(-pid, SIGKILL);
        std::_Exit(128 + signal);
    }).detach();
}

// Complete lines of the engine's standard output become events; the partial lines that the
// reader posts ahead of them are skipped, since the whole line follows.
void forwardEngineOutput(LineQueue* queue, Inbox& inbox)
{
    std::thread([queue, &inbox] {
        std::string line;
        while (queue->GetLine(line)) {
            if (line.ends_with('\n'))
                inbox.push({Event::EngineOutput, line});
        }
        LineQueue::releaseByConsumer(queue);
        inbox.push({Event::EngineEnded, {}});
    }).detach();
}

void forwardEngineErrors(LineQueue* queue)
{
    std::thread([queue] {
        std::string line;
        while (queue->GetLine(line)) {
            if (line.ends_with('\n'))
                std::fputs(line.c_str(), stderr);
        }
        LineQueue::releaseByConsumer(queue);
    }).detach();
}

void readCommands(Inbox& inbox)
{
    std::thread([&inbox] {
        std::string line;
        while (std::getline(std::cin, line))
            inbox.push({Event::Command, line});
        inbox.push({Event::InputEnded, {}});
    }).detach();
}

std::string enginePath(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    if (const auto found = findOnPath(name))
        return *found;
    const std::string games = "/usr/games/" + name;
    return ::access(games.c_str(), X_OK) == 0 ? games : name;
}

std::string commandLine(int argc, char** argv, const std::string& name)
{
    std::string line = "\"" + name + "\"";
    for (int i = 2; i < argc; ++i)
        line += std::string(" \"") + argv[i] + "\"";
    return line;
}

double timeScale()
{
    const char* text = std::getenv("VEZ_ENGINE_TIME_SCALE");
    const double scale = text ? readDecimal(text) : 1.0;
    return scale > 0 ? scale : 1.0;
}

// Waits for the engine's answer to a handshake command; false when the engine ended.
bool awaitEngine(Inbox& inbox, std::string_view answer)
{
    for (;;) {
        const Event event = inbox.pop();
        if (event.kind == Event::EngineEnded)
            return false;
        if (event.kind == Event::EngineOutput && event.text.starts_with(answer))
            return true;
    }
}

[[noreturn]] void finish(int status)
{
    std::fflush(stdout);
    std::_Exit(status);
}

} // namespace

int main(int argc, char** argv)
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    watchSignals(signals);

    const std::string name = argc > 1 ? argv[1] : "stockfish";
    const std::string path = enginePath(name);
    OutputMessages messages;
    ChildProcess engine(messages);
    if (!engine.Start(path, commandLine(argc, argv, name), true))
        finish(1);
    enginePid.store(engine.processId());

    Inbox inbox;
    auto* output = new LineQueue;
    auto* errors = new LineQueue;
    engine.StartReaders(output, errors);
    forwardEngineOutput(output, inbox);
    forwardEngineErrors(errors);

    engine.Write("uci\n");
    const bool ready = awaitEngine(inbox, "uciok") && (engine.Write("isready\n"), true) &&
                       awaitEngine(inbox, "readyok");
    if (!ready) {
        writeOut("ERROR: " + path + " does not speak UCI\n");
        finish(1);
    }

    UciAdapter adapter(
        writeOut, [&engine](std::string_view text) { engine.Write(text); }, timeScale());
    readCommands(inbox);
    adapter.begin();
    for (;;) {
        const Event event = inbox.pop();
        if (event.kind == Event::EngineEnded) {
            writeOut("\nERROR: the engine has ended\n");
            finish(1);
        }
        if (event.kind == Event::EngineOutput) {
            adapter.engineLine(event.text);
            continue;
        }
        if (!adapter.command(event.kind == Event::Command ? event.text : "quit"))
            break;
    }
    // The engine was told to quit; it ends once it has stopped searching.
    engine.Wait();
    finish(0);
}
