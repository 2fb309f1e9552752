#pragma once
// What the trend window shows, without its widgets: the series chosen (one unit's thirteen
// channels, or up to four channels of different units), the period, and the points to draw,
// read through the data log reader at the chart's width and followed live.

#include "AlarmJournal.h"
#include "DataLogReader.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <map>
#include <vector>

struct TrendSeries {
    int unit = -1;
    int channel = 0; // a DataLog::Channel
    QString title;   // "名称 RA0"
    bool pin() const { return channel >= DataLog::RB0 && channel < DataLog::Temperature; }
    QList<QPointF> points; // x: milliseconds since the epoch; y: the value (pins stacked 0..7)
    QList<int> breaks;     // where a line starts again after seconds without a log line
};

// A period in which the log's lines are not readings: monitoring stopped, or a unit shown was
// given up (its lines repeat what it last sent). to is Open while the period goes on.
struct QuietPeriod {
    static constexpr DataLog::Seconds Open = INT64_MAX;
    DataLog::Seconds from = 0, to = 0;
};

class TrendModel {
public:
    // The channel's name as the window lists it: RA0..RA3, 温度(℃), RB0..RB7.
    static QString ChannelName(int channel);

    explicit TrendModel(QString workDir) : m_workDir(std::move(workDir)) {}

    void setSeries(std::vector<TrendSeries> series);
    const std::vector<TrendSeries>& series() const { return m_series; }
    // Reads from..to into at most two points per column of each series; a line later than now
    // plus a minute is out of order.
    void load(DataLog::Seconds from, DataLog::Seconds to, int columns, DataLog::Seconds now = DataLog::NoClock);
    // The range ends at now: the lines written since are added, older ones slide out.
    void follow(DataLog::Seconds now);
    // Moves the range without reading; the next load reads it.
    void setRange(DataLog::Seconds from, DataLog::Seconds to)
    {
        m_from = from;
        m_to = to;
    }
    DataLog::Seconds from() const { return m_from; }
    DataLog::Seconds to() const { return m_to; }
    int64_t lines() const;
    int64_t skipped() const;
    // The shown range's log lines as CSV with a header, at most maxLines; truncated tells.
    QString csv(int maxLines, bool* truncated = nullptr) const;
    // Milliseconds since the epoch for a log time (the station's local time zone).
    static qint64 toMs(DataLog::Seconds s);
    // The periods of the journal's entries that touch from..to, for the units given, in time
    // order and merged where they overlap.
    static std::vector<QuietPeriod> QuietPeriods(const std::vector<JournalEntry>& journal,
                                                 const std::vector<int>& units, DataLog::Seconds from,
                                                 DataLog::Seconds to);
    const std::vector<QuietPeriod>& quiet() const { return m_quiet; }

private:
    void rebuildPoints();
    // Reads the journal again when it has changed since.
    void readQuiet();

    QString m_workDir;
    std::vector<TrendSeries> m_series;
    std::map<int, DataLog::Range> m_ranges; // by unit
    DataLog::Seconds m_from = 0, m_to = 0;
    int m_columns = 600;
    DataLog::Seconds m_now = DataLog::NoClock;
    std::vector<QuietPeriod> m_quiet;
    qint64 m_journalSize = -1;
};
