#include "engine/line_queue.h"

#include <utility>

namespace vez {

void LineQueue::Post(std::string line)
{
    {
        std::lock_guard lock(m_lock);
        m_lines.push_back(std::move(line));
    }
    m_signal.notify_one();
}

void LineQueue::Finish()
{
    // Signalled under the lock: once the consumer sees the flag it may destroy the queue.
    std::lock_guard lock(m_lock);
    m_finished = true;
    m_signal.notify_one();
}

bool LineQueue::IsEmpty() const
{
    std::lock_guard lock(m_lock);
    return m_lines.empty();
}

bool LineQueue::GetLine(std::string& line)
{
    std::unique_lock lock(m_lock);
    // Emptiness and the finished flag are tested together under the lock, so a line posted
    // just before Finish is always delivered.
    m_signal.wait(lock, [this] { return !m_lines.empty() || m_finished; });
    if (m_lines.empty())
        return false;
    line = std::move(m_lines.front());
    m_lines.pop_front();
    return true;
}

bool LineQueue::IsAbandoned() const
{
    std::lock_guard lock(m_lock);
    return m_abandoned;
}

void LineQueue::releaseByProducer(LineQueue* queue)
{
    std::unique_lock lock(queue->m_lock);
    if (queue->m_abandoned) {
        // The consumer is gone and nobody else holds the queue: unlock before destroying.
        lock.unlock();
        delete queue;
        return;
    }
    queue->m_finished = true;
    queue->m_signal.notify_one();
}

void LineQueue::releaseByConsumer(LineQueue* queue)
{
    std::unique_lock lock(queue->m_lock);
    if (queue->m_finished) {
        lock.unlock();
        delete queue;
        return;
    }
    queue->m_abandoned = true;
}

} // namespace vez
