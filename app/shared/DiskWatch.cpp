// The free-space check of the station's folder.

#include "DiskWatch.h"

#include "AlarmJournal.h"

#include <utility>
#include <QStorageInfo>

std::optional<QString> DiskWarningText(const DiskSpace& space)
{
    constexpr int64_t kFloor = int64_t(1) << 30; // 1 GB
    if (space.total <= 0)
        return std::nullopt;
    const bool low = space.available < kFloor || space.available * 10 < space.total;
    if (!low)
        return std::nullopt;
    const double gb = double(space.available) / double(kFloor);
    const int percent = int(space.available * 100 / space.total);
    return QStringLiteral("  ディスクの空きが少なくなっています：残り %1 GB（%2％）")
        .arg(QString::number(gb, 'f', 1))
        .arg(percent);
}

DiskWatch::DiskWatch(QString workDir, AlarmJournal& journal, QObject* parent)
    : QObject(parent)
    , m_workDir(std::move(workDir))
    , m_journal(journal)
{
    m_probe = [this]() -> std::optional<DiskSpace> {
        QStorageInfo info(m_workDir);
        if (!info.isValid() || !info.isReady())
            return std::nullopt;
        return DiskSpace{info.bytesAvailable(), info.bytesTotal()};
    };
    m_timer.setInterval(PeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &DiskWatch::check);
}

void DiskWatch::check()
{
    const auto space = m_probe();
    const auto text = space ? DiskWarningText(*space) : std::nullopt;
    if (!text) {
        if (std::exchange(m_low, false))
            emit warning(QString());
        return;
    }
    if (!m_low)
        m_journal.Record(JournalEvent::DiskLow, -1, QString(), text->trimmed());
    m_low = true;
    emit warning(*text);
}
