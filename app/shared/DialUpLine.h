#pragma once
// The station's one dial-up line, shared by every user that needs it (the alarm mail, the
// abnormality notice, each relay slot). A user takes a lease; the first lease dials, the last
// one to end hangs up. Dialling and hanging up run on a worker thread and report back as
// queued calls, so nothing waits for the line; a hang-up under way is never re-entered.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include "platform/Worker.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class DialUpBackend;

class DialUpLine : public QObject {
    Q_OBJECT
public:
    enum class State { Down, Dialing, Up, HangingUp, Settling };
    using Done = std::function<void(int32_t rc)>;

    explicit DialUpLine(QObject* parent = nullptr);
    ~DialUpLine() override;

    // The station is closing: a dial under way is ended and whatever it brought up goes down, a
    // hang-up under way is finished, a line up is hung up; nmcli gets CloseMs for it. Returns 0,
    // or the code of a hang-up that failed. The line takes no lease afterwards.
    int32_t close();
    static constexpr int CloseMs = 5000;

    DialUpBackend* Backend = nullptr;
    int PauseMs = 3000; // the line settles this long after a hang-up or a failed dial

    // Takes a lease. done(rc) follows as a queued call while context lives: 0 when the line is
    // up, else the dial-up error code. The lease stands either way: end it with release().
    void acquire(const QString& entry, const QString& user, const QString& password, QObject* context, Done done);
    // Ends one lease; the last one hangs the line up. A release without a lease does nothing.
    void release();

    int leases() const { return m_leases; }
    State state() const { return m_state; }
    int32_t connection() const { return m_handle; }

signals:
    void stateChanged();

private:
    void dial();
    void hangUp();
    void settled();
    struct Waiter {
        QPointer<QObject> context;
        Done done;
    };
    void answer(int32_t rc);
    void answer(std::vector<Waiter>& whom, int32_t rc);

    int m_leases = 0;
    State m_state = State::Down;
    int32_t m_handle = 0;
    int32_t m_failed = 0; // a failed dial's code, answered once the line has settled
    bool m_closed = false;
    std::shared_ptr<int32_t> m_hangUpResult = std::make_shared<int32_t>(0); // of the last hang-up run
    QString m_entry, m_user, m_password;
    std::vector<Waiter> m_waiting;
    std::vector<Waiter> m_failedWaiting; // the leases the failed dial answers
    QTimer m_settle;
    Worker m_worker;
};
