// Child processes on pipes: lines cut by the reader threads, queues that end exactly once,
// start failures, and stopping a whole process group.
#include "engine/child_process.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "engine/line_queue.h"
#include "support/child_scripts.h"

namespace vez {
namespace {

using test::CapturedMessages;
using test::eventually;
using test::processEnded;
using test::ScriptFolder;

// Counts its own destruction, which happens on whichever thread lets go last.
struct CountedQueue : LineQueue {
    explicit CountedQueue(std::atomic<int>& destroyed) : destroyed(destroyed) {}
    ~CountedQueue() override { ++destroyed; }
    std::atomic<int>& destroyed;
};

// Takes every line until the queue finishes, then lets go of it; the lines, each ended by "|".
std::string drain(LineQueue* queue)
{
    std::string lines;
    for (std::string line; queue->GetLine(line);)
        lines += line + "|";
    LineQueue::releaseByConsumer(queue);
    return lines;
}

class ChildProcessTest : public ::testing::Test {
protected:
    ScriptFolder folder;
    CapturedMessages messages;
    ChildProcess child{messages};
};

TEST_F(ChildProcessTest, OutputEndsBothQueuesAfterTheirLastLines)
{
    // Two lines in one write come out as two lines and nothing else; the script runs in
    // its own folder, and a carriage return stays in its line.
    const std::string script =
        folder.script("both", "printf 'a\\nb\\n'; pwd; printf 'x\\r\\n' >&2; echo y >&2");
    ASSERT_TRUE(child.Start(script, "both", true));
    auto* output = new LineQueue;
    auto* errors = new LineQueue;
    child.StartReaders(output, errors);
    EXPECT_EQ(drain(output), "a\n|b\n|" + folder.path().string() + "\n|");
    EXPECT_EQ(drain(errors), "x\r\n|y\n|");
    child.Wait();
    // The child has ended and closed its input: writing to it neither raises SIGPIPE nor
    // blocks, and readers asked for now get an empty, finished queue.
    child.Write("more\n");
    child.Close();
    EXPECT_FALSE(child.IsRunning());
    auto* late = new LineQueue;
    child.StartReaders(late, nullptr);
    EXPECT_EQ(drain(late), "");
}

TEST_F(ChildProcessTest, QueueIsDestroyedOnceByWhicheverSideLetsGoLast)
{
    std::atomic<int> destroyed{0};
    // The consumer lets go first: the reader destroys the queue when the child ends.
    const std::string waits = folder.script("waits", "echo ready; read x; echo late");
    ASSERT_TRUE(child.Start(waits, "waits", true));
    auto* abandoned = new CountedQueue(destroyed);
    child.StartReaders(abandoned, nullptr);
    std::string line;
    ASSERT_TRUE(abandoned->GetLine(line));
    LineQueue::releaseByConsumer(abandoned);
    EXPECT_EQ(destroyed, 0);
    child.Write("\n");
    EXPECT_TRUE(eventually([&] { return destroyed == 1; }));

    // The producer lets go first: the consumer destroys the finished queue.
    const std::string quick = folder.script("quick", "echo done");
    ASSERT_TRUE(child.Start(quick, "quick", true));
    auto* finished = new CountedQueue(destroyed);
    child.StartReaders(finished, nullptr);
    child.Wait();
    while (finished->GetLine(line)) {
    }
    EXPECT_EQ(destroyed, 1);
    LineQueue::releaseByConsumer(finished);
    EXPECT_EQ(destroyed, 2);
}

TEST_F(ChildProcessTest, ProgramThatCannotRunIsReportedAndLeavesTheObjectIdle)
{
    const std::string missing = (folder.path() / "no-such-program").string();
    const std::string notExecutable = (folder.path() / "plain.txt").string();
    std::ofstream(notExecutable) << "just text\n";
    for (const std::string& path : {missing, notExecutable}) {
        EXPECT_FALSE(child.Start(path, "x", true));
        EXPECT_EQ(std::pair(child.IsRunning(), child.processId()), std::pair(false, -1));
    }
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{missing + ": could not execute",
                                                          notExecutable + ": could not execute"}));
    // A later start works, without redirection too; the words of the command line are the
    // program's arguments, quotes grouping them.
    const std::string args = folder.script("args", "printf '%s|' \"$@\" > \"$(pwd)/args.out\"");
    ASSERT_TRUE(child.Start(args, "args one \"two words\"", false));
    child.Wait();
    EXPECT_FALSE(child.IsRunning());
    std::string written;
    std::getline(std::ifstream(folder.path() / "args.out"), written);
    EXPECT_EQ(written, "one|two words|");
}

// Both the script and the program it waits for are in the child's group; the script
// ignores the interrupt and is terminated after a grace.
TEST_F(ChildProcessTest, KillStopsTheWholeGroupEvenWhenItIgnoresTheInterrupt)
{
    const std::string script =
        folder.script("stubborn", "trap '' INT; sleep 30 & echo $!; echo $$; wait");
    ASSERT_TRUE(child.Start(script, "stubborn", true));
    auto* output = new LineQueue;
    child.StartReaders(output, nullptr);
    std::string background, shell;
    ASSERT_TRUE(output->GetLine(background));
    ASSERT_TRUE(output->GetLine(shell));
    EXPECT_EQ(std::stoi(shell), child.processId());
    child.Kill();
    EXPECT_FALSE(child.IsRunning());
    EXPECT_TRUE(eventually([&] { return processEnded(std::stoi(shell)); }));
    EXPECT_TRUE(eventually([&] { return processEnded(std::stoi(background)); }));
    drain(output);
}

} // namespace
} // namespace vez
