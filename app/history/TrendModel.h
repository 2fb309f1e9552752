#pragma once
// What the trend window shows, without its widgets: the series chosen (one unit's thirteen
// channels, or up to four channels of different units), the period, and the points to draw,
// read through the data log reader at the chart's width and followed live.

#include "shared/AlarmJournal.h"
#include "shared/ChannelTable.h"
#include "shared/DataLogReader.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <atomic>
#include <map>
#include <vector>

struct TrendSeries {
    int unit = -1;
    int channel = 0;                 // a DataLog::Channel
    QString title;                   // "名称 RA0", or "名称 タグ名(単位)" where the channel table names it
    std::optional<ChannelLine> line; // the channel's words and scaling, when it has a line
    int lane = 0; // a pin's place in the stack, counted from the bottom: it runs between 2·lane and 2·lane + 1
    bool pin() const { return channel >= DataLog::RB0 && channel < DataLog::Temperature; }
    // The value axis the series is drawn on: one per unit text.
    QString axisTitle() const;
    // A reading as the operator reads it: scaled where the line says, pins in its words.
    QString valueText(double v) const;
    QList<QPointF> points; // x: milliseconds since the epoch; y: the value (pins stacked by lane)
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
    const QString& workDir() const { return m_workDir; }

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
    // The shown range's log lines of every unit shown as CSV with a header, in time order, at
    // most maxLines: when they are more, the newest whole seconds that fit are kept.
    struct CsvCopy {
        QString text;
        int64_t lines = 0;
        DataLog::Seconds from = 0, to = 0; // the seconds the text holds
        bool cut = false;                  // the range's older part did not fit
    };
    CsvCopy csv(int maxLines, const ChannelTable& channels) const;
    // Writes the log lines of units from..to to path as the copy's CSV (Shift-JIS), a slice of
    // time at a time, so a week of a hundred units needs no more memory than a slice. done
    // counts the slices written out of total; a set cancel ends it and leaves no file. Empty
    // when written, else what went wrong.
    struct CsvProgress {
        std::atomic<int> done{0}, total{0};
        std::atomic<bool> cancel{false};
    };
    // The channel table's lines of the units shown go into the CSV as engineering values and
    // words; the header names a column by its tag and unit where every unit shown agrees on them.
    static QString WriteCsv(const QString& workDir, const std::vector<int>& units, const ChannelTable& channels,
                            DataLog::Seconds from, DataLog::Seconds to, DataLog::Seconds now, const QString& path,
                            CsvProgress& progress);
    std::vector<int> units() const;
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
