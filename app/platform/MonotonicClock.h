#pragma once
// Elapsed time for time-outs and idle limits, asked through a clock so tests can move it.

#include <chrono>

class MonotonicClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~MonotonicClock() = default;
    virtual time_point now() const = 0;
};

class SteadyClock : public MonotonicClock {
public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    static const SteadyClock& instance()
    {
        static const SteadyClock clock;
        return clock;
    }
};
