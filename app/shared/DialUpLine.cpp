#include "shared/DialUpLine.h"

#include "platform/DialUpBackend.h"

#include <QMetaObject>
#include <memory>
#include <utility>

DialUpLine::DialUpLine(QObject* parent) : QObject(parent)
{
    m_settle.setSingleShot(true);
    connect(&m_settle, &QTimer::timeout, this, &DialUpLine::settled);
}

DialUpLine::~DialUpLine()
{
    close();
}

int32_t DialUpLine::close()
{
    if (std::exchange(m_closed, true))
        return 0;
    // A dial is ended at once; a hang-up is left to finish, within the closing time. A line with
    // nothing under way and nothing up leaves the backend alone (it may be gone already).
    const bool dialing = m_state == State::Dialing;
    const bool hangingUp = m_state == State::HangingUp && m_worker.out();
    const bool up = m_state == State::Up && m_handle != 0;
    if (!Backend || (!dialing && !hangingUp && !up && !m_worker.out())) {
        m_worker.join();
        return 0;
    }
    if (dialing && m_worker.out()) {
        Backend->cancel();
        m_worker.join();
    }
    Backend->closing(CloseMs);
    m_worker.join();
    std::vector<int32_t> handles;
    if (up)
        handles.push_back(m_handle);
    if (dialing) { // its answer may still be queued, or the profile came up as the dial was ended
        std::vector<ActiveDialUp> up;
        Backend->active(up);
        for (const auto& a : up)
            if (a.entry == m_entry)
                handles.push_back(a.handle);
    }
    int32_t failed = hangingUp ? *m_hangUpResult : 0;
    for (int32_t handle : handles)
        if (const int32_t rc = Backend->hangUp(handle); rc != 0 && rc != DialUpError::NotConnected)
            failed = rc;
    m_state = State::Down;
    return failed;
}

void DialUpLine::acquire(const QString& entry, const QString& user, const QString& password, QObject* context,
                         Done done)
{
    if (m_closed)
        return;
    ++m_leases;
    m_waiting.push_back({QPointer<QObject>(context), std::move(done)});
    switch (m_state) {
    case State::Up:
        answer(0);
        break;
    case State::Down:
        m_entry = entry;
        m_user = user;
        m_password = password;
        dial();
        break;
    case State::Dialing:
        break; // answered with that dial
    default:
        // Hanging up or settling: dials again afterwards, with the settings of the latest lease.
        m_entry = entry;
        m_user = user;
        m_password = password;
        break;
    }
}

void DialUpLine::release()
{
    if (m_leases == 0)
        return;
    if (--m_leases == 0 && m_state == State::Up)
        hangUp();
}

void DialUpLine::dial()
{
    m_state = State::Dialing;
    emit stateChanged();
    DialUpBackend* backend = Backend;
    const QString entry = m_entry, user = m_user, password = m_password;
    auto handle = std::make_shared<int32_t>(0);
    m_worker.run<int32_t>(
        this,
        [backend, entry, user, password, handle]() -> int32_t {
            if (!backend)
                return DialUpError::ServiceUnavailable;
            if (entry.isEmpty())
                return DialUpError::EntryNotFound;
            const int32_t rc = backend->dial(entry, user, password, *handle);
            if (rc != 0 && *handle)
                backend->hangUp(*handle);
            return rc;
        },
        [this, handle](int32_t rc) {
            if (rc == 0) {
                m_handle = *handle;
                m_state = State::Up;
                emit stateChanged();
                answer(0);
                if (m_leases == 0)
                    hangUp();
                return;
            }
            // A failed dial answers its own waiters after the line has settled, as the dial-up
            // control did; leases taken while it settles dial again rather than hear an old failure.
            m_handle = 0;
            m_failed = rc;
            m_failedWaiting.swap(m_waiting);
            m_state = State::Settling;
            emit stateChanged();
            m_settle.start(PauseMs);
        });
}

void DialUpLine::hangUp()
{
    m_state = State::HangingUp;
    emit stateChanged();
    DialUpBackend* backend = Backend;
    const int32_t handle = m_handle;
    m_worker.run<int32_t>(
        this,
        [backend, handle, result = m_hangUpResult]() -> int32_t {
            return *result = backend ? backend->hangUp(handle) : 0;
        },
        [this](int32_t) {
            m_handle = 0;
            m_state = State::Settling;
            emit stateChanged();
            m_settle.start(PauseMs);
        });
}

void DialUpLine::settled()
{
    m_state = State::Down;
    if (m_failed != 0) {
        answer(m_failedWaiting, m_failed);
        m_failed = 0;
    }
    emit stateChanged();
    if (m_leases > 0 && !m_waiting.empty())
        dial(); // leases taken while the line went down
}

void DialUpLine::answer(int32_t rc)
{
    answer(m_waiting, rc);
}

void DialUpLine::answer(std::vector<Waiter>& whom, int32_t rc)
{
    std::vector<Waiter> waiting;
    waiting.swap(whom);
    for (auto& w : waiting) {
        QPointer<QObject> context = w.context;
        QMetaObject::invokeMethod(
            this,
            [context, done = std::move(w.done), rc] {
                if (context && done)
                    done(rc);
            },
            Qt::QueuedConnection);
    }
}
