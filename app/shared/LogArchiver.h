#pragma once
// Keeps the data logs as LogInf.ini says: with archiving on, the log gate renames a unit's log at
// the turn of a month and a worker thread of low priority turns the renamed logs into monthly
// archives and deletes archives past their months. The tick never waits for it; a fault goes to
// the journal (once while it lasts) and the log waits for the next pass, so nothing is lost.

#include "shared/LogInf.h"

#include <QObject>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class AlarmJournal;
class Clock;
class DataLogGate;

class LogArchiver : public QObject {
    Q_OBJECT
public:
    LogArchiver(QString workDir, DataLogGate& gate, AlarmJournal& journal, const Clock& clock,
                QObject* parent = nullptr);
    ~LogArchiver() override;

    // Reads LogInf.ini and applies it: the gate renames or not, the worker runs or stops. The
    // file's fault is returned (the defaults then hold: nothing is moved).
    Outcome start();
    const LogSettings& settings() const { return m_inf.settings; }
    // Wakes the worker for logs renamed since and for the archives' age.
    void kick();

signals:
    // A pass of the worker has ended.
    void passDone();

private:
    void stopWorker();
    void run();
    void passEnded(const QStringList& faults);

    QString m_workDir;
    DataLogGate& m_gate;
    AlarmJournal& m_journal;
    const Clock& m_clock;
    LogInf m_inf;
    QTimer m_hourly;
    QStringList m_faultsShown;

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_woken = false;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_nowMonth{0};
    std::atomic<int> m_keepMonths{0};
};
