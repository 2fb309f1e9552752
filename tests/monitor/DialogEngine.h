#pragma once
// The poll engine behind a dialog under test, and a wait for the dialog's exchanges.

#include "FakeLink.h"
#include "FakeTransfer.h"
#include "Forwarding.h"
#include "outside/InternetTransfer.h"
#include "outside/PollEngine.h"
#include "outside/VARNIX.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QThread>
#include <QWidget>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

// Every lane talks to the test's one scripted link and transfer, one call at a time, on one
// lane, so the link's log keeps the exchanges in order.
struct ScriptedEngine {
    std::mutex mutex;
    PollEngine engine;
    ScriptedEngine(DeviceLink& link, InternetTransfer& transfer)
        : engine([&] { return std::make_unique<ForwardingLink>(link, mutex); },
                 [&] { return std::make_unique<ForwardingTransfer>(transfer, mutex); }, 1)
    {
    }
};

// Real links and transfers, a lane per unit or URL, as in the program.
inline std::unique_ptr<PollEngine> RealEngine()
{
    return std::make_unique<PollEngine>([] { return std::make_unique<VARNIX>(); },
                                        [] { return std::make_unique<CurlTransfer>(); });
}

// Lets events run until done() holds; false when it still does not after a generous while, so
// a broken test fails instead of hanging.
template <class Done> bool Settle(Done done)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > 20000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QThread::msleep(2);
    }
    return true;
}

// The operator's Escape on a dialog.
inline void PressEscape(QWidget& w)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(&w, &press);
}

// A scripted link that holds every pin-direction call until the test opens its gate (or a long
// while has passed, so nothing waits for ever).
class GatedLink : public FakeLink {
public:
    void SetDirp(int32_t port, int16_t pin, int32_t d) override
    {
        wait();
        FakeLink::SetDirp(port, pin, d);
    }
    int16_t GetDirp(int32_t port, int16_t pin) override
    {
        wait();
        return FakeLink::GetDirp(port, pin);
    }
    void hold()
    {
        std::lock_guard lock(m_mutex);
        m_open = false;
    }
    void open()
    {
        {
            std::lock_guard lock(m_mutex);
            m_open = true;
        }
        m_cv.notify_all();
    }

protected:
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(20), [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};
