// The event another thread posts to wake an object on the document's thread. Qt hands
// the event over under its own lock, which ThreadSanitizer cannot see in an uninstrumented
// Qt; the event therefore says so itself: published by the poster, acquired by the reader.
#pragma once

#include <QCoreApplication>
#include <QEvent>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace vez {

inline void postWakeEvent(QObject* receiver)
{
    auto* event = new QEvent(QEvent::User);
#if defined(__SANITIZE_THREAD__)
    __tsan_release(event);
#endif
    QCoreApplication::postEvent(receiver, event);
}

// True for a wake-up event, taken over by the receiving thread.
inline bool receiveWakeEvent(QEvent* event)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(event);
#endif
    return event->type() == QEvent::User;
}

} // namespace vez
