#pragma once
// What the trend window shows, without its widgets: the series chosen (one unit's thirteen
// channels, or up to four channels of different units), the period, and the points to draw,
// read through the data log reader at the chart's width and followed live.

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
};

class TrendModel {
public:
    // The channel's name as the window lists it: RA0..RA3, 温度(℃), RB0..RB7.
    static QString ChannelName(int channel);

    explicit TrendModel(QString workDir) : m_workDir(std::move(workDir)) {}

    void setSeries(std::vector<TrendSeries> series);
    const std::vector<TrendSeries>& series() const { return m_series; }
    // Reads from..to into at most two points per column of each series.
    void load(DataLog::Seconds from, DataLog::Seconds to, int columns);
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

private:
    void rebuildPoints();

    QString m_workDir;
    std::vector<TrendSeries> m_series;
    std::map<int, DataLog::Range> m_ranges; // by unit
    DataLog::Seconds m_from = 0, m_to = 0;
    int m_columns = 600;
};
