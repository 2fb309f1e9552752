// The trend window's series, read and reduced from the data logs.

#include "TrendModel.h"

#include "DataFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <map>

QString TrendModel::ChannelName(int channel)
{
    if (channel >= DataLog::RA0 && channel < DataLog::RB0)
        return QStringLiteral("RA%1").arg(channel);
    if (channel >= DataLog::RB0 && channel < DataLog::Temperature)
        return QStringLiteral("RB%1").arg(channel - DataLog::RB0);
    return QStringLiteral("温度(℃)");
}

qint64 TrendModel::toMs(DataLog::Seconds s)
{
    return DataLog::fromSeconds(s).toMSecsSinceEpoch();
}

void TrendModel::setSeries(std::vector<TrendSeries> series)
{
    m_series = std::move(series);
    m_ranges.clear();
}

void TrendModel::load(DataLog::Seconds from, DataLog::Seconds to, int columns, DataLog::Seconds now)
{
    m_now = now;
    m_from = from;
    m_to = to;
    m_columns = std::max(columns, 1);
    m_ranges.clear();
    for (const TrendSeries& s : m_series)
        if (!m_ranges.count(s.unit))
            m_ranges[s.unit] = DataLog::ReadUnit(m_workDir, s.unit, from, to, m_columns, now);
    m_journalSize = -1;
    readQuiet();
    rebuildPoints();
}

void TrendModel::readQuiet()
{
    const QString path = QDir(m_workDir).filePath(AlarmJournal::FileName);
    const QFileInfo info(path);
    const qint64 size = info.isFile() ? info.size() : 0;
    if (size == m_journalSize)
        return;
    m_journalSize = size;
    std::vector<int> units;
    for (const TrendSeries& s : m_series)
        units.push_back(s.unit);
    m_quiet = QuietPeriods(size > 0 ? AlarmJournal::Read(path) : std::vector<JournalEntry>{}, units, m_from, m_to);
}

std::vector<QuietPeriod> TrendModel::QuietPeriods(const std::vector<JournalEntry>& journal,
                                                  const std::vector<int>& units, DataLog::Seconds from,
                                                  DataLog::Seconds to)
{
    const QString stopped = AlarmJournal::EventWord(JournalEvent::Stopped);
    const QString started = AlarmJournal::EventWord(JournalEvent::Started);
    const QString givenUp = AlarmJournal::EventWord(JournalEvent::GivenUp);
    const QString answering = AlarmJournal::EventWord(JournalEvent::Answering);
    std::vector<QuietPeriod> out;
    std::optional<DataLog::Seconds> stopStart;
    std::map<int, DataLog::Seconds> downSince;
    const auto end = [&](DataLog::Seconds a, DataLog::Seconds b) {
        if (b >= from && a <= to)
            out.push_back({a, b});
    };
    for (const JournalEntry& e : journal) {
        const DataLog::Seconds t = DataLog::toSeconds(e.time);
        if (e.unit < 0) {
            if (e.event == stopped && !stopStart) {
                stopStart = t;
                for (const auto& [unit, since] : downSince) // a stop ends every failure episode
                    end(since, t);
                downSince.clear();
            } else if (e.event == started && stopStart) {
                end(*stopStart, t);
                stopStart.reset();
            }
        } else if (std::find(units.begin(), units.end(), e.unit) != units.end()) {
            if (e.event == givenUp)
                downSince.emplace(e.unit, t);
            else if (e.event == answering && downSince.count(e.unit)) {
                end(downSince[e.unit], t);
                downSince.erase(e.unit);
            }
        }
    }
    if (stopStart)
        end(*stopStart, QuietPeriod::Open);
    for (const auto& [unit, since] : downSince)
        end(since, QuietPeriod::Open);
    std::sort(out.begin(), out.end(), [](const QuietPeriod& a, const QuietPeriod& b) { return a.from < b.from; });
    std::vector<QuietPeriod> merged;
    for (const QuietPeriod& p : out) {
        if (!merged.empty() && p.from <= merged.back().to)
            merged.back().to = std::max(merged.back().to, p.to);
        else
            merged.push_back(p);
    }
    return merged;
}

void TrendModel::follow(DataLog::Seconds now)
{
    m_now = now;
    for (auto& [unit, range] : m_ranges)
        DataLog::ReadUnitMore(m_workDir, unit, range, now, now);
    if (!m_ranges.empty()) {
        m_from = m_ranges.begin()->second.from;
        m_to = now;
    }
    readQuiet();
    rebuildPoints();
}

int64_t TrendModel::lines() const
{
    int64_t n = 0;
    for (const auto& [unit, range] : m_ranges)
        n += range.lines;
    return n;
}

int64_t TrendModel::skipped() const
{
    int64_t n = 0;
    for (const auto& [unit, range] : m_ranges)
        n += range.skipped;
    return n;
}

void TrendModel::rebuildPoints()
{
    if (m_ranges.empty())
        return;
    // One conversion for the whole range: the log's seconds and the chart's milliseconds differ
    // by the zone's offset, which is the same across it.
    const qint64 offsetMs = toMs(m_from) - m_from * 1000;
    for (TrendSeries& s : m_series) {
        s.points.clear();
        const auto it = m_ranges.find(s.unit);
        if (it == m_ranges.end())
            continue;
        const int c = s.channel;
        // Pins are stacked so eight step lines stay apart: pin p runs between 2p and 2p + 1.
        const double base = s.pin() ? 2.0 * (c - DataLog::RB0) : 0.0;
        s.points.reserve(int(it->second.buckets.size()) * 2 + 2);
        s.breaks.clear();
        double previous = 0;
        bool first = true;
        DataLog::Seconds before = 0;
        for (const DataLog::Bucket& b : it->second.buckets) {
            const double x = double(b.start * 1000 + offsetMs);
            // A bucket with no line between two that have one is a gap, drawn as one.
            if (!first && b.start - before > it->second.width) {
                s.breaks.append(int(s.points.size()));
                first = true;
            }
            before = b.start;
            if (s.pin()) {
                // A step: the level held until the bucket, then what the bucket saw, ending on its last level.
                if (!first)
                    s.points.append(QPointF(x, base + previous));
                if (b.min[c] != b.max[c]) {
                    s.points.append(QPointF(x, base + (b.last[c] == b.max[c] ? b.min[c] : b.max[c])));
                    s.points.append(QPointF(x, base + b.last[c]));
                } else {
                    s.points.append(QPointF(x, base + b.last[c]));
                }
                previous = b.last[c];
            } else {
                s.points.append(QPointF(x, b.min[c]));
                if (b.max[c] != b.min[c])
                    s.points.append(QPointF(x, b.max[c]));
            }
            first = false;
        }
    }
}

QString TrendModel::csv(int maxLines, bool* truncated) const
{
    QString out = QStringLiteral("日時,No.,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,温度\r\n");
    QSet<int> units;
    int left = maxLines;
    bool cut = false;
    for (const TrendSeries& s : m_series) {
        if (units.contains(s.unit))
            continue;
        units.insert(s.unit);
        const QStringList lines = DataLog::RawUnitLines(m_workDir, s.unit, m_from, m_to, left + 1, m_now);
        cut = cut || lines.size() > left;
        const QString number = QStringLiteral("%1").arg(s.unit, 3, 10, QLatin1Char('0'));
        const int taken = int(std::min<qsizetype>(lines.size(), left));
        for (int i = 0; i < taken; ++i)
            out += lines[i].left(19) + u',' + number + QString(lines[i].mid(19)).remove(u' ') + QStringLiteral("\r\n");
        left -= taken;
    }
    if (truncated)
        *truncated = cut;
    return out;
}
