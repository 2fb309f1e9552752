// The archive worker: one thread at low priority, woken by the gate's renames and every hour.

#include "shared/LogArchiver.h"

#include "shared/AlarmJournal.h"
#include "platform/Clock.h"
#include "shared/DataLogGate.h"
#include "shared/LogArchive.h"

#include <sys/resource.h>
#include <unistd.h>

LogArchiver::LogArchiver(QString workDir, DataLogGate& gate, AlarmJournal& journal, const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_workDir(std::move(workDir))
    , m_gate(gate)
    , m_journal(journal)
    , m_clock(clock)
    , m_inf(m_workDir)
{
    m_hourly.setInterval(60 * 60 * 1000);
    connect(&m_hourly, &QTimer::timeout, this, &LogArchiver::kick);
}

LogArchiver::~LogArchiver()
{
    stopWorker();
}

Outcome LogArchiver::start()
{
    const Outcome loaded = m_inf.load();
    const bool on = m_inf.settings.Archive == 1;
    m_gate.setArchiving(on, [this] { kick(); });
    if (!on) {
        stopWorker();
        m_hourly.stop();
    } else {
        m_keepMonths = m_inf.settings.KeepMonths;
        if (!m_thread.joinable()) {
            m_stop = false;
            m_thread = std::thread([this] { run(); });
        }
        m_hourly.start();
        kick(); // a pass at start finishes what a power cut left, and checks it
    }
    return loaded.fault == Fault::NotLoaded ? Outcome{} : loaded;
}

void LogArchiver::kick()
{
    const QDate today = m_clock.now().date();
    m_nowMonth = today.year() * 100 + today.month();
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_wake.notify_one();
}

void LogArchiver::stopWorker()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_thread.join(); // the archive being written is given up between two steps, and done again later
}

void LogArchiver::run()
{
    // Compressing is the station's least urgent work: the ticks and the polls come first.
    setpriority(PRIO_PROCESS, pid_t(gettid()), 10);
    LogArchive::RemoveTemporaries(m_workDir);
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_woken || m_stop; });
            if (m_stop)
                return;
            m_woken = false;
        }
        QStringList faults;
        for (const QString& log : LogArchive::FindPending(m_workDir)) {
            if (m_stop)
                return;
            const Outcome done = LogArchive::ArchiveLog(log, &m_stop);
            if (!done && done.fault != Fault::Cancelled)
                faults << done.detail;
        }
        LogArchive::DeleteExpired(m_workDir, m_keepMonths, m_nowMonth);
        QMetaObject::invokeMethod(
            this, [this, faults] { passEnded(faults); }, Qt::QueuedConnection);
    }
}

void LogArchiver::passEnded(const QStringList& faults)
{
    // A fault that stays is journalled once, not every hour.
    for (const QString& fault : faults)
        if (!m_faultsShown.contains(fault))
            m_journal.Record(JournalEvent::ArchiveFailed, -1, QString(), fault);
    m_faultsShown = faults;
    emit passDone();
}
