// The hand-over of an engine's output lines from the thread that reads its pipe to the
// thread that consumes them.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace vez {

// Shared by exactly one producer (a pipe reader) and one consumer. Whichever side lets go
// last destroys the queue: the producer through releaseByProducer, the consumer through
// releaseByConsumer. Queues are therefore always made with new and never deleted by hand.
class LineQueue {
public:
    LineQueue() = default;
    LineQueue(const LineQueue&) = delete;
    LineQueue& operator=(const LineQueue&) = delete;

    // Appends a line and wakes the consumer.
    void Post(std::string line);
    // Marks the producer's last line delivered and wakes the consumer.
    void Finish();
    bool IsEmpty() const;
    // Removes the head line into line. Waits while the queue is empty and not finished;
    // false once it is empty and finished.
    bool GetLine(std::string& line);
    // Whether the consumer has stopped reading.
    bool IsAbandoned() const;

    // The producer is done: destroys the queue when the consumer has already abandoned it,
    // otherwise finishes it.
    static void releaseByProducer(LineQueue* queue);
    // The consumer is done: destroys the queue when the producer has already finished it,
    // otherwise marks it abandoned.
    static void releaseByConsumer(LineQueue* queue);

protected:
    // Protected and virtual so that tests can observe the single destruction.
    virtual ~LineQueue() = default;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_signal;
    bool m_finished = false;
    bool m_abandoned = false;
    std::deque<std::string> m_lines;
};

} // namespace vez
