#include "engine/engine_listener.h"

#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "engine/child_process.h"
#include "engine/line_queue.h"

namespace vez {

// One listener thread's record, freed by the thread when it ends. Its link to the dialogue
// and the dialogue's link to it are guarded by listenerLinks().
struct EngineListener {
    EngineDialogue* dialogue = nullptr;
    std::shared_ptr<EngineReceiver> receiver;
    LineQueue* queue = nullptr;
    int stream = 0;
};

namespace {

std::mutex& listenerLinks()
{
    static std::mutex lock;
    return lock;
}

} // namespace

void runEngineListener(EngineListener* listener)
{
    const std::shared_ptr<EngineReceiver>& receiver = listener->receiver;
    std::string line;
    for (;;) {
        ParsedLine parsed;
        {
            std::lock_guard lock(listenerLinks());
            if (!listener->dialogue || listener->dialogue->stopping())
                break;
        }
        if (!listener->queue->GetLine(line))
            break;
        {
            // Parsing under the link lock keeps a detaching owner from freeing the dialogue
            // meanwhile; the receiver is called outside it, since the owner may be detaching.
            std::lock_guard lock(listenerLinks());
            if (!listener->dialogue)
                break;
            parsed = listener->dialogue->ParseEngineLine(line, listener->stream);
        }
        if (parsed.sound != EngineSound::None)
            receiver->engineSound(parsed.sound);
        if (parsed.send)
            receiver->engineRecord(parsed.record);
    }
    bool sendStop = false;
    {
        std::lock_guard lock(listenerLinks());
        if (EngineDialogue* dialogue = listener->dialogue) {
            dialogue->m_listeners[listener->stream] = nullptr;
            sendStop = dialogue->beginStopping();
            listener->dialogue = nullptr;
        }
    }
    if (sendStop)
        receiver->engineStop();
    LineQueue::releaseByConsumer(listener->queue);
    delete listener;
}

EngineDialogue::~EngineDialogue() { detachListeners(); }

void EngineDialogue::startListeners(ChildProcess& engine, std::shared_ptr<EngineReceiver> receiver)
{
    LineQueue* queues[2] = {new LineQueue, new LineQueue};
    EngineListener* listeners[2];
    {
        std::lock_guard lock(listenerLinks());
        for (int stream = 0; stream < 2; ++stream) {
            listeners[stream] = new EngineListener{this, receiver, queues[stream], stream};
            m_listeners[stream] = listeners[stream];
        }
    }
    engine.StartReaders(queues[0], queues[1]);
    for (EngineListener* listener : listeners) {
        try {
            std::thread(runEngineListener, listener).detach();
        } catch (const std::system_error&) {
            {
                std::lock_guard lock(listenerLinks());
                m_listeners[listener->stream] = nullptr;
            }
            LineQueue::releaseByConsumer(listener->queue);
            delete listener;
        }
    }
}

void EngineDialogue::detachListeners()
{
    std::lock_guard lock(listenerLinks());
    for (EngineListener*& listener : m_listeners) {
        if (listener) {
            listener->dialogue = nullptr;
            listener = nullptr;
        }
    }
}

bool EngineDialogue::hasListeners() const
{
    std::lock_guard lock(listenerLinks());
    return m_listeners[0] || m_listeners[1];
}

} // namespace vez
