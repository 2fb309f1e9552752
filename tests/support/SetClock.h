#pragma once
// Test time: a clock that moves only when the test says so.

#include "platform/Clock.h"

// A clock that stands still until told otherwise. Moving it on is time passing; setting it, or
// moving it back, is the clock being set, as an operator would.
class SetClock : public Clock {
public:
    explicit SetClock(QDateTime t = QDateTime(QDate(2026, 1, 1), QTime(0, 0))) : m_now(t) {}
    QDateTime now() const override { return m_now; }
    qint64 elapsedMs() const override { return m_elapsedMs; }
    void set(const QDateTime& t) { m_now = t; }
    void advance(qint64 seconds) { advanceMs(seconds * 1000); }
    void advanceMs(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        if (ms > 0)
            m_elapsedMs += ms;
    }

private:
    QDateTime m_now;
    qint64 m_elapsedMs = 0;
};
