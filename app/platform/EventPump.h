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
    explicit ReentryGuard(bool& busy) : m_busy(busy), m_entered(!busy) { if (m_entered) m_busy = true; }
    ~ReentryGuard() { if (m_entered) m_busy = false; }
    ReentryGuard(const ReentryGuard&) = delete;
    ReentryGuard& operator=(const ReentryGuard&) = delete;
    bool entered() const { return m_entered; }

private:
    bool& m_busy;
    bool m_entered;
};
