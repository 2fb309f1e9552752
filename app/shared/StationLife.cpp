#include "shared/StationLife.h"

#include "platform/Clock.h"
#include "shared/DataFiles.h"
#include "shared/DataLogReader.h"
#include "platform/DateText.h"
#include "shared/MontComm1.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The time of a log's last line: its last few hundred bytes are enough.
std::optional<QDateTime> lastLineTime(const QString& path)
{
    QFile f;
    if (!TextFile::openRegular(f, path)) // a FIFO or a device in a log's place is no sign of life
        return std::nullopt;
    const qint64 tail = 512;
    f.seek(std::max<qint64>(0, f.size() - tail));
    const QList<QByteArray> lines = f.read(tail).split('\n');
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const QByteArray line = it->endsWith('\r') ? it->chopped(1) : *it;
        if (const auto parsed = DataLog::ParseLine(line.constData(), line.constData() + line.size()))
            return DataLog::fromSeconds(parsed->time);
    }
    return std::nullopt;
}

} // namespace

StationLife::StationLife(MontComm1& comm, QObject* parent) : QObject(parent), m_comm(comm)
{
    m_heartbeat.setInterval(HeartbeatMs);
    connect(&m_heartbeat, &QTimer::timeout, this, &StationLife::beat);
}

std::optional<QDateTime> StationLife::LastSign(const QString& workDir)
{
    std::optional<QDateTime> last;
    const auto later = [&](const std::optional<QDateTime>& t) {
        if (t && (!last || *t > *last))
            last = t;
    };
    const QFileInfo heartbeat(QDir(workDir).filePath(HeartbeatFile));
    if (heartbeat.isFile())
        later(heartbeat.lastModified());
    for (int unit = 0; unit < UnitSlots; ++unit)
        later(lastLineTime(QDir(workDir).filePath(DataFiles::DataLogName(unit))));
    return last;
}

void StationLife::started()
{
    AlarmJournal& journal = m_comm.journal();
    const QString launched = AlarmJournal::EventWord(JournalEvent::Launched);
    const QString exited = AlarmJournal::EventWord(JournalEvent::Exited);
    const QString down = AlarmJournal::EventWord(JournalEvent::Down);
    std::optional<JournalEntry> lastOwn;
    for (const JournalEntry& e : AlarmJournal::Read(journal.path(), 1024 * 1024))
        if (e.unit < 0 && (e.event == launched || e.event == exited || e.event == down))
            lastOwn = e;
    if (lastOwn && lastOwn->event != exited) {
        const QDateTime now = m_comm.clock().now();
        QDateTime from = lastOwn->time;
        if (const auto sign = LastSign(m_comm.workDir()); sign && *sign > from)
            from = *sign;
        journal.Record(JournalEvent::Down, -1, QString(),
                       DateText::dataLog(from) + QStringLiteral("～") + DateText::dataLog(now));
    }
    journal.Record(JournalEvent::Launched, -1, QString());
    beat();
    m_heartbeat.start();
}

void StationLife::ended()
{
    m_heartbeat.stop();
    m_comm.journal().Record(JournalEvent::Exited, -1, QString());
}

void StationLife::beat()
{
    // Replaced whole, like the settings files: nothing in its place is written through.
    TextFile::writeWhole(m_comm.path(HeartbeatFile), DateText::dataLog(m_comm.clock().now()) + QStringLiteral("\r\n"));
}
