#pragma once
// Test time: a clock that moves only when the test says so.

#include "Clock.h"

// A clock that stands still until told otherwise.
class SetClock : public Clock {
public:
    explicit SetClock(QDateTime t = QDateTime(QDate(2026, 1, 1), QTime(0, 0))) : m_now(t) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& t) { m_now = t; }
    void advance(qint64 seconds) { m_now = m_now.addSecs(seconds); }

private:
    QDateTime m_now;
};
