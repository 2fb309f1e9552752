#pragma once
// The figures of 日報 (a day by hours) and 月報 (a month by days): per unit and period the
// minimum, mean and maximum of each analogue channel in use with their times, the seconds ON and
// the switches of each pin in use, the alarms raised, the time given up and stopped, and how many
// seconds had a line. Seconds in which the unit was given up or monitoring was stopped repeat held
// values: they count in no figure and not as recorded. A month is made from daily summaries kept
// under reports/summaries/ (made from the logs the first time a past day is needed).

#include "shared/AlarmJournal.h"
#include "shared/DataLogReader.h"
#include "shared/Outcome.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <map>
#include <vector>

class SysInf;

namespace Report {

enum class Kind { Daily, Monthly };
inline constexpr int Channels = 12; // RA0..RA3, RB0..RB7: a log line's first twelve values

struct Interval {
    DataLog::Seconds from = 0, to = 0; // from..to-1
};

// What the journal says: when monitoring was stopped, when each unit was given up, its alarms.
struct JournalFacts {
    std::vector<Interval> stopped;
    std::map<int, std::vector<Interval>> givenUp;
    std::map<int, std::vector<DataLog::Seconds>> raised;
    static JournalFacts From(const std::vector<JournalEntry>& journal);
};

struct ChannelFigures {
    int32_t min = 0, max = 0;
    DataLog::Seconds minTime = 0, maxTime = 0;
    double sum = 0;
    int64_t n = 0;
    int64_t on = 0, switches = 0;
    int first = -1, last = -1; // a pin's first and last level (a switch between two periods)
};

struct Period {
    DataLog::Seconds start = 0, end = 0; // start..end-1
    int64_t recorded = 0;
    std::array<ChannelFigures, Channels> ch{};
    int alarms = 0;
    DataLog::Seconds firstAlarm = 0;
    int64_t givenUpSeconds = 0, stoppedSeconds = 0;
};

struct UnitFigures {
    int unit = 0;
    QString name;
    std::vector<int> channels; // in use, in line order
    std::vector<Period> periods;
};

// The hours of a day or the days of a month.
std::vector<Period> Periods(Kind kind, const QDate& date);
// The units of the table that hold one, in row order.
std::vector<int> TableUnits(const SysInf& sys);

// Every unit's figures, a unit at a time; progress(done, total) after each. A month reads the
// daily summaries and makes (and keeps, for days that are over) those it lacks; a day keeps its
// own summary too. now decides which days are over.
std::vector<UnitFigures> Make(const QString& workDir, const SysInf& sys, Kind kind, const QDate& date,
                              const std::vector<int>& units, const QDateTime& now,
                              const std::function<void(int, int)>& progress = {},
                              const std::atomic<bool>* cancel = nullptr);

// The two files' rows, a header first: the channels' figures, and per unit and period the pins'
// switches, the alarms, the minutes given up and stopped (rounded to the nearest minute).
std::vector<QStringList> FiguresRows(const std::vector<UnitFigures>& figures, Kind kind);
std::vector<QStringList> EventsRows(const std::vector<UnitFigures>& figures, Kind kind);
// Rows as CSV a spreadsheet opens as they are (quoted where they must be, formulas guarded).
QString CsvText(const std::vector<QStringList>& rows);
// daily-YYYY-MM-DD.csv or monthly-YYYY-MM.csv, and the same with -events.
QString FileName(Kind kind, const QDate& date, bool events);
// Writes both files into folder (Shift-JIS, CR LF); a fault names the file.
Outcome WriteCsv(const QString& folder, Kind kind, const QDate& date, const std::vector<UnitFigures>& figures);

} // namespace Report
