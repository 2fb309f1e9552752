#pragma once
// "Let pending window events run": the one place the station yields inside a handler.

#include <QCoreApplication>

namespace EventPump {
inline void run()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}
} // namespace EventPump

// Marks a handler as running, so a timer that fires while it yields does not enter it again.
class ReentryGuard {
public:
    explicit ReentryGuard(bool& busy) : m_busy(busy), m_entered(!busy)
    {
        if (m_entered)
            m_busy = true;
    }
    ~ReentryGuard()
    {
        if (m_entered)
            m_busy = false;
    }
    ReentryGuard(const ReentryGuard&) = delete;
    ReentryGuard& operator=(const ReentryGuard&) = delete;
    bool entered() const { return m_entered; }

private:
    bool& m_busy;
    bool m_entered;
};

namespace EventPump {
// Lets events run until done() holds. Sleeps between events instead of spinning; done() must
// become true through an event (a queued reply, a timer), so give it a timer when nothing else
// will. Works inside any nested loop, and still runs after the application was told to quit.
template <class Done> void waitUntil(Done done)
{
    while (!done()) {
        if (!QCoreApplication::instance())
            return;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}
} // namespace EventPump
