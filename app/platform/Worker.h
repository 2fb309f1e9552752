#pragma once
// Blocking work of one owner, one piece at a time, on a thread of its own: a mail run's steps,
// a dial or a hang-up. The result comes back as a queued call on the owner's thread while the
// owner lives; the owner's destructor cancels what the work watches and joins.

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <functional>
#include <thread>
#include <utility>

class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { join(); }

    // Runs job on the worker thread; then(result) follows on owner's thread unless the owner is
    // gone. Starting a piece while one is still out waits for it: callers start the next piece
    // from the last one's result, when the thread has already ended.
    template <class Result> void run(QObject* owner, std::function<Result()> job, std::function<void(Result)> then)
    {
        join();
        m_out = true;
        QPointer<QObject> guard(owner);
        m_thread = std::thread([this, guard, job = std::move(job), then = std::move(then)]() mutable {
            Result result = job();
            if (guard)
                QMetaObject::invokeMethod(
                    guard.data(),
                    [this, guard, then = std::move(then), result = std::move(result)]() mutable {
                        if (!guard)
                            return;
                        m_out = false;
                        then(std::move(result));
                    },
                    Qt::QueuedConnection);
        });
    }
    // True from run until its result has been handed over.
    bool out() const { return m_out; }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
    bool m_out = false;
};
