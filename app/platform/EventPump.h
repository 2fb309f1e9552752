#pragma once
// A guard against a handler entered again, and the wait that tests use for queued answers (the
// station itself never waits inside its work).

#include <QCoreApplication>

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
