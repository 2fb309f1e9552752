#pragma once
// Runs a blocking call on a worker thread while the UI thread lets events run, as the
// station's windows do wherever they wait for a unit.

#include "EventPump.h"

#include <QCoreApplication>
#include <atomic>
#include <thread>

template <class Call> auto RunWaiting(Call call) -> decltype(call())
{
    std::atomic<bool> done{false};
    decltype(call()) result{};
    std::thread worker([&] {
        result = call();
        done = true;
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] {}, Qt::QueuedConnection); // wakes the wait
    });
    EventPump::waitUntil([&] { return done.load(); });
    worker.join();
    return result;
}
