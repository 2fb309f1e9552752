// The trend window's series, read and reduced from the data logs.

#include "history/TrendModel.h"

#include "shared/StationSize.h"

#include "shared/DataFiles.h"

#include "platform/TextFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <algorithm>
#include <array>
#include <climits>
#include <map>

QString TrendModel::ChannelName(int channel)
{
    if (channel >= DataLog::RA0 && channel < DataLog::RB0)
        return QStringLiteral("RA%1").arg(channel);
    if (channel >= DataLog::RB0 && channel < DataLog::Temperature)
        return QStringLiteral("RB%1").arg(channel - DataLog::RB0);
    return QStringLiteral("温度(℃)");
}

QString TrendSeries::axisTitle() const
{
    if (channel == DataLog::Temperature)
        return TrendModel::ChannelName(channel);
    if (!line)
        return QStringLiteral("RA");
    return line->unitText.isEmpty() ? QStringLiteral("工学値") : line->unitText;
}

QString TrendSeries::valueText(double v) const
{
    if (pin())
        return line ? line->levelText(v >= 0.5) : v >= 0.5 ? QStringLiteral("ON") : QStringLiteral("OFF");
    if (line)
        return QString::number(v, 'f', line->decimals);
    return QString::number(v);
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
        // Pins are stacked so their step lines stay apart, each in its own lane.
        const double base = s.pin() ? 2.0 * s.lane : 0.0;
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
                const auto y = [&](int32_t v) { return s.line ? s.line->scaled(v) : double(v); };
                s.points.append(QPointF(x, y(b.min[c])));
                if (b.max[c] != b.min[c])
                    s.points.append(QPointF(x, y(b.max[c])));
            }
            first = false;
        }
    }
}

std::vector<int> TrendModel::units() const
{
    std::vector<int> out;
    for (const TrendSeries& s : m_series)
        if (std::find(out.begin(), out.end(), s.unit) == out.end())
            out.push_back(s.unit);
    return out;
}

namespace {

const QString CsvHead = QStringLiteral("日時,No.,RA0,RA1,RA2,RA3,RB0,RB1,RB2,RB3,RB4,RB5,RB6,RB7,温度\r\n");

// The CSV's header: a channel's column named by its tag and unit where every unit shown has
// the same ones, else by the channel (its values are still each unit's engineering values).
QString csvHead(const std::vector<int>& units, const ChannelTable& channels)
{
    QStringList head = CsvHead.trimmed().split(u',');
    for (int c = 0; c < ChannelTable::Channels; ++c) {
        std::optional<QString> caption;
        bool same = !units.empty();
        for (const int u : units) {
            const ChannelLine* l = channels.find(u, c);
            const QString mine = l ? l->caption() : head[2 + c];
            same = same && (!caption || *caption == mine);
            caption = mine;
        }
        if (same && caption)
            head[2 + c] = *caption;
    }
    return head.join(u',') + QStringLiteral("\r\n");
}

struct UnitLine {
    QString raw; // as the log holds it: "yyyy/MM/dd HH:mm:ss, v, v, ..."
    int unit = 0;
};

// The lines of the units from..to, each unit's at most maxLines (its oldest), in time order;
// a second's lines keep the units' order.
std::vector<UnitLine> mergedLines(const QString& workDir, const std::vector<int>& units, DataLog::Seconds from,
                                  DataLog::Seconds to, int maxLines, DataLog::Seconds now)
{
    std::vector<UnitLine> out;
    for (const int unit : units)
        for (QString& raw : DataLog::RawUnitLines(workDir, unit, from, to, maxLines, now))
            out.push_back({std::move(raw), unit});
    // The written time sorts as text: "yyyy/MM/dd HH:mm:ss".
    std::stable_sort(out.begin(), out.end(), [](const UnitLine& a, const UnitLine& b) {
        return QStringView(a.raw).left(19) < QStringView(b.raw).left(19);
    });
    return out;
}

// Each unit's channel lines by channel, looked up once for all the lines written.
struct CsvWords {
    explicit CsvWords(const ChannelTable& channels)
    {
        for (const ChannelLine& l : channels.lines()) {
            byUnit[size_t(l.unit)][size_t(l.channel)] = &l;
            any = true;
        }
    }
    std::array<std::array<const ChannelLine*, ChannelTable::Channels>, UnitSlots> byUnit{};
    bool any = false;
};

void appendCsvLine(QString& out, const UnitLine& l, const CsvWords& words)
{
    out += QStringView(l.raw).left(19);
    out += u',';
    out += QStringLiteral("%1").arg(l.unit, 3, 10, QLatin1Char('0'));
    const QString values = QString(l.raw.mid(19)).remove(u' ');
    const auto& lines = words.byUnit[size_t(std::clamp(l.unit, 0, 99))];
    if (std::all_of(lines.begin(), lines.end(), [](const ChannelLine* c) { return c == nullptr; })) {
        out += values;
    } else {
        // ",v,v,...": the fields after the time, each in the unit's words where it has a line.
        const QStringList fields = values.split(u',');
        for (int k = 1; k < fields.size(); ++k) {
            const ChannelLine* line = k - 1 < ChannelTable::Channels ? lines[size_t(k - 1)] : nullptr;
            bool ok = false;
            const int v = fields[k].toInt(&ok);
            out += u',';
            out += !line || !ok ? fields[k] : line->analogue() ? line->text(v) : line->levelText(v != 0);
        }
    }
    out += QStringLiteral("\r\n");
}

DataLog::Seconds lineTime(const UnitLine& l)
{
    return DataLog::toSeconds(QDateTime::fromString(l.raw.left(19), QStringLiteral("yyyy/MM/dd HH:mm:ss")));
}

} // namespace

TrendModel::CsvCopy TrendModel::csv(int maxLines, const ChannelTable& channels) const
{
    CsvCopy copy;
    copy.from = m_from;
    copy.to = m_to;
    maxLines = std::max(maxLines, 1);
    // The buckets count each unit's lines: from the newest back, the start that keeps the lines
    // of all units within the quota. The read below checks it (the buckets may be a step behind).
    std::map<DataLog::Seconds, int64_t> byStart;
    for (const auto& [unit, range] : m_ranges)
        for (const DataLog::Bucket& b : range.buckets)
            if (b.start + range.width > m_from && b.start <= m_to)
                byStart[b.start] += b.lines;
    int64_t total = 0;
    for (auto it = byStart.rbegin(); it != byStart.rend(); ++it) {
        if (total + it->second > maxLines) {
            // The start of the newest buckets that fit (the newest alone if even it does not).
            copy.from = std::max(m_from, it.base() == byStart.end() ? it->first : it.base()->first);
            copy.cut = true;
            break;
        }
        total += it->second;
    }
    std::vector<UnitLine> lines = mergedLines(m_workDir, units(), copy.from, m_to, maxLines + 1, m_now);
    if (int64_t(lines.size()) > maxLines) {
        // Too many after all: the newest whole seconds that fit, no second half kept.
        copy.cut = true;
        size_t first = lines.size() - size_t(maxLines);
        const QStringView boundary = QStringView(lines[first].raw).left(19);
        if (first > 0 && QStringView(lines[first - 1].raw).left(19) == boundary)
            while (first < lines.size() && QStringView(lines[first].raw).left(19) == boundary)
                ++first;
        lines.erase(lines.begin(), lines.begin() + qsizetype(first));
        copy.from = lines.empty() ? m_to : lineTime(lines.front());
    }
    copy.text = csvHead(units(), channels);
    copy.text.reserve(qsizetype(lines.size()) * 64 + copy.text.size());
    const CsvWords words(channels);
    for (const UnitLine& l : lines)
        appendCsvLine(copy.text, l, words);
    copy.lines = int64_t(lines.size());
    return copy;
}

QString TrendModel::WriteCsv(const QString& workDir, const std::vector<int>& units, const ChannelTable& channels,
                             DataLog::Seconds from, DataLog::Seconds to, DataLog::Seconds now, const QString& path,
                             CsvProgress& progress)
{
    // About 200,000 lines a slice, whatever the number of units: a unit logs a line a second.
    const DataLog::Seconds slice = std::clamp<DataLog::Seconds>(
        200000 / std::max<DataLog::Seconds>(1, DataLog::Seconds(units.size())), 600, 86400);
    const DataLog::Seconds span = std::max<DataLog::Seconds>(0, to - from) + 1;
    progress.total = int((span + slice - 1) / slice);
    progress.done = 0;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    bool written = file.write(TextFile::encode(csvHead(units, channels))) >= 0;
    const CsvWords words(channels);
    for (DataLog::Seconds a = from; written && a <= to; a += slice) {
        if (progress.cancel) {
            file.cancelWriting();
            return QStringLiteral("中止しました");
        }
        QString text;
        for (const UnitLine& l : mergedLines(workDir, units, a, std::min(to, a + slice - 1), INT_MAX, now))
            appendCsvLine(text, l, words);
        // The log's lines are ASCII; ON/OFF words may be Japanese.
        written = file.write(words.any ? TextFile::encode(text) : text.toLatin1()) >= 0;
        ++progress.done;
    }
    if (!written || !file.commit())
        return file.errorString();
    return QString();
}
