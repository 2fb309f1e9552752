#pragma once
// The station asks the time only through a clock, so tests can set it.

#include <QDateTime>
#include <chrono>

class Clock {
public:
    virtual ~Clock() = default;
    // The wall clock, which an operator or a time service may set.
    virtual QDateTime now() const = 0;
    // Time that only flows forward, in milliseconds from an arbitrary origin: what the wall clock
    // should have moved by, so a set clock can be told from time passing.
    virtual qint64 elapsedMs() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

class SystemClock : public Clock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};
