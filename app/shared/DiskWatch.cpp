// The free-space check of the station's folder.

#include "shared/DiskWatch.h"

#include "shared/AlarmJournal.h"

#include <QElapsedTimer>
#include <memory>
#include <utility>
#include <QStorageInfo>

std::optional<QString> DiskWarningText(const DiskSpace& space, std::optional<double> daysLeft)
{
    constexpr int64_t kFloor = int64_t(1) << 30; // 1 GB
    if (space.total <= 0)
        return std::nullopt;
    const bool low = space.available < kFloor || space.available * 10 < space.total;
    if (!low)
        return std::nullopt;
    const double gb = double(space.available) / double(kFloor);
    const int percent = int(space.available * 100 / space.total);
    QString text = QStringLiteral("  ディスクの空きが少なくなっています：残り %1 GB（%2％）")
                       .arg(QString::number(gb, 'f', 1))
                       .arg(percent);
    if (daysLeft)
        text += *daysLeft < 1.0 ? QStringLiteral("、今の書き込みでは 1 日もちません")
                                : QStringLiteral("、今の書き込みではあと約 %1 日で一杯です").arg(int(*daysLeft));
    return text;
}

void FillRate::add(int64_t elapsedMs, int64_t available)
{
    constexpr int64_t keepMs = 6LL * 3600 * 1000;
    m_samples.push_back({elapsedMs, available});
    while (m_samples.size() > 2 && m_samples.front().ms < elapsedMs - keepMs)
        m_samples.pop_front();
}

std::optional<double> FillRate::daysLeft() const
{
    constexpr int64_t leastMs = 10LL * 60 * 1000;
    if (m_samples.size() < 2)
        return std::nullopt;
    const Sample& first = m_samples.front();
    const Sample& last = m_samples.back();
    const int64_t span = last.ms - first.ms;
    const int64_t used = first.available - last.available;
    if (span < leastMs || used <= 0) // an archive pass or a clean-up gave room back: no forecast
        return std::nullopt;
    const double perDay = double(used) / double(span) * 86400000.0;
    return double(last.available) / perDay;
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
    auto since = std::make_shared<QElapsedTimer>();
    since->start();
    m_elapsed = [since] { return since->elapsed(); };
    m_timer.setInterval(PeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &DiskWatch::check);
}

void DiskWatch::check()
{
    const auto space = m_probe();
    if (space)
        m_rate.add(m_elapsed(), space->available);
    const auto text = space ? DiskWarningText(*space, m_rate.daysLeft()) : std::nullopt;
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
