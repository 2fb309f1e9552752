// 日報 and 月報 figures from the data logs and the journal.

#include "shared/ReportFigures.h"

#include "shared/SysInf.h"
#include "shared/TableWords.h"
#include "platform/TextFile.h"

#include <QDir>
#include <algorithm>

namespace Report {

namespace {

using DataLog::Seconds;

constexpr int kSummaryVersion = 1;

Seconds dayStart(const QDate& d)
{
    return DataLog::toSeconds(QDateTime(d, QTime(0, 0)));
}

QDate dateOf(Seconds s)
{
    return QDate(1970, 1, 1).addDays(DataLog::DayOf(s));
}

// "YYYY/MM/DD HH:MM:SS" of a log time, without a time zone, as the log writes it.
QString stamp(Seconds s)
{
    const int64_t rest = ((s % 86400) + 86400) % 86400;
    return dateOf(s).toString(QStringLiteral("yyyy/MM/dd")) +
           QString::asprintf(" %02d:%02d:%02d", int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
}

int64_t overlap(const std::vector<Interval>& intervals, Seconds from, Seconds to)
{
    int64_t total = 0;
    for (const Interval& i : intervals)
        total += std::max<Seconds>(0, std::min(i.to, to) - std::max(i.from, from));
    return total;
}

bool inside(const std::vector<Interval>& intervals, Seconds t)
{
    return std::any_of(intervals.begin(), intervals.end(), [&](const Interval& i) { return t >= i.from && t < i.to; });
}

bool isPin(int c)
{
    return c >= DataLog::RB0;
}

// Folds a later period's figures of the same channels into p (the pins' switch between them too).
void fold(Period& p, const Period& later)
{
    p.recorded += later.recorded;
    for (int c = 0; c < Channels; ++c) {
        ChannelFigures& a = p.ch[c];
        const ChannelFigures& b = later.ch[c];
        if (b.n > 0 && (a.n == 0 || b.min < a.min)) {
            a.min = b.min;
            a.minTime = b.minTime;
        }
        if (b.n > 0 && (a.n == 0 || b.max > a.max)) {
            a.max = b.max;
            a.maxTime = b.maxTime;
        }
        a.sum += b.sum;
        a.n += b.n;
        a.on += b.on;
        a.switches += b.switches + (a.last >= 0 && b.first >= 0 && a.last != b.first ? 1 : 0);
        if (a.first < 0)
            a.first = b.first;
        if (b.last >= 0)
            a.last = b.last;
    }
    if (later.alarms > 0 && (p.alarms == 0 || later.firstAlarm < p.firstAlarm))
        p.firstAlarm = later.firstAlarm;
    p.alarms += later.alarms;
    p.givenUpSeconds += later.givenUpSeconds;
    p.stoppedSeconds += later.stoppedSeconds;
}

// The unit's figures over periods (in time order, adjoining), read from its logs in one pass; each
// period's switches are those inside it.
void summarise(const QString& workDir, int unit, const JournalFacts& facts, std::vector<Period>& periods)
{
    if (periods.empty())
        return;
    static const std::vector<Interval> none;
    const auto gu = facts.givenUp.find(unit);
    const std::vector<Interval>& givenUp = gu == facts.givenUp.end() ? none : gu->second;
    const auto ra = facts.raised.find(unit);
    for (Period& p : periods) {
        p.givenUpSeconds = overlap(givenUp, p.start, p.end);
        p.stoppedSeconds = overlap(facts.stopped, p.start, p.end);
        if (ra != facts.raised.end())
            for (Seconds t : ra->second)
                if (t >= p.start && t < p.end && p.alarms++ == 0)
                    p.firstAlarm = t;
    }
    size_t at = 0;
    DataLog::ForEachUnitLine(workDir, unit, periods.front().start, periods.back().end - 1, [&](const DataLog::Line& l) {
        if (inside(facts.stopped, l.time) || inside(givenUp, l.time))
            return;
        while (l.time >= periods[at].end)
            ++at;
        Period& p = periods[at];
        ++p.recorded;
        for (int c = 0; c < Channels; ++c) {
            ChannelFigures& f = p.ch[c];
            const int32_t v = l.values[c];
            if (f.n == 0 || v < f.min) {
                f.min = v;
                f.minTime = l.time;
            }
            if (f.n == 0 || v > f.max) {
                f.max = v;
                f.maxTime = l.time;
            }
            f.sum += v;
            ++f.n;
            const int level = v != 0 ? 1 : 0;
            f.on += level;
            if (f.last >= 0 && f.last != level)
                ++f.switches;
            if (f.first < 0)
                f.first = level;
            f.last = level;
        }
    });
}

// Periods summarised on their own count the switches inside each; the switch between the last
// line of one and the first line of a later one belongs to the later.
void linkPeriods(std::vector<Period>& periods)
{
    std::array<int, Channels> seen;
    seen.fill(-1);
    for (Period& p : periods)
        for (int c = 0; c < Channels; ++c) {
            ChannelFigures& f = p.ch[c];
            if (seen[c] >= 0 && f.first >= 0 && seen[c] != f.first)
                ++f.switches;
            if (f.last >= 0)
                seen[c] = f.last;
        }
}

// Daily summaries: one line per unit with the day's figures, in a small file per day.
QString summaryPath(const QString& workDir, const QDate& day)
{
    return QDir(workDir).filePath(QStringLiteral("reports/summaries/") + day.toString(QStringLiteral("yyyy-MM-dd")) +
                                  QStringLiteral(".csv"));
}

QString summaryLine(int unit, const Period& p)
{
    QStringList f{QString::number(unit),         QString::number(p.recorded),       QString::number(p.alarms),
                  QString::number(p.firstAlarm), QString::number(p.givenUpSeconds), QString::number(p.stoppedSeconds)};
    for (const ChannelFigures& c : p.ch)
        f << QString::number(c.n) << QString::number(c.sum, 'g', 17) << QString::number(c.min)
          << QString::number(c.minTime) << QString::number(c.max) << QString::number(c.maxTime) << QString::number(c.on)
          << QString::number(c.switches) << QString::number(c.first) << QString::number(c.last);
    return f.join(u',');
}

std::map<int, Period> readSummary(const QString& workDir, const QDate& day)
{
    std::map<int, Period> out;
    const auto lines = TextFile::readLines(summaryPath(workDir, day));
    if (!lines || lines->isEmpty() || lines->first() != QStringLiteral("v%1").arg(kSummaryVersion))
        return out;
    for (qsizetype i = 1; i < lines->size(); ++i) {
        const QStringList f = (*lines)[i].split(u',');
        if (f.size() != 6 + Channels * 10)
            return {}; // not ours: made again
        Period p;
        p.start = dayStart(day);
        p.end = p.start + 86400;
        p.recorded = f[1].toLongLong();
        p.alarms = f[2].toInt();
        p.firstAlarm = f[3].toLongLong();
        p.givenUpSeconds = f[4].toLongLong();
        p.stoppedSeconds = f[5].toLongLong();
        for (int c = 0; c < Channels; ++c) {
            const int b = 6 + c * 10;
            ChannelFigures& x = p.ch[c];
            x.n = f[b].toLongLong();
            x.sum = f[b + 1].toDouble();
            x.min = f[b + 2].toInt();
            x.minTime = f[b + 3].toLongLong();
            x.max = f[b + 4].toInt();
            x.maxTime = f[b + 5].toLongLong();
            x.on = f[b + 6].toLongLong();
            x.switches = f[b + 7].toLongLong();
            x.first = f[b + 8].toInt();
            x.last = f[b + 9].toInt();
        }
        out[f[0].toInt()] = p;
    }
    return out;
}

void writeSummary(const QString& workDir, const QDate& day, const std::map<int, Period>& units)
{
    QString text = QStringLiteral("v%1\r\n").arg(kSummaryVersion);
    for (const auto& [unit, p] : units)
        text += summaryLine(unit, p) + QStringLiteral("\r\n");
    QDir().mkpath(QFileInfo(summaryPath(workDir, day)).absolutePath());
    TextFile::writeWhole(summaryPath(workDir, day), text); // a summary not kept is made again next time
}

QString periodText(Kind kind, Seconds start)
{
    const QDate d = dateOf(start);
    return kind == Kind::Daily
               ? d.toString(QStringLiteral("yyyy/MM/dd")) + QString::asprintf(" %02d", int((start % 86400) / 3600))
               : d.toString(QStringLiteral("yyyy/MM/dd"));
}

QString channelName(int c)
{
    return isPin(c) ? QStringLiteral("RB%1").arg(c - DataLog::RB0) : QStringLiteral("RA%1").arg(c);
}

QString unitNumber(int unit)
{
    return QStringLiteral("%1").arg(unit, 3, 10, QLatin1Char('0'));
}

} // namespace

JournalFacts JournalFacts::From(const std::vector<JournalEntry>& journal)
{
    JournalFacts facts;
    const QString stopped = AlarmJournal::EventWord(JournalEvent::Stopped);
    const QString started = AlarmJournal::EventWord(JournalEvent::Started);
    const QString givenUp = AlarmJournal::EventWord(JournalEvent::GivenUp);
    const QString answering = AlarmJournal::EventWord(JournalEvent::Answering);
    const QString raised = AlarmJournal::EventWord(JournalEvent::Raised);
    constexpr Seconds running = INT64_MIN; // monitoring not stopped
    Seconds stopSince = running;
    std::map<int, Seconds> downSince;
    for (const JournalEntry& e : journal) {
        const Seconds t = DataLog::toSeconds(e.time);
        if (e.unit < 0) {
            if (e.event == stopped && stopSince == running) {
                stopSince = t;
                for (const auto& [unit, since] : downSince) // a stop ends every failure episode
                    facts.givenUp[unit].push_back({since, t});
                downSince.clear();
            } else if (e.event == started && stopSince != running) {
                facts.stopped.push_back({stopSince, t});
                stopSince = running;
            }
        } else if (e.event == givenUp) {
            downSince.emplace(e.unit, t);
        } else if (e.event == answering && downSince.count(e.unit)) {
            facts.givenUp[e.unit].push_back({downSince[e.unit], t});
            downSince.erase(e.unit);
        } else if (e.event == raised) {
            facts.raised[e.unit].push_back(t);
        }
    }
    constexpr Seconds open = INT64_MAX / 2; // still going on
    if (stopSince != running)
        facts.stopped.push_back({stopSince, open});
    for (const auto& [unit, since] : downSince)
        facts.givenUp[unit].push_back({since, open});
    return facts;
}

std::vector<Period> Periods(Kind kind, const QDate& date)
{
    std::vector<Period> out;
    if (kind == Kind::Daily) {
        const Seconds s = dayStart(date);
        for (int h = 0; h < 24; ++h)
            out.push_back(Period{s + h * 3600, s + (h + 1) * 3600});
    } else {
        const QDate first(date.year(), date.month(), 1);
        for (int d = 0; d < first.daysInMonth(); ++d)
            out.push_back(Period{dayStart(first.addDays(d)), dayStart(first.addDays(d + 1))});
    }
    return out;
}

std::vector<int> TableUnits(const SysInf& sys)
{
    std::vector<int> units;
    for (int row = 0; row < sys.unitCount(); ++row)
        if (sys.HoldsUnit(row))
            units.push_back(row);
    return units;
}

std::vector<UnitFigures> Make(const QString& workDir, const SysInf& sys, Kind kind, const QDate& date,
                              const std::vector<int>& units, const QDateTime& now,
                              const std::function<void(int, int)>& progress, const std::atomic<bool>* cancel)
{
    const JournalFacts facts =
        JournalFacts::From(AlarmJournal::Read(QDir(workDir).filePath(AlarmJournal::FileName), int64_t(64) << 20));
    const Seconds nowSeconds = DataLog::toSeconds(now);
    // A day is over, and its summary kept, once a few minutes of the next have gone.
    const auto over = [&](const QDate& day) { return dayStart(day) + 86400 + 300 <= nowSeconds; };
    std::vector<UnitFigures> out;
    std::map<QDate, std::map<int, Period>> kept; // daily summaries read or made
    std::map<QDate, bool> changed;
    int done = 0;
    for (int unit : units) {
        if (cancel && *cancel)
            break;
        UnitFigures u;
        u.unit = unit;
        u.name = sys.cell(unit, ColName);
        for (int c = 0; c < Channels; ++c) {
            const QString type = sys.cell(unit, (isPin(c) ? ColRB0 + c - DataLog::RB0 : ColRA0 + c)).trimmed();
            if (isPin(c) ? type == TableWord::Din || type == TableWord::Dout : type == TableWord::Ain)
                u.channels.push_back(c);
        }
        u.periods = Periods(kind, date);
        if (kind == Kind::Daily) {
            summarise(workDir, unit, facts, u.periods);
            Period day = u.periods.front();
            for (size_t i = 1; i < u.periods.size(); ++i)
                fold(day, u.periods[i]);
            day.end = u.periods.back().end;
            kept[date][unit] = day;
            changed[date] = true;
        } else {
            // A day's summary is that of the whole day on its own.
            for (Period& p : u.periods) {
                const QDate day = dateOf(p.start);
                if (!kept.count(day))
                    kept[day] = over(day) ? readSummary(workDir, day) : std::map<int, Period>{};
                auto& units = kept[day];
                if (!units.count(unit)) {
                    std::vector<Period> one{Period{p.start, p.end}};
                    summarise(workDir, unit, facts, one);
                    units[unit] = one.front();
                    changed[day] = true;
                }
                p = units[unit];
            }
        }
        linkPeriods(u.periods);
        out.push_back(std::move(u));
        if (progress)
            progress(++done, int(units.size()));
    }
    // Kept only for days that are over and when every unit of the table is in them.
    if (!(cancel && *cancel) && units == TableUnits(sys))
        for (const auto& [day, units] : kept)
            if (changed[day] && over(day))
                writeSummary(workDir, day, units);
    return out;
}

std::vector<QStringList> FiguresRows(const std::vector<UnitFigures>& figures, Kind kind)
{
    std::vector<QStringList> rows{{QStringLiteral("期間"), QStringLiteral("ユニット"), QStringLiteral("名称"),
                                   QStringLiteral("チャンネル"), QStringLiteral("最小"), QStringLiteral("最小時刻"),
                                   QStringLiteral("平均"), QStringLiteral("最大"), QStringLiteral("最大時刻"),
                                   QStringLiteral("ON秒数"), QStringLiteral("記録秒数")}};
    for (const UnitFigures& u : figures)
        for (const Period& p : u.periods)
            for (int c : u.channels) {
                const ChannelFigures& f = p.ch[c];
                QStringList row{periodText(kind, p.start), unitNumber(u.unit), u.name, channelName(c)};
                if (isPin(c))
                    row << QString() << QString() << QString() << QString() << QString() << QString::number(f.on);
                else if (f.n > 0)
                    row << QString::number(f.min) << stamp(f.minTime) << QString::number(f.sum / double(f.n), 'f', 2)
                        << QString::number(f.max) << stamp(f.maxTime) << QString();
                else
                    row << QString() << QString() << QString() << QString() << QString() << QString();
                rows.push_back(row << QString::number(p.recorded));
            }
    return rows;
}

std::vector<QStringList> EventsRows(const std::vector<UnitFigures>& figures, Kind kind)
{
    QStringList header{QStringLiteral("期間"), QStringLiteral("ユニット"), QStringLiteral("名称")};
    for (int pin = 0; pin < 8; ++pin)
        header << QStringLiteral("RB%1切替回数").arg(pin);
    header << QStringLiteral("アラーム回数") << QStringLiteral("最初のアラーム") << QStringLiteral("通信断分数")
           << QStringLiteral("監視停止分数") << QStringLiteral("記録秒数");
    std::vector<QStringList> rows{header};
    for (const UnitFigures& u : figures)
        for (const Period& p : u.periods) {
            QStringList row{periodText(kind, p.start), unitNumber(u.unit), u.name};
            for (int c = DataLog::RB0; c < Channels; ++c)
                row << (std::count(u.channels.begin(), u.channels.end(), c) ? QString::number(p.ch[c].switches)
                                                                            : QString());
            row << QString::number(p.alarms) << (p.alarms > 0 ? stamp(p.firstAlarm) : QString())
                << QString::number((p.givenUpSeconds + 30) / 60) << QString::number((p.stoppedSeconds + 30) / 60)
                << QString::number(p.recorded);
            rows.push_back(row);
        }
    return rows;
}

QString CsvText(const std::vector<QStringList>& rows)
{
    QString text;
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size(); ++i)
            text += (i > 0 ? QStringLiteral(",") : QString()) + AlarmJournal::CsvField(row[i]);
        text += QStringLiteral("\r\n");
    }
    return text;
}

QString FileName(Kind kind, const QDate& date, bool events)
{
    return (kind == Kind::Daily ? QStringLiteral("daily-") + date.toString(QStringLiteral("yyyy-MM-dd"))
                                : QStringLiteral("monthly-") + date.toString(QStringLiteral("yyyy-MM"))) +
           (events ? QStringLiteral("-events.csv") : QStringLiteral(".csv"));
}

Outcome WriteCsv(const QString& folder, Kind kind, const QDate& date, const std::vector<UnitFigures>& figures)
{
    for (const bool events : {false, true}) {
        const QString name = FileName(kind, date, events);
        QString error;
        if (!TextFile::writeWhole(QDir(folder).filePath(name),
                                  CsvText(events ? EventsRows(figures, kind) : FiguresRows(figures, kind)), &error))
            return Failed(Fault::SettingsFile, name + QStringLiteral(" に書き込めません: ") + error);
    }
    return {};
}

} // namespace Report
